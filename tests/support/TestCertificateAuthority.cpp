#include "support/TestCertificateAuthority.h"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <stdexcept>

namespace tav::test {
namespace {

struct KeyDeleter {
  void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct CertDeleter {
  void operator()(X509* cert) const { X509_free(cert); }
};
using Key = std::unique_ptr<EVP_PKEY, KeyDeleter>;
using Cert = std::unique_ptr<X509, CertDeleter>;

void Require(bool ok, const char* what) {
  if (!ok) throw std::runtime_error(std::string("test CA: ") + what);
}

Key NewKey() {
  Key key(EVP_EC_gen("P-256"));
  Require(key != nullptr, "key generation");
  return key;
}

void AddExtension(X509* cert, X509* issuer, int nid, const char* value) {
  X509V3_CTX ctx;
  X509V3_set_ctx_nodb(&ctx);
  X509V3_set_ctx(&ctx, issuer, cert, nullptr, nullptr, 0);
  X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value);
  Require(extension != nullptr, "extension");
  X509_add_ext(cert, extension, -1);
  X509_EXTENSION_free(extension);
}

// A certificate for `subjectKey` named `commonName`, signed by `issuerKey`
// (the issuer certificate is null for the self-signed authority).
Cert NewCertificate(EVP_PKEY* subjectKey, const char* commonName, X509* issuer, EVP_PKEY* issuerKey, long serial) {
  Cert cert(X509_new());
  Require(cert != nullptr, "certificate");
  X509_set_version(cert.get(), 2);
  ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), serial);
  X509_gmtime_adj(X509_getm_notBefore(cert.get()), -3600);
  X509_gmtime_adj(X509_getm_notAfter(cert.get()), 7L * 24 * 3600);
  X509_set_pubkey(cert.get(), subjectKey);
  X509_NAME* name = X509_get_subject_name(cert.get());
  X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>(commonName), -1, -1, 0);
  X509_set_issuer_name(cert.get(), issuer != nullptr ? X509_get_subject_name(issuer) : name);
  X509* signer = issuer != nullptr ? issuer : cert.get();
  if (issuer == nullptr) {
    AddExtension(cert.get(), signer, NID_basic_constraints, "critical,CA:TRUE");
    AddExtension(cert.get(), signer, NID_key_usage, "critical,keyCertSign,cRLSign");
    AddExtension(cert.get(), signer, NID_subject_key_identifier, "hash");
  } else {
    AddExtension(cert.get(), signer, NID_basic_constraints, "critical,CA:FALSE");
    AddExtension(cert.get(), signer, NID_key_usage, "critical,digitalSignature");
    AddExtension(cert.get(), signer, NID_ext_key_usage, "serverAuth");
    AddExtension(cert.get(), signer, NID_subject_alt_name, "IP:127.0.0.1,DNS:localhost,DNS:*.example.test,DNS:*.2ch.net,DNS:*.5ch.net,DNS:*.5ch.io,DNS:*.bbspink.com");
  }
  Require(X509_sign(cert.get(), issuerKey, EVP_sha256()) > 0, "signing");
  return cert;
}

template <typename Write>
void WritePem(const std::string& path, Write write) {
  FILE* file = std::fopen(path.c_str(), "w");
  Require(file != nullptr, "writing a PEM file");
  const bool ok = write(file) == 1;
  std::fclose(file);
  Require(ok, "PEM encoding");
}

}  // namespace

const TestCertificateAuthority& TestCertificateAuthority::Instance() {
  static const TestCertificateAuthority authority;
  return authority;
}

TestCertificateAuthority::TestCertificateAuthority() {
  std::string pattern = (std::filesystem::temp_directory_path() / "tavrilox-ca-XXXXXX").string();
  Require(::mkdtemp(pattern.data()) != nullptr, "temporary folder");
  folder_ = pattern;
  caFile_ = folder_ + "/ca.pem";
  certFile_ = folder_ + "/server.pem";
  keyFile_ = folder_ + "/server.key";

  const Key caKey = NewKey();
  const Cert ca = NewCertificate(caKey.get(), "Tavrilox Test CA", nullptr, caKey.get(), 1);
  const Key serverKey = NewKey();
  const Cert server = NewCertificate(serverKey.get(), "127.0.0.1", ca.get(), caKey.get(), 2);
  WritePem(caFile_, [&](FILE* f) { return PEM_write_X509(f, ca.get()); });
  WritePem(certFile_, [&](FILE* f) { return PEM_write_X509(f, server.get()); });
  WritePem(keyFile_, [&](FILE* f) {
    return PEM_write_PrivateKey(f, serverKey.get(), nullptr, nullptr, 0, nullptr, nullptr);
  });
}

TestCertificateAuthority::~TestCertificateAuthority() {
  std::error_code ignored;
  std::filesystem::remove_all(folder_, ignored);
}

}  // namespace tav::test
