#pragma once
// A throw-away certificate authority for TLS tests, generated when first
// asked for and written into a temporary folder that is removed at exit:
//   CaFile()     the CA certificate (PEM); point SSL_CERT_FILE at it so that
//                the upstream client trusts the test servers;
//   CertFile(), KeyFile()  a server certificate signed by it and its private
//                key (PEM). The certificate is valid for "127.0.0.1",
//                "localhost" and the test host names "*.example.test",
//                "*.2ch.net", "*.5ch.net", "*.bbspink.com" (reached only
//                through a FakeHttpServer acting as proxy).
// Nothing here ever leaves the machine.

#include <string>

namespace tav::test {

class TestCertificateAuthority {
 public:
  // The one authority of the test program (thread-safe to call).
  static const TestCertificateAuthority& Instance();

  const std::string& CaFile() const { return caFile_; }
  const std::string& CertFile() const { return certFile_; }
  const std::string& KeyFile() const { return keyFile_; }
  const std::string& Folder() const { return folder_; }

  TestCertificateAuthority(const TestCertificateAuthority&) = delete;
  TestCertificateAuthority& operator=(const TestCertificateAuthority&) = delete;
  ~TestCertificateAuthority();

 private:
  TestCertificateAuthority();

  std::string folder_;
  std::string caFile_;
  std::string certFile_;
  std::string keyFile_;
};

}  // namespace tav::test
