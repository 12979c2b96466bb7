#include <gtest/gtest.h>

#include "net/RequestParser.h"

namespace tav {
namespace {

Request Parse(std::string_view text, bool absolute = true, int* rc = nullptr) {
  Request header;
  int result = ParseRequestHeader(text, header, absolute);
  if (rc != nullptr) *rc = result;
  return header;
}

TEST(HeaderNumber, FollowsTheNumberRule) {
  EXPECT_EQ(ParseHeaderNumber("   \t 123abc"), 123);
  EXPECT_EQ(ParseHeaderNumber("0x1F"), 31);
  EXPECT_EQ(ParseHeaderNumber(" 0xfF"), 255);
  EXPECT_EQ(ParseHeaderNumber("-42"), -42);
  EXPECT_EQ(ParseHeaderNumber("+7-"), 7);
  EXPECT_EQ(ParseHeaderNumber("0X10"), 0);  // only a lower-case x starts hexadecimal
  EXPECT_EQ(ParseHeaderNumber(""), 0);
  EXPECT_EQ(ParseHeaderNumber("99999999999"), static_cast<std::int32_t>(99999999999LL & 0xFFFFFFFF));
}

TEST(SjisSearch, NeverMatchesATrailByte) {
  // 0x83 0x5C is "ソ": its trail byte is a backslash, and 0x81 0x40 a space.
  std::string text = "\x83\x5C\x81\x40 x";
  EXPECT_EQ(FindSjisChar(text, '\\'), std::nullopt);
  EXPECT_EQ(FindSjisChar(text, ' '), 4u);
  EXPECT_EQ(FindSjisChar("a/b/c", '/', true), 3u);
  EXPECT_EQ(FindSjisChar(std::string("ab\0/", 4), '/'), std::nullopt);  // stops at NUL
}

TEST(ParseRequest, AbsoluteTargetsBecomeTheirPath) {
  auto header = Parse("GET http://egg.2ch.net/test/dat/123.dat HTTP/1.1\r\nHost: egg.2ch.net\r\n\r\n");
  EXPECT_EQ(header.method, Method::Get);
  EXPECT_EQ(header.target, "/test/dat/123.dat");
  EXPECT_EQ(header.host, "egg.2ch.net");
  EXPECT_FALSE(header.httpsTarget);

  header = Parse("GET https://egg.5ch.net:443/applism/dat/1.dat HTTP/1.1\r\nHost: egg.5ch.net:443\r\n\r\n");
  EXPECT_EQ(header.target, "/applism/dat/1.dat");
  EXPECT_EQ(header.host, "egg.5ch.net");
  EXPECT_TRUE(header.httpsTarget);

  header = Parse("GET http://a.2ch.net/x HTTP/1.1\r\nHost: a.2ch.net\r\n\r\n", false);
  EXPECT_EQ(header.target, "http://a.2ch.net/x");
}

TEST(ParseRequest, RefusesWhatItCannotServe) {
  int rc = 0;
  Parse("GET /x HTTP/1.1\r\nHost: a\r\n", true, &rc);
  EXPECT_EQ(rc, -1) << "no blank line";
  Parse("FETCH /x HTTP/1.1\r\n\r\n", true, &rc);
  EXPECT_EQ(rc, -1) << "unknown method";
  Parse("GET /x\r\n\r\n", true, &rc);
  EXPECT_EQ(rc, -1) << "a single space";
  Parse("GET http://host.only HTTP/1.1\r\n\r\n", true, &rc);
  EXPECT_EQ(rc, -1) << "absolute target without a path";
  Parse("GET nopath HTTP/1.1\r\n\r\n", true, &rc);
  EXPECT_EQ(rc, -1);
  Parse("get /x HTTP/1.1\r\n\r\n", true, &rc);
  EXPECT_EQ(rc, -1) << "method names are case-sensitive";
}

TEST(ParseRequest, RefusesHeadersWithAmbiguousFraming) {
  const std::string head = "POST http://h.test/f HTTP/1.1\r\nHost: h.test\r\n";
  const std::pair<std::string, int> rows[] = {
      {"Content-Length: 3\r\nTransfer-Encoding: chunked\r\n", -1},
      {"transfer-encoding: chunked\r\ncontent-length: 3\r\n", -1},
      {"X-A: 1\rX-B: 2\r\n", -1},
      {"Content-Length: 3\r\n", 0},
      {"Transfer-Encoding: chunked\r\n", 0},
  };
  for (const auto& [fields, expected] : rows) {
    Request header;
    EXPECT_EQ(ParseRequestHeader(head + fields + "\r\nabc", header, true), expected) << fields;
  }
}

TEST(ParseRequest, ConnectTargetsNeedAPort) {
  int rc = -1;
  auto header = Parse("CONNECT example.com:443 HTTP/1.1\r\nHost: example.com:443\r\n\r\n", true, &rc);
  EXPECT_EQ(rc, 0);
  EXPECT_EQ(header.target, "example.com:443");
  Parse("CONNECT example.com:8443 HTTP/1.1\r\n\r\n", true, &rc);
  EXPECT_EQ(rc, 0);
  Parse("CONNECT example.com HTTP/1.1\r\n\r\n", true, &rc);
  EXPECT_EQ(rc, -1);
  Parse("GET example.com:8443 HTTP/1.1\r\n\r\n", true, &rc);
  EXPECT_EQ(rc, -1) << "host:port is a CONNECT form only";
}

TEST(ParseRequest, ReadsHeaderFieldsAsFound) {
  auto header = Parse(
      "GET /a/dat/1.dat HTTP/1.1\r\nHost: a.2ch.net\r\nUser-Agent: Monazilla/1.00\r\n"
      "Range: bytes=100-\r\nIf-Modified-Since: Sat, 01 Jan 2000 00:00:00 GMT\r\n"
      "Connection: close\r\nAccept-Encoding: gzip\r\nCookie: a=b\r\n\r\n");
  EXPECT_EQ(header.userAgent, "Monazilla/1.00");
  EXPECT_EQ(header.rangeStart, 100);
  EXPECT_EQ(header.ifModifiedSince, "Sat, 01 Jan 2000 00:00:00 GMT");
  EXPECT_TRUE(header.close);
  EXPECT_TRUE(header.acceptsGzip);
  EXPECT_EQ(header.cookie, "a=b");

  header = Parse("GET /x HTTP/1.1\r\nRange: bytes=100\r\nhost: lower\r\n\r\n");
  EXPECT_EQ(header.rangeStart, -1) << "no '-' after the start";
  EXPECT_EQ(header.host, "") << "field names are case-sensitive";

  // A field only inside the body is still found: the search covers the text.
  header = Parse("POST /x HTTP/1.1\r\nContent-Length: 14\r\n\r\nHost: in.body");
  EXPECT_EQ(header.host, "in.body");
}

TEST(ParseRequest, RangeStartIsTheNumberBeforeTheDash) {
  const struct {
    const char* value;
    std::int32_t start;
  } rows[] = {
      {"100-", 100},          {"-500", 0},  {"abc-", 0},   {"1-2,5-6", 1}, {" 7-", 7},
      {"2147483647-", 2147483647}, {"2147483648-", -1}, {"99999999999999999999-", -1}, {"100", -1},
  };
  for (const auto& row : rows) {
    auto header = Parse(std::string("GET /x HTTP/1.1\r\nRange: bytes=") + row.value + "\r\n\r\n");
    EXPECT_EQ(header.rangeStart, row.start) << row.value;
  }
}

TEST(ParseRequest, BodyNeverTakesMoreThanWasReceived) {
  auto header = Parse("POST /x HTTP/1.1\r\nContent-Length:     0x5\r\n\r\nabcdefgh");
  EXPECT_EQ(header.contentLength, 5);
  EXPECT_EQ(header.body, "abcde");

  header = Parse("POST /x HTTP/1.1\r\nContent-Length: 100\r\n\r\nabc");
  EXPECT_EQ(header.body, "abc");

  header = Parse(std::string_view("POST /x HTTP/1.1\r\n\r\na\0b", 23));
  EXPECT_EQ(header.contentLength, 3);
  EXPECT_EQ(header.body, std::string("a\0b", 3));
}

// The one reading of a thread address, from a table of paths.
TEST(ParseRequest, ReadsTheThreadAPathNames) {
  struct Case {
    const char* host;
    const char* path;
    ThreadKind kind;
    const char* server;
    const char* board;
    const char* key;
  };
  const Case cases[] = {
      {"egg.5ch.io", "/news/dat/1234567890.dat", ThreadKind::Dat, "egg", "news", "1234567890"},
      {"egg.5ch.io:80", "/news/dat/1234567890.dat.gz", ThreadKind::Dat, "egg", "news", "1234567890"},
      {"egg.5ch.io", "/news/kako/1234/12345/1234567890.dat", ThreadKind::Kako, "egg", "news", "1234567890"},
      {"egg.5ch.io", "/news/kako/1234/12345/1234567890.html", ThreadKind::Kako, "egg", "news", "1234567890"},
      {"egg.5ch.io", "/news/subject.txt", ThreadKind::Subject, "egg", "news", ""},
      {"egg.5ch.io", "/test/read.cgi/news/1234567890/", ThreadKind::None, "", "", ""},
      {"localhost", "/a/dat/.dat", ThreadKind::Dat, "localhost", "a", ""},
  };
  for (const Case& c : cases) {
    const Request request =
        Parse("GET http://" + std::string(c.host) + c.path + " HTTP/1.1\r\nHost: " + c.host + "\r\n\r\n");
    EXPECT_EQ(request.thread.kind, c.kind) << c.path;
    EXPECT_EQ(request.thread.server, c.server) << c.path;
    EXPECT_EQ(request.thread.board, c.board) << c.path;
    EXPECT_EQ(request.thread.key, c.key) << c.path;
  }
}

}  // namespace
}  // namespace tav
