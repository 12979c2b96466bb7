// libFuzzer target: the Meta layout converter on any page.

#include <string>

#include "ConverterFuzzing.h"
#include "acquire/HtmlConverter.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  tav::fuzzing::ConverterInput input = tav::fuzzing::Prepare(data, size);
  input.call.lastPost = &input.lastPost;
  std::string out;
  const int result = tav::ConvertMetaPage(input.page, out, input.call, input.options);
  tav::fuzzing::Check(input, result, out);
  return 0;
}
