// Any bytes a reader sends must parse or fail cleanly, and the request
// assembler must reach a verdict without reading past what it was given.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "net/CGateway.h"
#include "server/Dispatcher.h"
#include "server/RequestAssembler.h"
#include "net/RequestParser.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);

  tav::RequestAssembler assembler;
  for (std::size_t at = 0; at < text.size(); at += 4095) assembler.Append(text.substr(at, 4095));
  assembler.Check(false);
  assembler.Check(true);

  static const auto settings = std::make_shared<const tav::SettingValues>();
  for (bool absolute : {true, false}) {
    tav::Request request;
    if (tav::ParseRequestHeader(assembler.Text(), request, absolute) == 0) {
      tav::ClassifyRequest(*settings, request);
      tav::EffectiveMode(*settings, request);
    }
  }
  return 0;
}
