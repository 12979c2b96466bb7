#include "acquire/PageConversion.h"

#include <climits>

#include "config/SettingValues.h"
#include "platform/TextCodec.h"

namespace tav {
namespace {

// What the last-post out-parameter holds when no post was examined.
constexpr int kNoPostExamined = INT_MIN;

}  // namespace

PageConversion ConvertThreadPage(std::string_view page, const ConvertCall& call, const SettingValues& cfg,
                                 const CBregOnig& engine) {
  PageConversion conversion;
  conversion.choice = ChooseConverter(page, cfg, engine);
  int lastPost = kNoPostExamined;
  ConvertCall own = call;
  own.lastPost = &lastPost;
  conversion.result = ConvertPage(conversion.choice, page, conversion.text, own, cfg, engine);
  if (call.lastPost != nullptr && lastPost != kNoPostExamined) *call.lastPost = lastPost;
  if (conversion.result == 0 && (call.cachedCount < 1 || lastPost == kNoPostExamined)) {
    conversion.result = kConvertNoPost;
  }
  if (conversion.result < 0) conversion.text.clear();
  return conversion;
}

std::string DescribeConverter(const ConverterChoice& choice, const SettingValues& cfg) {
  switch (choice.kind) {
    case ConverterKind::kPattern:
      if (choice.patternSet >= 0 && static_cast<std::size_t>(choice.patternSet) < cfg.PatternSets.size()) {
        return "pattern set \"" +
               Utf16ToUtf8(cfg.PatternSets[static_cast<std::size_t>(choice.patternSet)].label) + "\"";
      }
      return "layout dl";
    case ConverterKind::kDiv:
      return "layout div";
    case ConverterKind::kDtSpan:
      return "layout dt-span";
    case ConverterKind::kMeta:
      return "layout meta";
    case ConverterKind::kClearPost:
      return "layout clear post";
    case ConverterKind::kDl:
      break;
  }
  return "layout dl";
}

}  // namespace tav
