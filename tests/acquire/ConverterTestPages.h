#pragma once
// Small read.cgi pages in each layout the converters know, built from a
// list of posts. Texts are written in UTF-8 here; Page() returns the
// Shift_JIS bytes the board would send.

#include <string>
#include <vector>

#include "acquire/HtmlConverter.h"
#include "acquire/PageConversion.h"
#include "platform/CBregOnig.h"
#include "platform/TextCodec.h"
#include "config/SettingValues.h"

namespace tav::testpages {

struct Post {
  int number = 1;
  std::string name = "名無しさん";
  std::string mail{};  // empty: no mailto link
  std::string date = "2016/01/01(金) 00:00:00.00";
  std::string id = "ID:abcd1234";  // meta layout's separate ID
  std::string be{};                // the BE element's link, empty for none
  std::string message = " 本文です <br> 二行目 ";
  bool protectedMail = false;  // clear post layouts: the mail link hidden by the e-mail protection
};

// kClearPost is today's main-board layout, kClearPostAdult the adult boards'.
enum class Layout { kDiv, kDtSpan, kMeta, kMetaWithoutId, kDl, kClearPost, kClearPostAdult };

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

// The e-mail protection's form of `address`: a key byte, then every
// character XOR the key, in hex digits.
inline std::string ProtectedEmail(const std::string& address) {
  constexpr unsigned char kKey = 0x5a;
  static const char* const digits = "0123456789abcdef";
  std::string hex = "5a";
  for (unsigned char c : address) {
    const unsigned char x = c ^ kKey;
    hex += digits[x >> 4];
    hex += digits[x & 15];
  }
  return hex;
}

// One post of today's layout. The start tag's attribute order and the post
// header's element alternate from post to post, as they do on the boards;
// an empty `id` leaves the ID span out.
inline std::string ClearPost(const Post& p, bool adult) {
  const std::string n = std::to_string(p.number);
  std::string name = "<b>" + p.name + "</b>";
  if (!p.mail.empty()) {
    const std::string target = p.protectedMail ? "/cdn-cgi/l/email-protection#" + ProtectedEmail(p.mail)
                                               : "mailto:" + p.mail;
    name = "<b><a rel=\"nofollow\" href=\"" + target + "\">" + p.name + "</a></b>";
  }
  const std::string element = adult ? "article" : "div";
  std::string s = p.number % 2 == 0
                      ? "<" + element + " class=\"clear post\" id=\"" + n + "\" data-date=\"NG\" data-id=\"" + n + "\">"
                      : "<" + element + " id=\"" + n + "\" data-date=\"NG\" data-userid=\"" + p.id +
                            "\" data-id=\"" + n + "\" class=\"clear post\">";
  const bool details = adult || p.number % 3 == 0;
  s += details ? "<details open class=\"post-header\">" : "<div class=\"post-header\">";
  const std::string numberAndName =
      "<span class=\"postid\">" + n + "</span><span class=\"postusername\">" + name + "</span>";
  s += adult ? "<summary>" + numberAndName + "</summary>" : "<div>" + numberAndName + "</div>";
  s += "<span style=\"width:100%;\"><span class=\"date\">" + p.date + "</span>";
  if (!p.id.empty()) s += "<span class=\"uid\">" + p.id + "</span>";
  s += "</span>";
  if (!p.be.empty()) s += "<span class=\"be r2BP\">" + p.be + "</span>";
  s += details ? "</details>" : "</div>";
  s += adult ? "<section class=\"post-content\">" + p.message + "</section></article>"
             : "<div class=\"post-content\">" + p.message + "</div></div>";
  // Banners between some of the posts.
  if (p.number % 4 == 0) s += "<div class=\"ad\"><div class=\"banner\"><span>PR</span></div></div>";
  return s;
}

inline std::string ClearPostPageUtf8(bool adult, const std::string& title, const std::vector<Post>& posts) {
  std::string page = "<!DOCTYPE html>\n<html lang=\"ja\">\n<head>\n<meta charset=\"Shift_JIS\">\n"
                     "<script>var board = \"x\";</script>\n<title>" + title + "\n</title>\n</head>\n<body>\n"
                     "<div class=\"container\"><h1 id=\"threadtitle\">" + title + "</h1>\n<div class=\"thread\">";
  for (const Post& p : posts) page += ClearPost(p, adult);
  page += "</div>\n<div class=\"footer\">read.cgi ver 07.7.25 2025/06/01</div></div></body></html>\n";
  return page;
}

// The page in UTF-8. The title starts on the second line and ends on the
// third, as the board writes it (today's layout: further down the head).
inline std::string PageUtf8(Layout layout, const std::string& title, const std::vector<Post>& posts) {
  if (layout == Layout::kClearPost || layout == Layout::kClearPostAdult) {
    return ClearPostPageUtf8(layout == Layout::kClearPostAdult, title, posts);
  }
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
      case Layout::kClearPost:
      case Layout::kClearPostAdult:
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

// A thread in today's layout with one post of each kind the boards show
// (post 3 deleted), up to post `last`; and the dat lines it must become.
inline std::vector<Post> TodaysPosts(int last) {
  std::vector<Post> posts = {
      Post{.number = 1, .message = " 一行目 <br> 二行目 "},
      Post{.number = 2, .name = "名無し", .mail = "sage",
           .message = " <a href=\"../test/read.cgi/applism/1517988732/1\" rel=\"noopener noreferrer\" "
                      "target=\"_blank\" class=\"reply_link\">&gt;&gt;1</a> はい "},
      Post{.number = 4, .name = "トリ</b>◆Abc.dEf12 <b>", .id = "ID:Xyz98765",
           .message = " <a href=\"http://jump.5ch.io/?https://example.com/\" rel=\"nofollow\" target=\"_blank\">"
                      "https://example.com/</a> を見て "},
      Post{.number = 5, .name = "名無し", .mail = "who@example.com", .message = " 保護 ", .protectedMail = true},
      Post{.number = 6, .message = " 六 "},
      Post{.number = 7, .message = " 七 "},
  };
  while (!posts.empty() && posts.back().number > last) posts.pop_back();
  return posts;
}

inline std::string TodaysDat(int last, const std::string& title) {
  const std::string date = Post{}.date;
  const std::vector<std::string> lines = {
      "名無しさん<><>" + date + " ID:abcd1234<> 一行目 <br> 二行目 <>" + title + "\n",
      "名無し<>sage<>" + date +
          " ID:abcd1234<> <a href=\"../test/read.cgi/applism/1517988732/1\" rel=\"noopener noreferrer\" "
          "target=\"_blank\" class=\"reply_link\">&gt;&gt;1</a> はい <>\n",
      "うふ～ん<>うふ～ん<>うふ～ん ID:DELETED<>うふ～ん<>うふ～ん<>\n",
      "トリ</b>◆Abc.dEf12 <b><><>" + date + " ID:Xyz98765<> https://example.com/ を見て <>\n",
      "名無し<>who@example.com<>" + date + " ID:abcd1234<> 保護 <>\n",
      "名無しさん<><>" + date + " ID:abcd1234<> 六 <>\n",
      "名無しさん<><>" + date + " ID:abcd1234<> 七 <>\n",
  };
  std::string dat;
  for (int n = 1; n <= last && n <= static_cast<int>(lines.size()); ++n) dat += lines[static_cast<std::size_t>(n - 1)];
  return Sjis(dat);
}

// The dat the converters make of a page, with regex mode off: what the
// routes must answer for it.
inline std::string DatOf(const std::string& page, int cachedCount = -1) {
  SettingValues cfg;
  cfg.BregexpMode = 0;
  CBregOnig engine(false);
  ConvertCall call;
  call.cachedCount = cachedCount;
  return ConvertThreadPage(page, call, cfg, engine).text;
}

}  // namespace tav::testpages
