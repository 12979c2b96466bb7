#include "net/SocketSend.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "support/ReaderSocketPair.h"

namespace tav {
namespace {

using namespace std::chrono_literals;

// Pieces sent as one stream arrive whole and in order, also when the socket
// fills up in the middle of a piece and when there are more pieces than one
// send takes.
TEST(SendPieces, EveryPieceArrivesInOrder) {
  const std::string big(6 * 1024 * 1024, 'b');
  const struct {
    const char* name;
    std::vector<std::string> pieces;
  } cases[] = {
      {"header and a body larger than the socket takes at once", {"HTTP/1.1 200 OK\r\n\r\n", big}},
      {"empty pieces around the text", {"", "head", "", big, ""}},
      {"more pieces than one send takes",
       {"1", "22", "333", "4444", "55555", "666666", "7777777", "88888888", "999999999", big}},
      {"nothing at all", {"", ""}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    test::ReaderSocketPair pair;
    pair.StartCollecting();
    std::vector<std::string_view> views(c.pieces.begin(), c.pieces.end());
    std::string expected;
    for (const auto& piece : c.pieces) expected += piece;

    std::size_t sent = 0;
    EXPECT_EQ(SendPieces(pair.ProxySide(), views, 5, &sent), SendOutcome::kSent);
    EXPECT_EQ(sent, expected.size());
    pair.CloseProxySide();
    EXPECT_EQ(pair.WaitForEnd(10s), expected);
  }
}

}  // namespace
}  // namespace tav
