#pragma once
// The numbering every page converter shares: which number the next post
// must carry, the deleted-post lines that fill a gap, which posts produce a
// line under the cached count, the title on the first line, and the count
// the converter returns. The output never grows past its limit.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tav {

class DatLineWriter {
 public:
  enum class Admission {
    kTake,      // the post's line follows (gap filled)
    kLeaveOut,  // a repeated or out-of-order number: no line, not counted
    kFull,      // filling the gap would outgrow the output
  };

  // `out` is cleared; `limit` is the most bytes it may hold.
  DatLineWriter(std::string& out, std::size_t limit, int cachedCount, int firstExpected);

  void SetTitle(std::string_view title) { title_.assign(title); }
  const std::string& Title() const { return title_; }

  // Before the post numbered `number`: adds a deleted-post line for every
  // missing number.
  Admission Admit(int number);
  // Admit, told the way a converter reports it: nothing when the post is
  // taken, else the converter's result for it (0 left out, or output full).
  std::optional<int> Refusal(int number);

  // The admitted post: its line when the cached count lets it through. The
  // title goes on this line and is cleared. False when the line would
  // outgrow the output.
  bool AddPost(std::string_view name, std::string_view mail, std::string_view date, std::string_view message);

  // The converter's result for the lines counted so far.
  int Result() const;
  int Counted() const { return counted_; }

  // The line that stands for a post missing from the page.
  static const std::string& DeletedPostLine();

 private:
  bool NumberChecked() const;
  std::int64_t ExpectedNumber() const;
  bool PostProducesLine() const;

  std::string& out_;
  std::size_t limit_;
  int cachedCount_;
  int firstExpected_;
  int counted_ = 0;  // lines counted: posts taken and deleted-post lines
  std::string title_;
};

}  // namespace tav
