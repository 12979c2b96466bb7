#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "app/ConfigCheck.h"
#include "support/ChildProcess.h"
#include "support/TempDir.h"

namespace tav::test {
namespace {

// The report of CheckConfig on a file with `text`, and its result.
std::pair<ConfigCheckResult, std::string> Check(const TempDir& dir, const std::string& text) {
  std::string ini = dir.File("Tavrilox.ini");
  std::ofstream(ini) << text;
  char* buffer = nullptr;
  std::size_t size = 0;
  std::FILE* out = ::open_memstream(&buffer, &size);
  ConfigCheckResult result = CheckConfig(ini, out);
  std::fclose(out);
  std::string report(buffer, size);
  std::free(buffer);
  return {result, report};
}

std::size_t Count(const std::string& text, const std::string& piece) {
  std::size_t count = 0;
  for (std::size_t at = text.find(piece); at != std::string::npos; at = text.find(piece, at + 1)) ++count;
  return count;
}

TEST(ConfigCheck, TellsWhatAGoodFileDoesAndWarnsAboutAnOpenListener) {
  TempDir dir;
  auto [result, report] = Check(dir,
                                "[Setting]\nGatewayHost=0.0.0.0\nGatewayPort=8822\nDatMode=6\n"
                                "AllowFrom=127.0.0.1/32, 192.168.1.0/24\n"
                                "[AutoRule]\nCount=2\nRule00=#carpenter\nMode00=4\nRule01=*\nMode01=3\n");
  EXPECT_EQ(result, ConfigCheckResult::kOk) << report;
  EXPECT_NE(report.find("Listen address: 0.0.0.0:8822"), std::string::npos) << report;
  EXPECT_NE(report.find("\"#carpenter\" -> 4 JSON (JSON endpoint)"), std::string::npos) << report;
  EXPECT_NE(report.find("  ver 05.02.02\n"), std::string::npos) << "pattern sets by label\n" << report;
  EXPECT_EQ(Count(report, "error: "), 0u) << report;
  EXPECT_EQ(Count(report, "warning: "), 2u) << report;
  EXPECT_NE(report.find("warning: the listen address 0.0.0.0 is reachable from other machines; readers from "
                        "127.0.0.1/32, 192.168.1.0/24"),
            std::string::npos)
      << report;
  EXPECT_NE(report.find("warning: [AutoRule] Mode1=3"), std::string::npos) << report;
}

TEST(ConfigCheck, NamesEveryErrorOfABrokenFileAndFails) {
  TempDir dir;
  const std::string broken =
      "[Setting]\nGatewayHost=127.0.0.1 8822\nAllowFrom=127.0.0.1, 10.0.0.0/40\n"
      "[Domain]\nSecondary=5ch.io\n"
      "[Bregexp]\nVer=1\nMode=1\nCount=1\nRule00=broken\nRes00=/<dt>(\\d+/\n";
  auto [result, report] = Check(dir, broken);
  EXPECT_EQ(result, ConfigCheckResult::kErrors);
  EXPECT_EQ(Count(report, "error: "), 4u) << report;
  for (const char* line : {"error: [Setting] GatewayHost=127.0.0.1 8822: not an IPv4 address or a host name",
                           "error: [Setting] AllowFrom: \"10.0.0.0/40\"", "error: [Domain] Secondary=5ch.io",
                           "error: pattern set \"broken\", Res /<dt>(\\d+/: does not compile"}) {
    EXPECT_NE(report.find(line), std::string::npos) << line << "\n" << report;
  }

  ChildProcess program({TAVRILOX_BINARY, "--check-config", "--ini", dir.File("Tavrilox.ini")});
  EXPECT_EQ(program.Wait(10000), static_cast<int>(ConfigCheckResult::kErrors));
  ChildProcess missing({TAVRILOX_BINARY, "--check-config", "--ini", dir.File("none.ini")});
  EXPECT_EQ(missing.Wait(10000), static_cast<int>(ConfigCheckResult::kNoFile));
}

}  // namespace
}  // namespace tav::test
