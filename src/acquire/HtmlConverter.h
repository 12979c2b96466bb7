#pragma once
// Converters from a thread's read.cgi page (Shift_JIS) to dat text, one per
// layout the board has served, plus the one driven by a regular-expression
// pattern set; and the choice among them.
//
// Every converter clears `out` and fills it with dat lines; the result is
// the number of lines counted (see ConvertCall) or a negative code of
// ConvertOptions.h, in which case the caller discards the output. The output
// never grows past the page's length plus 65,535 bytes.

#include <string>
#include <string_view>

#include "acquire/ConvertOptions.h"

namespace tav {

class CBregOnig;
struct CRegexpPatternInfo;
struct SettingValues;

// Layout of "<div class="number">" pages.
int ConvertDivPage(std::string_view page, std::string& out, const ConvertCall& call,
                   const HtmlConvertOptions& options);
// Layout of "<dt class=""><span class="number">" pages.
int ConvertDtSpanPage(std::string_view page, std::string& out, const ConvertCall& call,
                      const HtmlConvertOptions& options);
// Layout of "<div class="meta"><span class="number">" pages.
int ConvertMetaPage(std::string_view page, std::string& out, const ConvertCall& call,
                    const HtmlConvertOptions& options);
// The oldest layout, one "<dt>" line per post.
int ConvertDlPage(std::string_view page, std::string& out, const ConvertCall& call,
                  const HtmlConvertOptions& options);
// A layout described by a pattern set.
int ConvertPatternPage(std::string_view page, std::string& out, const ConvertCall& call,
                       const HtmlConvertOptions& options, const CRegexpPatternInfo& set, const CBregOnig& engine);

enum class ConverterKind { kPattern, kDiv, kDtSpan, kMeta, kClearPost, kDl };

struct ConverterChoice {
  ConverterKind kind = ConverterKind::kDl;
  int patternSet = -1;  // index into the settings' pattern sets for kPattern
};

// Bytes of the page start a pattern set's post pattern is tried on.
inline constexpr std::size_t kLayoutProbeLength = 32768;

// The converter for `page`: with regex mode on and the engine loaded, the
// first pattern set whose post pattern matches the page's start; otherwise
// by the layout's markers; the dl converter when nothing else fits.
ConverterChoice ChooseConverter(std::string_view page, const SettingValues& cfg, const CBregOnig& engine);

// Runs the chosen converter with the options of `cfg`. Pass the same
// settings snapshot that made the choice: the pattern set is taken from it
// by index (an index it does not have falls back to the dl converter), so a
// set list replaced meanwhile is never seen half-way.
int ConvertPage(const ConverterChoice& choice, std::string_view page, std::string& out, const ConvertCall& call,
                const SettingValues& cfg, const CBregOnig& engine);

}  // namespace tav
