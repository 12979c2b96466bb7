#pragma once
// The layout the boards serve today ("clear post"): every post is one
// element whose class is "clear post" (a <div> on the main boards, an
// <article> on the adult boards) holding a post header with the number, the
// name element, the date, the ID and the BE link, and a "post-content"
// element (<div> or <section>) holding the message. The title is the page's
// <title> (or its thread-title heading).

#include <string>
#include <string_view>

#include "acquire/ConvertOptions.h"
#include "acquire/DatLineWriter.h"
#include "acquire/HtmlText.h"

namespace tav {

class ClearPostConverter {
 public:
  // The text every post's start tag carries, by which the layout is known.
  static constexpr std::string_view kPostMarker = "class=\"clear post\"";

  static bool Recognises(std::string_view page) { return html::Contains(page, kPostMarker); }

  // Converts `page` as the other converters do: the result is the number of
  // lines counted or a negative code of ConvertOptions.h.
  static int Convert(std::string_view page, std::string& out, const ConvertCall& call,
                     const HtmlConvertOptions& options);

 private:
  ClearPostConverter(const HtmlConvertOptions& options, DatLineWriter& writer)
      : options_(options), writer_(writer) {}

  // Handles the post whose text (from its class marker up to the next
  // post's start tag) is `block`: 0, kEndOfPosts or a negative result.
  int HandlePost(std::string_view block, int* lastPost);
  void ReadNameAndMail(std::string_view element);
  void AppendBe(std::string_view header);
  void ShortenSpaces(std::string& text);

  const HtmlConvertOptions& options_;
  DatLineWriter& writer_;
  html::MessageCleaner cleaner_;
  std::string name_;
  std::string mail_;
  std::string date_;
  std::string closeTag_;
  std::string scratch_;
};

}  // namespace tav
