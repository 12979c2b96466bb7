#pragma once
// Turning a thread's read.cgi page into dat text in one call: the converter
// choice, the conversion and the check that the page held posts at all. The
// HTML route and the command line's page check both go through here, so that
// a page is read the same way in either.

#include <string>
#include <string_view>

#include "acquire/ConvertOptions.h"
#include "acquire/HtmlConverter.h"

namespace tav {

class CBregOnig;
struct SettingValues;

struct PageConversion {
  ConverterChoice choice;
  // Lines counted, or a negative code of ConvertOptions.h.
  int result = 0;
  // The dat text; empty whenever result is negative.
  std::string text;
};

// Chooses the converter for `page` with `cfg` and converts it. When the
// converter read no post from the page (an error page, a layout none of the
// converters knows), the result is kConvertNoPost instead of an empty dat:
// with no cached count a result of 0 always means that; with a cached count
// (a refresh) it means it only when not a single post was examined, since a
// refresh without new posts legitimately counts none.
PageConversion ConvertThreadPage(std::string_view page, const ConvertCall& call, const SettingValues& cfg,
                                 const CBregOnig& engine);

// The converter a choice names, for people: the pattern set's label
// ("pattern set \"ver 07.0.0\"") or the built-in layout ("layout clear
// post"), in UTF-8.
std::string DescribeConverter(const ConverterChoice& choice, const SettingValues& cfg);

}  // namespace tav
