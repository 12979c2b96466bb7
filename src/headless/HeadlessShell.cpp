#include "headless/HeadlessShell.h"

#include <cstdio>

#include "platform/TextCodec.h"

namespace tav {
namespace {

// One line per message: line breaks inside a text become spaces.
std::string OneLine(const std::u16string& text) {
  std::string line = Utf16ToUtf8(text);
  for (char& c : line) {
    if (c == '\n' || c == '\r') c = ' ';
  }
  return line;
}

}  // namespace

HeadlessShell::HeadlessShell(CSetting& setting, std::FILE* out, std::FILE* err)
    : CoreShell(setting), out_(out), err_(err) {}

void HeadlessShell::ErrorLine(const std::u16string& text) {
  std::lock_guard lock(outputMutex_);
  std::fprintf(err_, "%s\n", OneLine(text).c_str());
  std::fflush(err_);
}

void HeadlessShell::PresentStatus(const std::u16string& text) { ErrorLine(text); }
void HeadlessShell::PresentWarning(const std::u16string& text) { ErrorLine(text); }

// A box that asks counts as answered OK.
void HeadlessShell::PresentMessage(const std::u16string& caption, const std::u16string& text) {
  ErrorLine(caption + u": " + text);
}

void HeadlessShell::PresentBalloon(const std::u16string& text) { ErrorLine(text); }

void HeadlessShell::OnRowFinished(const LogRow& row) {
  std::string line;
  for (int column = 1; column <= 7; ++column) {
    if (column > 1) line += '\t';
    line += OneLine(row.cells[static_cast<std::size_t>(column)]);
  }
  std::lock_guard lock(outputMutex_);
  std::fprintf(out_, "%s\n", line.c_str());
  std::fflush(out_);
}

void HeadlessShell::OpenFtpBugDialog(const std::string& server, const std::string& board,
                                     const std::string& thread) {
  ErrorLine(u"ftp:// bug thread ? server=" + Cp932ToUtf16(server) + u" board=" + Cp932ToUtf16(board) +
            u" thread=" + Cp932ToUtf16(thread));
}

}  // namespace tav
