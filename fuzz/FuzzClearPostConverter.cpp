// libFuzzer target: the "clear post" layout converter on any page, and the
// page conversion the route runs (converter choice and the no-post check).

#include <string>

#include "ConverterFuzzing.h"
#include "acquire/ClearPostConverter.h"
#include "acquire/PageConversion.h"
#include "config/SettingValues.h"
#include "platform/CBregOnig.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  tav::fuzzing::ConverterInput input = tav::fuzzing::Prepare(data, size);
  input.call.lastPost = &input.lastPost;
  std::string out;
  const int result = tav::ClearPostConverter::Convert(input.page, out, input.call, input.options);
  tav::fuzzing::Check(input, result, out);

  static const tav::SettingValues cfg = [] {
    tav::SettingValues values;
    values.BregexpMode = 0;
    return values;
  }();
  static const tav::CBregOnig engine(false);
  const tav::PageConversion conversion = tav::ConvertThreadPage(input.page, input.call, cfg, engine);
  tav::fuzzing::Check(input, conversion.result, conversion.text);
  if (conversion.result < 0 && !conversion.text.empty()) std::abort();
  return 0;
}
