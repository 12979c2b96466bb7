// Where Wine or the bridge is missing, the reader's windows cannot be
// reached, and what is missing is named.

#include "platform/WineReaderWindows.h"

#include <gtest/gtest.h>

namespace tav {
namespace {

TEST(WineReaderWindows, NamesWhatIsMissing) {
  struct Case {
    const char* what;
    std::vector<std::string> wine;
    std::string bridge;
    std::string named;
  } cases[] = {
      {"no wine", {"tavrilox-no-such-wine"}, "/bin/true", "wine was not found"},
      {"no bridge", {"/bin/true"}, "/nonexistent/tavrilox-winebridge.exe",
       "the Wine bridge /nonexistent/tavrilox-winebridge.exe is missing"},
      {"a bridge that ends at once", {"/bin/true"}, "/bin/true", "the Wine bridge ended at its start"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    WineBridgeOptions options;
    options.wineCommand = c.wine;
    options.bridgeProgram = c.bridge;
    WineReaderWindows windows(options);
    EXPECT_NE(windows.Unavailable().find(c.named), std::string::npos) << windows.Unavailable();
    EXPECT_TRUE(windows.TopLevelWindows().empty());
    EXPECT_FALSE(windows.StartProgram(u"C:\\Jane\\Jane2ch.exe"));
  }
}

}  // namespace
}  // namespace tav
