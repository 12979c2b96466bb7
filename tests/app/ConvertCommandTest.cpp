// `tavrilox --convert`: the program itself, run on saved pages.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "acquire/ConverterTestPages.h"
#include "app/CommandLine.h"
#include "platform/TextCodec.h"
#include "support/ChildProcess.h"
#include "support/FileBytes.h"
#include "support/TempDir.h"

namespace tav::test {
namespace {

using testpages::Layout;

struct ConvertCase {
  const char* what;
  std::string page;
  std::vector<std::string> extra;
  std::string dat;
  std::string report;
  int exitCode;
};

TEST(ConvertCommand, PrintsTheDatAndNamesTheConverter) {
  const std::string title = "今日のスレ";
  const std::string main = testpages::Page(Layout::kClearPost, title, testpages::TodaysPosts(5));
  const std::string adult = testpages::Page(Layout::kClearPostAdult, title, testpages::TodaysPosts(7));
  const std::string dat7 = testpages::TodaysDat(7, title);
  // The board's page of "5-": post 1, then posts 5 on.
  std::vector<testpages::Post> from5 = testpages::TodaysPosts(7);
  std::erase_if(from5, [](const testpages::Post& p) { return p.number > 1 && p.number < 5; });
  const std::vector<ConvertCase> cases = {
      {"main boards",
       main,
       {},
       testpages::TodaysDat(5, title),
       "converter: pattern set \"ver 07.7 clear post\", result: 5\n",
       0},
      {"adult boards", adult, {}, dat7, "converter: layout clear post, result: 7\n", 0},
      {"refresh after 5 cached posts",
       testpages::Page(Layout::kClearPostAdult, title, from5),
       {"--cached", "5"},
       dat7.substr(testpages::TodaysDat(5, title).size()),
       "converter: layout clear post, result: 2\n",
       0},
      {"error page",
       Sjis("<html><head><title>エラー</title></head><body></body></html>\n"),
       {},
       "",
       "converter: layout dl, result: -6\n",
       1},
  };
  TempDir dir;
  for (const ConvertCase& c : cases) {
    SCOPED_TRACE(c.what);
    WriteBytes(dir.File("page.html"), c.page);
    std::vector<std::string> argv = {TAVRILOX_BINARY, "--convert", dir.File("page.html"), "--ini",
                                     dir.File("none.ini")};
    argv.insert(argv.end(), c.extra.begin(), c.extra.end());
    ChildProcess program(argv);
    const std::size_t lines = static_cast<std::size_t>(std::count(c.dat.begin(), c.dat.end(), '\n'));
    std::string out;
    for (const std::string& line : program.StdoutLines(lines, 10000)) out += line + "\n";
    EXPECT_TRUE(program.WaitForStderr("\n", 10000));
    EXPECT_EQ(program.Wait(10000), c.exitCode);
    EXPECT_EQ(out, c.dat);
    EXPECT_EQ(program.Stderr(), c.report);
  }
}

TEST(ConvertCommand, Arguments) {
  const CommandLine options = CommandLine::Parse({"--convert", "page.html", "--cached", "12"});
  EXPECT_EQ(options.convertPage.value_or(""), "page.html");
  EXPECT_EQ(options.cachedCount, 12);
  EXPECT_EQ(CommandLine::Parse({"--convert", "p"}).cachedCount, -1);
  for (const std::vector<std::string>& bad : std::vector<std::vector<std::string>>{
           {"--convert"}, {"--cached"}, {"--cached", "x"}, {"--cached", "3x"}, {"--cached", "-2"}}) {
    EXPECT_FALSE(CommandLine::Parse(bad).error.empty()) << bad[0];
  }
}

}  // namespace
}  // namespace tav::test
