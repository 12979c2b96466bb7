#include <gtest/gtest.h>

#include "server/RequestAssembler.h"

namespace tav {
namespace {

using Verdict = RequestAssembler::Verdict;

TEST(RequestAssembler, WaitsForTheBlankLineAndThePostBody) {
  RequestAssembler request;
  request.Append("GET / HTTP/1.1\r\nHost: a\r\n");
  EXPECT_EQ(request.Check(), Verdict::Incomplete);
  request.Append("\r\n");
  EXPECT_EQ(request.Check(), Verdict::Complete);

  RequestAssembler post;
  post.Append("POST /x HTTP/1.1\r\nContent-Length: 5\r\n\r\nab");
  EXPECT_EQ(post.Check(), Verdict::Incomplete);
  post.Append("cde");
  EXPECT_EQ(post.Check(), Verdict::Complete);
}

TEST(RequestAssembler, PostWithoutLengthEndsAtALineFeed) {
  RequestAssembler post;
  post.Append("POST /x HTTP/1.1\r\n\r\nbody");
  EXPECT_EQ(post.Check(), Verdict::Incomplete);
  post.Append("\x81\n");  // "\n" as the trail byte of a Shift_JIS character
  EXPECT_EQ(post.Check(), Verdict::Incomplete);
  post.Append("\n");
  EXPECT_EQ(post.Check(), Verdict::Complete);
}

TEST(RequestAssembler, CapsTheHeaderAtItsLimit) {
  RequestAssembler request;
  request.Append("GET /" + std::string(10000, 'a'));
  ASSERT_EQ(request.Check(), Verdict::Complete);
  EXPECT_EQ(request.Text().size(), 8191u);
  EXPECT_EQ(request.Text().substr(8187), "\r\n\r\n");
}

TEST(RequestAssembler, LongPostKeepsItsWholeBody) {
  std::string body(200000, 'x');
  RequestAssembler post;
  post.Append("POST /test/bbs.cgi HTTP/1.1\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n");
  for (std::size_t at = 0; at < body.size(); at += 4095) post.Append(body.substr(at, 4095));
  ASSERT_EQ(post.Check(), Verdict::Complete);
  EXPECT_EQ(post.Text().substr(post.Text().find("\r\n\r\n") + 4), body);
}

TEST(RequestAssembler, RefusesBodiesOverOneMebibyte) {
  RequestAssembler post;
  post.Append("POST /x HTTP/1.1\r\nContent-Length: 1048577\r\n\r\n");
  EXPECT_EQ(post.Check(), Verdict::BodyTooLarge);

  RequestAssembler open;
  open.Append("POST /x HTTP/1.1\r\n\r\n");
  open.Append(std::string(1048577, 'y'));
  EXPECT_EQ(open.Check(), Verdict::BodyTooLarge);
}

TEST(RequestAssembler, ConnectClosedByThePeerFallsBackToThePostRule) {
  RequestAssembler connect;
  connect.Append("CONNECT a:443 HTTP/1.1\r\n\r\n");
  EXPECT_TRUE(connect.IsConnect());
  EXPECT_EQ(connect.Check(false), Verdict::Complete);
  EXPECT_EQ(connect.Check(true), Verdict::Incomplete);
}

}  // namespace
}  // namespace tav
