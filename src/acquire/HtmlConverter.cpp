#include "acquire/HtmlConverter.h"

#include <algorithm>
#include <optional>

#include "acquire/ClearPostConverter.h"
#include "acquire/HtmlText.h"
#include "platform/CBregOnig.h"
#include "config/SettingValues.h"

namespace tav {

HtmlConvertOptions HtmlConvertOptions::FromSettings(const SettingValues& cfg) {
  HtmlConvertOptions options;
  options.removeHalfSpace = cfg.HtmlRemoveHalfSpace != 0;
  options.fixBrBr = cfg.FixBRBR != 0;
  options.bePrimaryHost = cfg.Domains.BePrimary;
  options.beSecondaryHost = cfg.Domains.BeSecondary;
  return options;
}

namespace {

// Whether `text` holds every text a match of `pattern` needs. A set whose
// post pattern cannot match is passed over without running the engine: a
// failing search of the lazy post patterns over a one-line page costs far
// more than these scans.
bool MayMatch(std::string_view pattern, std::string_view text) {
  return html::ContainsAll(text, RequiredTexts(pattern));
}

// The number element all three marker layouts share, and what stands
// before it in each layout's marker.
constexpr std::string_view kNumberClass = "class=\"number\">";
constexpr std::string_view kDivBefore = "<div ";
constexpr std::string_view kDtSpanBefore = "<dt class=\"\"><span ";
constexpr std::string_view kMetaBefore = "<div class=\"meta\"><span ";

// The marker layout whose marker occurs anywhere in the page, div before
// dt-span before meta, from one pass over the number elements.
std::optional<ConverterKind> MarkedLayout(std::string_view page) {
  bool dtSpan = false;
  bool meta = false;
  for (std::size_t at = html::Find(page, kNumberClass); at != html::npos;
       at = html::Find(page, kNumberClass, at + 1)) {
    const std::string_view before = page.substr(0, at);
    if (html::EndsWith(before, kDivBefore)) return ConverterKind::kDiv;
    dtSpan = dtSpan || html::EndsWith(before, kDtSpanBefore);
    meta = meta || html::EndsWith(before, kMetaBefore);
  }
  if (dtSpan) return ConverterKind::kDtSpan;
  if (meta) return ConverterKind::kMeta;
  return std::nullopt;
}

}  // namespace

ConverterChoice ChooseConverter(std::string_view page, const SettingValues& cfg, const CBregOnig& engine) {
  if (cfg.BregexpMode != 0 && engine.Loaded()) {
    const std::string_view probe = page.substr(0, std::min(page.size(), kLayoutProbeLength));
    for (std::size_t i = 0; i < cfg.PatternSets.size(); ++i) {
      if (!MayMatch(cfg.PatternSets[i].res.Narrow(), probe)) continue;
      BRegexpHolder handle(engine);
      char message[kBregMessageSize];
      if (engine.BMatch(cfg.PatternSets[i].res.Narrow(), probe.data(), probe.data() + probe.size(), handle.Out(),
                        message) > 0) {
        return {ConverterKind::kPattern, static_cast<int>(i)};
      }
    }
  }
  if (const auto marked = MarkedLayout(page)) return {*marked, -1};
  if (ClearPostConverter::Recognises(page)) return {ConverterKind::kClearPost, -1};
  return {ConverterKind::kDl, -1};
}

int ConvertPage(const ConverterChoice& choice, std::string_view page, std::string& out, const ConvertCall& call,
                const SettingValues& cfg, const CBregOnig& engine) {
  const HtmlConvertOptions options = HtmlConvertOptions::FromSettings(cfg);
  switch (choice.kind) {
    case ConverterKind::kPattern:
      if (choice.patternSet >= 0 && static_cast<std::size_t>(choice.patternSet) < cfg.PatternSets.size()) {
        return ConvertPatternPage(page, out, call, options, cfg.PatternSets[static_cast<std::size_t>(choice.patternSet)],
                                  engine);
      }
      return ConvertDlPage(page, out, call, options);
    case ConverterKind::kDiv:
      return ConvertDivPage(page, out, call, options);
    case ConverterKind::kDtSpan:
      return ConvertDtSpanPage(page, out, call, options);
    case ConverterKind::kMeta:
      return ConvertMetaPage(page, out, call, options);
    case ConverterKind::kClearPost:
      return ClearPostConverter::Convert(page, out, call, options);
    case ConverterKind::kDl:
      break;
  }
  return ConvertDlPage(page, out, call, options);
}

}  // namespace tav
