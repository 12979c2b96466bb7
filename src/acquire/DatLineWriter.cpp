#include "acquire/DatLineWriter.h"

#include "acquire/ConvertOptions.h"

#include "platform/TextCodec.h"

namespace tav {

const std::string& DatLineWriter::DeletedPostLine() {
  static const std::string line = Sjis("うふ～ん<>うふ～ん<>うふ～ん ID:DELETED<>うふ～ん<>うふ～ん<>\n");
  return line;
}

DatLineWriter::DatLineWriter(std::string& out, std::size_t limit, int cachedCount, int firstExpected)
    : out_(out), limit_(limit), cachedCount_(cachedCount), firstExpected_(firstExpected) {
  out_.clear();
}

// With a cached count of 2 or more the page starts with post 1 and post M,
// both already cached: the numbers are checked from the third post on.
bool DatLineWriter::NumberChecked() const { return cachedCount_ < 2 || counted_ >= 2; }

std::int64_t DatLineWriter::ExpectedNumber() const {
  if (cachedCount_ >= 2) return static_cast<std::int64_t>(cachedCount_) + counted_ - 1;
  if (firstExpected_ > 1) return counted_ == 0 ? 1 : static_cast<std::int64_t>(firstExpected_) + counted_ - 1;
  return static_cast<std::int64_t>(counted_) + 1;
}

bool DatLineWriter::PostProducesLine() const {
  if (cachedCount_ < 0) return true;
  if (cachedCount_ == 0) return false;
  if (cachedCount_ == 1) return counted_ >= 1;
  return counted_ >= 2;
}

DatLineWriter::Admission DatLineWriter::Admit(int number) {
  if (!NumberChecked()) return Admission::kTake;
  const std::string& deleted = DeletedPostLine();
  for (std::int64_t expected = ExpectedNumber(); number != expected; expected = ExpectedNumber()) {
    // A number below the expected one would never catch up.
    if (number < expected) return Admission::kLeaveOut;
    if (out_.size() + deleted.size() > limit_) return Admission::kFull;
    out_.append(deleted);
    title_.clear();
    ++counted_;
  }
  return Admission::kTake;
}

bool DatLineWriter::AddPost(std::string_view name, std::string_view mail, std::string_view date,
                            std::string_view message) {
  if (PostProducesLine()) {
    const std::size_t length = name.size() + mail.size() + date.size() + message.size() + title_.size() + 9;
    if (out_.size() + length > limit_) return false;
    out_.append(name).append("<>").append(mail).append("<>").append(date).append("<>");
    out_.append(message).append("<>").append(title_).push_back('\n');
  }
  title_.clear();
  ++counted_;
  return true;
}

int DatLineWriter::Result() const {
  if (cachedCount_ < 1) return counted_;
  if (cachedCount_ == 1) return counted_ > 1 ? counted_ - 1 : 0;
  return counted_ != 0 ? counted_ - 2 : 0;
}

std::optional<int> DatLineWriter::Refusal(int number) {
  switch (Admit(number)) {
    case Admission::kLeaveOut:
      return 0;
    case Admission::kFull:
      return kConvertOutputFull;
    case Admission::kTake:
      break;
  }
  return std::nullopt;
}

}  // namespace tav
