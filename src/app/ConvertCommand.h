#pragma once
// `tavrilox --convert PAGE [--cached M]`: converts a saved read.cgi page the
// way the HTML route would, for checking a page after the boards change.

#include <string>

namespace tav {

class CBregOnig;
struct SettingValues;

struct ConvertCommandOutput {
  std::string dat;     // for standard output: the dat bytes (Shift_JIS), empty on failure
  std::string report;  // for standard error: one line naming the converter and the result
  int exitCode = 0;    // 0 when the page converted, 1 when the conversion failed, 2 when unreadable
};

ConvertCommandOutput RunConvertCommand(const std::string& pagePath, int cachedCount, const SettingValues& cfg,
                                       const CBregOnig& engine);

}  // namespace tav
