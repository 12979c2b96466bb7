// tavrilox-winebridge.exe: the proxy's hands inside the reader's Wine
// prefix. Started by the proxy with `wine`, it reads requests line by line
// from standard input and carries them out with the Windows window API,
// answering on standard output (protocol in platform/BridgeProtocol.h).
// It ends when its standard input ends.
//
// Built with MinGW (x86_64-w64-mingw32-g++ -static); not part of the Linux
// program.

#include <objbase.h>
#include <psapi.h>
#include <shellapi.h>
#include <windows.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/BridgeProtocol.h"

namespace {

using tav::bridge::JoinFields;
using tav::bridge::SplitFields;

constexpr int kClassNameChars = 260;  // at most 259 characters and the NUL
constexpr int kTitleChars = 1024;     // at most 1023 characters and the NUL
constexpr DWORD kImagePathChars = 260;

HANDLE input = INVALID_HANDLE_VALUE;
HANDLE output = INVALID_HANDLE_VALUE;

std::wstring Wide(const std::string& utf8) {
  if (utf8.empty()) return {};
  const int length = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), length);
  return wide;
}

std::string Utf8(const std::wstring& wide) {
  if (wide.empty()) return {};
  const int length = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0,
                                         nullptr, nullptr);
  std::string utf8(static_cast<std::size_t>(length), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), utf8.data(), length, nullptr,
                      nullptr);
  return utf8;
}

std::string HandleText(HWND window) { return std::to_string(reinterpret_cast<std::uintptr_t>(window)); }

HWND HandleOf(const std::string& text) {
  return reinterpret_cast<HWND>(static_cast<std::uintptr_t>(std::strtoull(text.c_str(), nullptr, 10)));
}

bool Write(const std::string& bytes) {
  const char* data = bytes.data();
  std::size_t left = bytes.size();
  while (left > 0) {
    DWORD written = 0;
    if (!WriteFile(output, data, static_cast<DWORD>(left), &written, nullptr) || written == 0) return false;
    data += written;
    left -= written;
  }
  return true;
}

bool Answer(const std::vector<std::string>& fields) { return Write(JoinFields(fields)); }

std::string ClassName(HWND window) {
  wchar_t name[kClassNameChars] = {};
  const int length = GetClassNameW(window, name, kClassNameChars);
  return Utf8(std::wstring(name, static_cast<std::size_t>(length > 0 ? length : 0)));
}

std::string Title(HWND window) {
  wchar_t title[kTitleChars] = {};
  const int length = GetWindowTextW(window, title, kTitleChars);
  return Utf8(std::wstring(title, static_cast<std::size_t>(length > 0 ? length : 0)));
}

// The full path of the module that created `window`, read in its process;
// false when the process cannot be opened or the path cannot be read.
bool ImagePath(HWND window, std::string& path) {
  DWORD processId = 0;
  GetWindowThreadProcessId(window, &processId);
  HANDLE process = OpenProcess(PROCESS_ALL_ACCESS, FALSE, processId);
  if (process == nullptr) return false;
  auto instance = reinterpret_cast<HMODULE>(GetWindowLongPtrW(window, GWLP_HINSTANCE));
  wchar_t image[kImagePathChars] = {};
  const DWORD length = GetModuleFileNameExW(process, instance, image, kImagePathChars);
  CloseHandle(process);
  if (length == 0) return false;
  path = Utf8(std::wstring(image, length));
  return true;
}

BOOL CALLBACK Collect(HWND window, LPARAM list) {
  reinterpret_cast<std::vector<HWND>*>(list)->push_back(window);
  return TRUE;
}

bool ListTopLevel() {
  std::vector<HWND> windows;
  EnumWindows(Collect, reinterpret_cast<LPARAM>(&windows));
  for (HWND window : windows) {
    std::string image;
    const bool known = ImagePath(window, image);
    if (!Answer({std::string(tav::bridge::kWindowLine), HandleText(window), ClassName(window), Title(window),
                 known ? "1" : "0", image})) {
      return false;
    }
  }
  return Answer({std::string(tav::bridge::kOk)});
}

bool ListDescendants(HWND parent) {
  std::vector<HWND> windows;
  EnumChildWindows(parent, Collect, reinterpret_cast<LPARAM>(&windows));
  for (HWND window : windows) {
    if (!Answer({std::string(tav::bridge::kChildLine), HandleText(window), ClassName(window),
                 ClassName(GetParent(window)), HandleText(GetWindow(window, GW_CHILD))})) {
      return false;
    }
  }
  return Answer({std::string(tav::bridge::kOk)});
}

bool Failed(const std::string& reason) { return Answer({std::string(tav::bridge::kError), reason}); }

bool Done() { return Answer({std::string(tav::bridge::kOk)}); }

bool BringToFront(HWND window, DWORD holdMs) {
  const DWORD own = GetCurrentThreadId();
  const DWORD theirs = GetWindowThreadProcessId(window, nullptr);
  const bool attached = theirs != 0 && theirs != own && AttachThreadInput(own, theirs, TRUE);
  SetForegroundWindow(window);
  SetFocus(window);
  Sleep(holdMs);
  if (attached) AttachThreadInput(own, theirs, FALSE);
  return Done();
}

bool Start(const std::string& program) {
  const std::wstring path = Wide(program);
  const auto result = reinterpret_cast<INT_PTR>(
      ShellExecuteW(nullptr, nullptr, path.c_str(), nullptr, nullptr, SW_SHOWNORMAL));
  if (result <= 32) return Failed("ShellExecute failed with " + std::to_string(result));
  return Done();
}

// Carries out one request; false when the answer could not be written.
bool Handle(const std::vector<std::string>& request) {
  namespace b = tav::bridge;
  const std::string& verb = request[0];
  auto argument = [&](std::size_t i) -> const std::string& {
    static const std::string none;
    return i < request.size() ? request[i] : none;
  };
  const HWND window = HandleOf(argument(1));
  if (verb == b::kTopLevel) return ListTopLevel();
  if (verb == b::kDescendants) return ListDescendants(window);
  if (verb == b::kStart) return Start(argument(1));
  if (!IsWindow(window)) return Failed("no such window");
  if (verb == b::kClose) {
    SendMessageW(window, WM_CLOSE, 0, 0);
    return Done();
  }
  if (verb == b::kSetText) {
    const std::wstring text = Wide(argument(2));
    SendMessageW(window, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
    return Done();
  }
  if (verb == b::kEnter) {
    SendMessageW(window, WM_KEYDOWN, VK_RETURN, 0);
    return Done();
  }
  if (verb == b::kCommand) {
    SendMessageW(window, WM_COMMAND, static_cast<WPARAM>(std::strtoul(argument(2).c_str(), nullptr, 10)), 0);
    return Done();
  }
  if (verb == b::kMinimise) {
    ShowWindow(window, SW_MINIMIZE);
    return Done();
  }
  if (verb == b::kForeground) return BringToFront(window, std::strtoul(argument(2).c_str(), nullptr, 10));
  if (verb == b::kPostClose) {
    if (!PostMessageW(window, WM_CLOSE, 0, 0)) return Failed("the close message was not posted");
    return Done();
  }
  return Failed("unknown request " + verb);
}

}  // namespace

int wmain() {
  input = GetStdHandle(STD_INPUT_HANDLE);
  output = GetStdHandle(STD_OUTPUT_HANDLE);
  // Programs started through the shell must not inherit the pipes to the
  // proxy: the proxy would then never see them end.
  SetStdHandle(STD_INPUT_HANDLE, nullptr);
  SetStdHandle(STD_OUTPUT_HANDLE, nullptr);
  SetStdHandle(STD_ERROR_HANDLE, nullptr);
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);

  if (!Answer({std::string(tav::bridge::kReady)})) return 1;
  std::string pending;
  char chunk[4096];
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(input, chunk, sizeof chunk, &got, nullptr) || got == 0) break;
    pending.append(chunk, got);
    for (std::size_t end; (end = pending.find('\n')) != std::string::npos;) {
      std::string line = pending.substr(0, end);
      pending.erase(0, end + 1);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (line.empty()) continue;
      if (!Handle(SplitFields(line))) return 1;
    }
  }
  return 0;
}
