// libFuzzer target: the layout choice and the pattern converter with the
// default sets and with sets whose post patterns match empty text or yield
// the wrong number of groups.

#include <string>
#include <vector>

#include "ConverterFuzzing.h"
#include "acquire/HtmlConverter.h"
#include "config/PatternSets.h"
#include "platform/CBregOnig.h"
#include "config/SettingValues.h"

namespace {

const tav::SettingValues& Settings() {
  static const tav::SettingValues cfg = [] {
    tav::SettingValues values;
    tav::FillDefaultPatternSets(values.PatternSets);
    tav::CRegexpPatternInfo empty = values.PatternSets[1];
    empty.res = tav::CDoubleString::FromUtf8("/(\\d*)()()(<?)/");
    values.PatternSets.push_back(empty);
    tav::CRegexpPatternInfo three = values.PatternSets[1];
    three.res = tav::CDoubleString::FromUtf8("/<b>(\\d+)<\\/b>(.*?)<i>(.*?)<\\/i>/");
    values.PatternSets.push_back(three);
    return values;
  }();
  return cfg;
}

const tav::CBregOnig& Engine() {
  static const tav::CBregOnig engine(true);
  return engine;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  tav::fuzzing::ConverterInput input = tav::fuzzing::Prepare(data, size);
  input.call.lastPost = &input.lastPost;
  const tav::SettingValues& cfg = Settings();
  std::string out;
  const tav::ConverterChoice choice = tav::ChooseConverter(input.page, cfg, Engine());
  tav::fuzzing::Check(input, tav::ConvertPage(choice, input.page, out, input.call, cfg, Engine()), out);
  const std::size_t set = size > 0 ? data[0] % cfg.PatternSets.size() : 0;
  const int result =
      tav::ConvertPatternPage(input.page, out, input.call, input.options, cfg.PatternSets[set], Engine());
  tav::fuzzing::Check(input, result, out);
  return 0;
}
