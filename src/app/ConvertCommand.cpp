#include "app/ConvertCommand.h"

#include <fstream>
#include <iterator>

#include "acquire/PageConversion.h"
#include "config/SettingValues.h"

namespace tav {

ConvertCommandOutput RunConvertCommand(const std::string& pagePath, int cachedCount, const SettingValues& cfg,
                                       const CBregOnig& engine) {
  ConvertCommandOutput output;
  std::ifstream in(pagePath, std::ios::binary);
  if (!in) {
    output.report = "tavrilox: cannot read " + pagePath + "\n";
    output.exitCode = 2;
    return output;
  }
  const std::string page((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ConvertCall call;
  call.cachedCount = cachedCount;
  PageConversion conversion = ConvertThreadPage(page, call, cfg, engine);
  output.report = "converter: " + DescribeConverter(conversion.choice, cfg) +
                  ", result: " + std::to_string(conversion.result) + "\n";
  output.dat = std::move(conversion.text);
  output.exitCode = conversion.result < 0 ? 1 : 0;
  return output;
}

}  // namespace tav
