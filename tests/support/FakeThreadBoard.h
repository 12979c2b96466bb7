#pragma once
// One thread on a fake board, as the FTP-bug scan sees it: the board's
// subject.txt and the thread's read.cgi pages for a post ("3"), a range
// ("3-4") and the last post ("l1"). A page that would hold a broken post is
// answered "520 Origin Error". Hand Handler() to a FakeHttpServer that the
// code under test uses as its upstream proxy.

#include <chrono>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "acquire/ConverterTestPages.h"
#include "platform/TextCodec.h"
#include "support/FakeHttpServer.h"

namespace tav::test {

struct FakeThreadBoard {
  std::string board = "applism";
  std::string key = "1517988732";
  int posts = 6;
  std::set<int> broken;  // posts that break every page holding them
  bool listed = true;    // subject.txt names the thread with its count
  bool exists = true;    // false: every page says the thread is gone
  testpages::Layout layout = testpages::Layout::kDiv;
  // Runs before a read.cgi page is answered, with its range; may hold the
  // answer back (it runs on the server's connection thread).
  std::function<void(const std::string& range)> beforePage;

  // The page part of a request's target after the thread's path ("1-2",
  // "3", "l1"), "subject.txt" for the thread list, "" otherwise.
  std::string RangeOf(const ReceivedRequest& request) const {
    const std::string thread = "/test/read.cgi/" + board + "/" + key + "/";
    if (std::size_t at = request.target.find(thread); at != std::string::npos) {
      return request.target.substr(at + thread.size());
    }
    if (request.target.ends_with("/" + board + "/subject.txt")) return "subject.txt";
    return {};
  }

  // RangeOf every request the server received, in order.
  std::vector<std::string> Ranges(const FakeHttpServer& server) const {
    std::vector<std::string> ranges;
    for (const ReceivedRequest& request : server.Requests()) ranges.push_back(RangeOf(request));
    return ranges;
  }

  FakeHttpServer::Handler Handler() const {
    return [this](const ReceivedRequest& request) { return Answer(request); };
  }

  ScriptedResponse Answer(const ReceivedRequest& request) const {
    const std::string range = RangeOf(request);
    if (range == "subject.txt") {
      std::string list = "1000000001.dat<>" + Sjis("別のスレ") + " (12)\n";
      if (listed) list += key + ".dat<>" + Sjis("テスト (笑)") + " (" + std::to_string(posts) + ")\n";
      return ScriptedResponse::Ok(list + "1000000002.dat<>last (3)\n");
    }
    if (range.empty()) return ScriptedResponse::Status(404, "Not Found");
    if (beforePage) beforePage(range);
    if (!exists) {
      return ScriptedResponse::Ok(
          Sjis("<html><body><div>>datが存在しません。削除されたかURL間違ってますよ。</div></body></html>\n"),
          "text/html");
    }
    int first = posts;
    int last = posts;
    if (range != "l1") {
      std::size_t dash = range.find('-');
      first = std::stoi(range.substr(0, dash));
      last = dash == std::string::npos ? first : std::stoi(range.substr(dash + 1));
    }
    std::vector<testpages::Post> shown = testpages::Numbered({1});
    for (int n = std::max(first, 2); n <= std::min(last, posts); ++n) {
      if (broken.count(n) != 0) return ScriptedResponse::Status(520, "Origin Error", {}, "error code: 520");
      shown.push_back(testpages::Numbered({n})[0]);
    }
    if (first == 1 && broken.count(1) != 0)
      return ScriptedResponse::Status(520, "Origin Error", {}, "error code: 520");
    return ScriptedResponse::Ok(testpages::Page(layout, "テスト", shown), "text/html");
  }
};

}  // namespace tav::test
