#pragma once
// Small read.cgi pages in each layout the converters know, built from a
// list of posts. Texts are written in UTF-8 here; Page() returns the
// Shift_JIS bytes the board would send.

#include <string>
#include <vector>

#include "acquire/HtmlConverter.h"
#include "platform/CBregOnig.h"
#include "platform/TextCodec.h"
#include "config/SettingValues.h"

namespace tav::testpages {

struct Post {
  int number = 1;
  std::string name = "名無しさん";
  std::string mail;  // empty: no mailto link
  std::string date = "2016/01/01(金) 00:00:00.00";
  std::string id = "ID:abcd1234";  // meta layout's separate ID
  std::string be;                  // the BE element's link, empty for none
  std::string message = " 本文です <br> 二行目 ";
};

enum class Layout { kDiv, kDtSpan, kMeta, kMetaWithoutId, kDl };

inline std::string DivPost(const Post& p) {
  std::string name = p.mail.empty() ? "<b>" + p.name + "</b>"
                                    : "<b><a href=\"mailto:" + p.mail + "\">" + p.name + "</a></b>";
  std::string s = "<div class=\"post\" id=\"" + std::to_string(p.number) + "\" data-date=\"NG\" data-userid=\"" + p.id +
                  "\" data-id=\"" + std::to_string(p.number) + "\"><div class=\"number\">" +
                  std::to_string(p.number) + " : </div><div class=\"name\">" + name + "</div><div class=\"date\">" +
                  p.date + "</div>";
  if (!p.be.empty()) s += "<div class=\"be r2BP\">" + p.be + "</div>";
  s += "<div class=\"message\">" + p.message + "</div></div>";
  return s;
}

inline std::string DtSpanPost(const Post& p) {
  std::string name = p.mail.empty() ? "<b><font color=\"green\">" + p.name + "</font></b>"
                                    : "<b><a href=\"mailto:" + p.mail + "\">" + p.name + "</a></b>";
  std::string s = "<dl class=\"post\" id=\"" + std::to_string(p.number) + "\" data-date=\"NG\" data-id=\"" +
                  std::to_string(p.number) + "\"><dt class=\"\"><span class=\"number\">" +
                  std::to_string(p.number) + " : </span><span class=\"name\">" + name +
                  "</span><span class=\"date\">" + p.date + "</span>";
  if (!p.be.empty()) s += "<span class=\"be r2BP\">" + p.be + "</span>";
  s += "</dt><dd class=\"thread_in\">" + p.message + "</dd></dl>";
  return s;
}

inline std::string MetaPost(const Post& p, bool withId) {
  std::string name = p.mail.empty() ? "<b>" + p.name + "</b>"
                                    : "<b><a href=\"mailto:" + p.mail + "\">" + p.name + "</a></b>";
  std::string s = "<div class=\"post\" id=\"" + std::to_string(p.number) + "\" data-date=\"NG\" data-userid=\"" + p.id +
                  "\" data-id=\"" + std::to_string(p.number) + "\"><div class=\"meta\"><span class=\"number\">" +
                  std::to_string(p.number) + "</span><span class=\"name\">" + name +
                  "</span><span class=\"date\">" + p.date + "</span>";
  if (withId) s += "<span class=\"uid\">" + p.id + "</span>";
  if (!p.be.empty()) s += "<span class=\"be r2BP\">" + p.be + "</span>";
  s += "</div><div class=\"message\"><span class=\"escaped\">" + p.message + "</span></div></div>";
  return s;
}

inline std::string DlPost(const Post& p) {
  std::string name = p.mail.empty() ? "<font color=green><b>" + p.name + "</b></font>"
                                    : "<a href=\"mailto:" + p.mail + "\"><b>" + p.name + "</b></a>";
  return "<dt>" + std::to_string(p.number) + " ：" + name + "：" + p.date + "<dd>" + p.message + "<br><br>";
}

// The page in UTF-8. The title starts on the second line and ends on the
// third, as the board writes it.
inline std::string PageUtf8(Layout layout, const std::string& title, const std::vector<Post>& posts) {
  std::string page;
  if (layout == Layout::kDl) {
    page = "<html>\n<head>\n<meta http-equiv=\"Content-Type\" content=\"text/html; charset=Shift_JIS\">\n<title>" +
           title + "</title>\n</head>\n<body>\n<dl class=\"thread\">\n";
    for (const Post& p : posts) page += DlPost(p) + "\n";
    page += "</dl>\n</body>\n</html>\n";
    return page;
  }
  page = "<!DOCTYPE html><html lang=\"ja\"><head>\n<meta charset=\"Shift_JIS\"><title>" + title +
         "\n</title></head>\n<body>\n";
  if (layout == Layout::kDtSpan) page += "<div class=\"thread\">\n";
  for (const Post& p : posts) {
    switch (layout) {
      case Layout::kDiv:
        page += DivPost(p);
        break;
      case Layout::kDtSpan:
        page += DtSpanPost(p);
        break;
      case Layout::kMeta:
        page += MetaPost(p, true);
        break;
      case Layout::kMetaWithoutId:
        page += MetaPost(p, false);
        break;
      case Layout::kDl:
        break;
    }
  }
  page += "</div></body></html>\n";
  return page;
}

inline std::string Page(Layout layout, const std::string& title, const std::vector<Post>& posts) {
  return Sjis(PageUtf8(layout, title, posts));
}

inline std::vector<Post> Numbered(std::initializer_list<int> numbers) {
  std::vector<Post> posts;
  for (int n : numbers) {
    Post p;
    p.number = n;
    p.message = " 本文" + std::to_string(n) + " ";
    posts.push_back(p);
  }
  return posts;
}

// A thread of `count` posts of about 500 bytes each.
inline std::vector<Post> LongThread(int count) {
  std::vector<Post> posts;
  for (int n = 1; n <= count; ++n) {
    Post p;
    p.number = n;
    p.mail = (n % 3 == 0) ? "sage" : "";
    p.message = " >>" + std::to_string(n > 1 ? n - 1 : 1) +
                " <br> 吾輩は猫である。名前はまだ無い。どこで生れたかとんと見当がつかぬ。 <br> "
                "何でも薄暗いじめじめした所でニャーニャー泣いていた事だけは記憶している。 <br> "
                "<a href=\"http://example.com/page" +
                std::to_string(n) + "\" target=\"_blank\">http://example.com/page" + std::to_string(n) +
                "</a> <br> おわり ";
    posts.push_back(p);
  }
  return posts;
}

// The dat the converters make of a page, with regex mode off: what the
// routes must answer for it.
inline std::string DatOf(const std::string& page, int cachedCount = -1) {
  SettingValues cfg;
  cfg.BregexpMode = 0;
  CBregOnig engine(false);
  std::string out;
  ConvertCall call;
  call.cachedCount = cachedCount;
  ConvertPage(ChooseConverter(page, cfg, engine), page, out, call, cfg, engine);
  return out;
}

}  // namespace tav::testpages
