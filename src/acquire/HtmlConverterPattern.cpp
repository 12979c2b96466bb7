// A layout described by a user-editable pattern set: the title pattern once,
// the post pattern over and over, and the name, mail and BE patterns on the
// parts of each post.

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "acquire/DatLineWriter.h"
#include "acquire/HtmlConverter.h"
#include "acquire/HtmlText.h"
#include "platform/CBregOnig.h"
#include "platform/TextCodec.h"
#include "config/SettingValues.h"

namespace tav {
namespace {

using html::Contains;
using html::CutField;
using html::Find;
using html::npos;

bool IsSjisLead(unsigned char c) { return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC); }

// Text of group `g` of the handle's last match; empty when the group took
// no part or does not exist.
std::string_view Group(const BRegexp* rx, int g) {
  if (rx == nullptr || g < 0 || g > rx->nparens) return {};
  const char* start = rx->startp[static_cast<std::size_t>(g)];
  const char* end = rx->endp[static_cast<std::size_t>(g)];
  if (start == nullptr || end == nullptr || end < start) return {};
  return {start, static_cast<std::size_t>(end - start)};
}

// The page with every CR and LF byte left out.
std::string WithoutLineEnds(std::string_view page) {
  std::string copy;
  copy.reserve(page.size());
  std::size_t pos = 0;
  while (pos < page.size()) copy.append(html::NextLine(page, pos));
  return copy;
}

// First every "><" becomes two spaces, then every remaining tag one space;
// a "<" that is never closed is left as it is. `spaced` holds the first
// step's text; a date without any "<" is left as it is.
void RemoveDateTags(std::string& date, std::string& spaced, std::string& out) {
  if (date.find('<') == npos) return;
  std::string_view text(date);
  spaced.clear();
  std::size_t pos = 0;
  for (std::size_t hit = Find(text, "><"); hit != npos; hit = Find(text, "><", pos)) {
    spaced.append(text.substr(pos, hit - pos));
    spaced.append("  ");
    pos = hit + 2;
  }
  spaced.append(text.substr(pos));

  out.clear();
  pos = 0;
  while (pos < spaced.size()) {
    const std::size_t open = spaced.find('<', pos);
    const std::size_t close = open == npos ? npos : spaced.find('>', open + 1);
    if (close == npos) {
      out.append(spaced, pos, npos);
      break;
    }
    out.append(spaced, pos, open - pos);
    out.push_back(' ');
    pos = close + 1;
  }
  date.swap(out);
}

// A post's fields as its dat line takes them.
struct PostFields {
  int number = 0;
  std::string_view name;
  std::string_view mail;
  std::string_view date;
  std::string_view message;
};

// Reads a post's fields from a match of the post pattern with the set's
// name, mail and BE patterns. The fields stay valid until the next post.
class PostReader {
 public:
  PostReader(const HtmlConvertOptions& options, const CRegexpPatternInfo& set, const CBregOnig& engine)
      : options_(options), set_(set), engine_(engine), mailName_(engine), name_(engine), be_(engine),
        mailNameTexts_(RequiredTexts(set.mailName.Narrow())), nameTexts_(RequiredTexts(set.name.Narrow())),
        beTexts_(RequiredTexts(set.be.Narrow())) {}

  PostFields Read(const BRegexp* post) {
    PostFields fields;
    fields.number = html::ReadNumber(Group(post, 1));
    const int messageGroup = post->nparens;

    ReadNameAndMail(CutField(Group(post, 2)));
    std::string& date = date_;
    date.assign(CutField(Group(post, 3)));
    if (post->nparens == 5) {
      date.push_back(' ');
      date.append(CutField(Group(post, 4)));
    }
    AppendBe(post, messageGroup, date);
    RemoveDateTags(date, spaced_, dateScratch_);

    fields.name = nameText_;
    fields.mail = mailText_;
    fields.date = date;
    fields.message =
        cleaner_.Clean(CutField(Group(post, messageGroup)), {options_.removeHalfSpace, options_.fixBrBr, false});
    return fields;
  }

 private:
  // Whether [start, end) holds every text a match must contain. A search
  // left out for lack of one is taken as finding nothing: these searches
  // only tell a match from anything else.
  static bool MayMatch(const std::vector<std::string>& texts, const char* start, const char* end) {
    return html::ContainsAll(std::string_view(start, static_cast<std::size_t>(end - start)), texts);
  }

  void ReadNameAndMail(std::string_view element) {
    // An absent group is matched as empty text, never as no text at all.
    if (element.data() == nullptr) element = std::string_view("", 0);
    if (options_.removeHalfSpace && html::CollapseSpaces(element, scratch_)) element = scratch_;
    const char* start = element.data();
    const char* end = start + element.size();
    if (MayMatch(mailNameTexts_, start, end) &&
        engine_.BMatch(set_.mailName.Narrow(), start, end, mailName_.Out(), message_) > 0) {
      mailText_.assign(Group(mailName_.Get(), 1));
      // A mail link hidden by the board's e-mail protection.
      if (auto address = html::ProtectedEmailOf(mailText_)) mailText_ = std::move(*address);
      nameText_.assign(Group(mailName_.Get(), 2));
    } else if (MayMatch(nameTexts_, start, end) &&
               engine_.BMatch(set_.name.Narrow(), start, end, name_.Out(), message_) > 0) {
      nameText_.assign(Group(name_.Get(), 1));
      mailText_.clear();
    } else {
      nameText_.clear();
      mailText_.clear();
    }
  }

  // The BE link between the date and the message, when there is one.
  void AppendBe(const BRegexp* post, int messageGroup, std::string& date) {
    const char* from = post->startp[3];
    const char* to = post->startp[static_cast<std::size_t>(messageGroup)];
    if (from == nullptr || to == nullptr || to < from) return;
    if (!MayMatch(beTexts_, from, to)) return;
    if (engine_.BMatch(set_.be.Narrow(), from, to, be_.Out(), message_) <= 0) return;
    std::string beText = "BE:";
    beText.append(CutField(Group(be_.Get(), 1)));
    beText.push_back('-');
    beText.append(CutField(Group(be_.Get(), 2)));
    const std::size_t tag = date.find('<');
    if (tag != npos) date.resize(tag);
    if (Contains(date, "BE:")) return;
    date.push_back(' ');
    date.append(beText);
  }

  const HtmlConvertOptions& options_;
  const CRegexpPatternInfo& set_;
  const CBregOnig& engine_;
  BRegexpHolder mailName_;
  BRegexpHolder name_;
  BRegexpHolder be_;
  // Texts every match of the mail-and-name, name and BE patterns contains.
  const std::vector<std::string> mailNameTexts_;
  const std::vector<std::string> nameTexts_;
  const std::vector<std::string> beTexts_;
  html::MessageCleaner cleaner_;
  std::string scratch_;
  std::string date_;
  std::string spaced_;
  std::string dateScratch_;
  std::string nameText_;
  std::string mailText_;
  char message_[kBregMessageSize] = {};
};

std::atomic<std::uint64_t>& TakenAhead() {
  static std::atomic<std::uint64_t> taken{0};
  return taken;
}

// The end of the match; an empty match moves on by one character so that
// the search cannot stand still. Null when the search is over.
const char* NextSearchStart(const BRegexp* post, const char* at, const char* end) {
  const char* next = post->endp[0];
  if (next > post->startp[0]) return next;
  if (next >= end) return nullptr;
  next += (IsSjisLead(static_cast<unsigned char>(*next)) && next + 1 < end) ? 2 : 1;
  return next > at ? next : nullptr;
}

// The searches of the post pattern from a start in the second half of the
// page on, made on a thread of its own while the first half is converted.
// A search depends only on where it starts, so once the first half's search
// starts where one of these did, the rest of the page is these posts: they
// are taken from here on, and the answer is the one a single pass gives.
// Until that happens (or should it never), the first half's searches go on
// as usual.
class PostsAhead {
 public:
  PostsAhead(const HtmlConvertOptions& options, const CRegexpPatternInfo& set, const CBregOnig& engine,
             const char* start, const char* end)
      : reader_(options, set, engine), engine_(engine), pattern_(set.res.Narrow()), start_(start), end_(end) {}
  PostsAhead(const PostsAhead&) = delete;
  PostsAhead& operator=(const PostsAhead&) = delete;
  ~PostsAhead() { Stop(); }

  // Starts the searches; false when no thread can be had for them.
  bool Start() {
    if (Running().fetch_add(1) >= MostRunning()) {
      --Running();
      return false;
    }
    try {
      thread_ = std::thread([this] { Search(); });
      return true;
    } catch (const std::system_error&) {
      --Running();
      return false;
    }
  }

  const char* From() const { return start_; }

  // Where a search that starts at `at` stands among these: found (index),
  // not one of them, or past all of them (never to be met).
  enum class Meeting { kFound, kNotThere, kPast };
  Meeting Meet(const char* at, std::size_t& index) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return done_ || (!starts_.empty() && starts_.back() >= at); });
    if (failed_ || starts_.empty() || at > starts_.back()) return Meeting::kPast;
    const auto found = std::lower_bound(starts_.begin(), starts_.end(), at);
    if (found == starts_.end() || *found != at) return Meeting::kNotThere;
    index = static_cast<std::size_t>(found - starts_.begin());
    return Meeting::kFound;
  }

  // Waits for the searches to end; false when they could not all be made.
  bool Finish() {
    if (thread_.joinable()) {
      thread_.join();
      --Running();
    }
    return !failed_;
  }

  // After Finish: takes the posts from search `index` on, as the converter
  // would have from its own searches. Returns 0 or a negative result.
  int Replay(std::size_t index, DatLineWriter& writer, int* lastPost) const {
    for (std::size_t i = index; i < posts_.size(); ++i) {
      TakenAhead().fetch_add(1, std::memory_order_relaxed);
      const Post& post = posts_[i];
      if (post.badGroups) return kConvertBadGroups;
      if (lastPost != nullptr) *lastPost = post.number;
      if (auto refused = writer.Refusal(post.number)) {
        if (*refused != 0) return *refused;
        continue;  // left out
      }
      auto field = [&](std::size_t n) {
        return std::string_view(fields_).substr(post.fields[n], post.fields[n + 1] - post.fields[n]);
      };
      if (!writer.AddPost(field(0), field(1), field(2), field(3))) return kConvertOutputFull;
    }
    return 0;
  }

 private:
  struct Post {
    bool badGroups = false;  // the search that found a match with other than 4 or 5 groups
    int number = 0;
    std::size_t fields[5] = {};  // name, mail, date and message: [fields[n], fields[n + 1]) of fields_
  };

  // Threads of these at most, over all conversions: one less than the
  // processor has cores, so that a busy proxy gains nothing and loses
  // nothing by them.
  static std::atomic<int>& Running() {
    static std::atomic<int> running{0};
    return running;
  }
  static int MostRunning() {
    static const int most = std::max(0, static_cast<int>(std::thread::hardware_concurrency()) - 1);
    return most;
  }

  void Stop() {
    stop_ = true;
    Finish();
  }

  void Search() {
    try {
      SearchAll();
    } catch (...) {  // no memory: the first half's searches go on alone
      std::lock_guard lock(mutex_);
      failed_ = true;
    }
    std::lock_guard lock(mutex_);
    done_ = true;
    changed_.notify_all();
  }

  void SearchAll() {
    BRegexpHolder match(engine_);
    char message[kBregMessageSize] = {};
    const char* at = start_;
    while (at <= end_ && !stop_) {
      // A search that finds nothing ends the posts; it is kept as a start
      // that gives no post.
      if (engine_.BMatch(pattern_, at, end_, match.Out(), message, TextEnd::WholeCharacter) <= 0) {
        Publish(at);
        return;
      }
      const BRegexp* post = match.Get();
      Post record;
      if (post->nparens != 4 && post->nparens != 5) {
        record.badGroups = true;
        posts_.push_back(record);
        Publish(at);
        return;
      }
      const PostFields fields = reader_.Read(post);
      record.number = fields.number;
      record.fields[0] = fields_.size();
      for (std::size_t n = 0; n < 4; ++n) {
        fields_.append(n == 0 ? fields.name : n == 1 ? fields.mail : n == 2 ? fields.date : fields.message);
        record.fields[n + 1] = fields_.size();
      }
      posts_.push_back(record);
      Publish(at);
      at = NextSearchStart(post, at, end_);
      if (at == nullptr) return;
    }
  }

  void Publish(const char* at) {
    std::lock_guard lock(mutex_);
    starts_.push_back(at);
    changed_.notify_all();
  }

  PostReader reader_;
  const CBregOnig& engine_;
  const std::string_view pattern_;
  const char* const start_;
  const char* const end_;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<const char*> starts_;  // where each search began, in order (guarded)
  bool done_ = false;                // guarded
  bool failed_ = false;              // guarded
  // Read by the converter only after the thread has ended.
  std::vector<Post> posts_;  // one per start; a start that found nothing has none
  std::string fields_;
};

class PatternConverter {
 public:
  PatternConverter(const HtmlConvertOptions& options, const CRegexpPatternInfo& set, const CBregOnig& engine,
                   DatLineWriter& writer)
      : set_(set), engine_(engine), writer_(writer), res_(engine), reader_(options, set, engine) {}

  // Reads the title; returns 0, -1 or -11 and where the posts begin.
  int ReadTitle(std::string_view text, std::size_t& postsStart) {
    BRegexpHolder title(engine_);
    if (engine_.BMatch(set_.title.Narrow(), text.data(), text.data() + text.size(), title.Out(), message_) <= 0 ||
        title.Get()->nparens < 1) {
      return kConvertNoTitleEnd;
    }
    static const std::string overload = Sjis("もうずっと人大杉");
    const std::string_view found = CutField(Group(title.Get(), 1));
    if (found == overload) return kConvertOverload;
    writer_.SetTitle(found);
    postsStart = static_cast<std::size_t>(title.Get()->endp[0] - text.data());
    return 0;
  }

  // Matches the posts from `from` on, with the posts from `ahead`'s start
  // on searched meanwhile by `ahead` when it is given. Returns 0 or a
  // negative result.
  int ConvertPosts(std::string_view text, std::size_t from, int* lastPost, PostsAhead* ahead) {
    const char* const end = CBregOnig::WholeCharacterEnd(text.data(), text.data() + text.size());
    const char* at = text.data() + std::min(from, static_cast<std::size_t>(end - text.data()));
    while (at <= end) {
      if (ahead != nullptr && at >= ahead->From()) {
        std::size_t index = 0;
        switch (ahead->Meet(at, index)) {
          case PostsAhead::Meeting::kFound:
            if (ahead->Finish()) return ahead->Replay(index, writer_, lastPost);
            ahead = nullptr;
            break;
          case PostsAhead::Meeting::kPast:
            ahead = nullptr;
            break;
          case PostsAhead::Meeting::kNotThere:
            break;
        }
      }
      if (engine_.BMatch(set_.res.Narrow(), at, end, res_.Out(), message_, TextEnd::WholeCharacter) <= 0) break;
      const BRegexp* post = res_.Get();
      if (post->nparens != 4 && post->nparens != 5) return kConvertBadGroups;
      if (const int rc = HandlePost(post, lastPost); rc != 0) return rc;
      at = NextSearchStart(post, at, end);
      if (at == nullptr) break;
    }
    return 0;
  }

 private:
  int HandlePost(const BRegexp* post, int* lastPost) {
    const int number = html::ReadNumber(Group(post, 1));
    if (lastPost != nullptr) *lastPost = number;
    if (auto refused = writer_.Refusal(number)) return *refused;
    const PostFields fields = reader_.Read(post);
    return writer_.AddPost(fields.name, fields.mail, fields.date, fields.message) ? 0 : kConvertOutputFull;
  }

  const CRegexpPatternInfo& set_;
  const CBregOnig& engine_;
  DatLineWriter& writer_;
  BRegexpHolder res_;
  PostReader reader_;
  char message_[kBregMessageSize] = {};
};

// Where the second thread starts for a page of `length` bytes whose posts
// begin at `postsStart`: after the first ">" past the middle, which always
// ends a character of its own, so the search starts on a character. npos
// when the page is too short to gain by it.
std::size_t SplitPoint(std::string_view text, std::size_t postsStart) {
  if (text.size() < kParallelPatternLength || postsStart >= text.size()) return npos;
  const std::size_t gt = text.find('>', postsStart + (text.size() - postsStart) / 2);
  return gt == npos ? npos : gt + 1;
}

int Convert(std::string_view page, std::string& out, const ConvertCall& call, const HtmlConvertOptions& options,
            const CRegexpPatternInfo& set, const CBregOnig& engine, std::optional<std::size_t> splitAt) {
  const std::size_t limit = page.size() + kOutputHeadroom;
  const std::string text = WithoutLineEnds(html::UpToNul(page));
  DatLineWriter writer(out, limit, call.cachedCount, call.firstExpected);
  PatternConverter converter(options, set, engine, writer);

  std::size_t postsStart = 0;
  if (const int rc = converter.ReadTitle(text, postsStart); rc != 0) {
    out.clear();
    return rc;
  }
  const std::size_t split = splitAt ? std::min(*splitAt, text.size()) : SplitPoint(text, postsStart);
  std::optional<PostsAhead> ahead;
  if (split != npos && split > postsStart) {
    const char* const end = CBregOnig::WholeCharacterEnd(text.data(), text.data() + text.size());
    if (text.data() + split <= end) {
      ahead.emplace(options, set, engine, text.data() + split, end);
      if (!ahead->Start()) ahead.reset();
    }
  }
  if (const int rc = converter.ConvertPosts(text, postsStart, call.lastPost, ahead ? &*ahead : nullptr); rc != 0) {
    return rc;
  }
  return writer.Result();
}

}  // namespace

int ConvertPatternPage(std::string_view page, std::string& out, const ConvertCall& call,
                       const HtmlConvertOptions& options, const CRegexpPatternInfo& set, const CBregOnig& engine) {
  return Convert(page, out, call, options, set, engine, std::nullopt);
}

std::uint64_t PatternPostsTakenAhead() { return TakenAhead().load(); }

int ConvertPatternPageSplitAt(std::string_view page, std::string& out, const ConvertCall& call,
                              const HtmlConvertOptions& options, const CRegexpPatternInfo& set,
                              const CBregOnig& engine, std::size_t splitAt) {
  return Convert(page, out, call, options, set, engine, splitAt);
}

}  // namespace tav
