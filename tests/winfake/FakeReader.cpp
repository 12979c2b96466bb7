// A stand-in for the driven reader, run under Wine by the local dat route's
// end-to-end test. It has the windows the route looks for:
//
//   TMainWnd "スレッド - Jane Style"          (top level)
//     TOleComboBox                           (a decoy: not in the toolbar)
//     TToolBar
//       TOleComboBox
//         Edit                               (the address box)
//     Shell Embedding
//       Internet Explorer_Server             (a page view)
//   TPUtilWindow, TPUtilWindow               (top level, hidden)
//
// When Enter is pressed in the address box it opens a new page view and
// saves the thread named by the typed read.cgi address as
// <its folder>\Logs\<board>\<key>.dat, copied from canned.dat beside it
// (nothing is saved when there is no canned.dat). The file is written anew
// each time and held open for a moment between two halves, as a real writer
// would. What it sees goes to fake-reader.log beside it, one line each:
// "started", "typed <address>", "command <id>", "page view closed",
// "saved <board>/<key>.dat", "closed".
//
// Built with MinGW; not part of the Linux test programs.

#include <windows.h>

#include <string>

namespace {

constexpr UINT kOpenThread = WM_APP + 1;
constexpr DWORD kHoldWhileWritingMs = 600;

std::wstring folder;  // the program's folder, with a trailing backslash
std::wstring typedAddress;
HWND mainWindow = nullptr;
WNDPROC editProcedure = nullptr;

void Log(const std::wstring& line) {
  HANDLE file =
      CreateFileW((folder + L"fake-reader.log").c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                  nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  const std::wstring text = line + L"\n";
  const int length = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                         nullptr, nullptr);
  std::string utf8(static_cast<std::size_t>(length), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), utf8.data(), length, nullptr,
                      nullptr);
  DWORD written = 0;
  WriteFile(file, utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr);
  CloseHandle(file);
}

bool ReadWhole(const std::wstring& path, std::string& bytes) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  char chunk[4096];
  DWORD got = 0;
  while (ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got > 0) bytes.append(chunk, got);
  CloseHandle(file);
  return true;
}

bool WriteAll(HANDLE file, const char* data, std::size_t length) {
  DWORD written = 0;
  return WriteFile(file, data, static_cast<DWORD>(length), &written, nullptr) && written == length;
}

// Saves the thread of a ".../test/read.cgi/<board>/<key>/" address.
void SaveThread(const std::wstring& address) {
  const std::wstring marker = L"/test/read.cgi/";
  const std::size_t start = address.find(marker);
  if (start == std::wstring::npos) return;
  const std::wstring rest = address.substr(start + marker.size());
  const std::size_t slash = rest.find(L'/');
  if (slash == std::wstring::npos) return;
  const std::wstring board = rest.substr(0, slash);
  const std::wstring key = rest.substr(slash + 1, rest.find(L'/', slash + 1) - slash - 1);

  std::string canned;
  if (!ReadWhole(folder + L"canned.dat", canned)) return;
  const std::wstring logs = folder + L"Logs";
  CreateDirectoryW(logs.c_str(), nullptr);
  CreateDirectoryW((logs + L"\\" + board).c_str(), nullptr);
  const std::wstring target = logs + L"\\" + board + L"\\" + key + L".dat";
  DeleteFileW(target.c_str());
  HANDLE file =
      CreateFileW(target.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  const std::size_t half = canned.size() / 2;
  WriteAll(file, canned.data(), half);
  Sleep(kHoldWhileWritingMs);
  WriteAll(file, canned.data() + half, canned.size() - half);
  CloseHandle(file);
  Log(L"saved " + board + L"/" + key + L".dat");
}

HWND Child(const wchar_t* className, HWND parent, const wchar_t* text = L"") {
  return CreateWindowExW(0, className, text, WS_CHILD | WS_VISIBLE, 0, 0, 200, 24, parent, nullptr,
                         GetModuleHandleW(nullptr), nullptr);
}

void OpenPageView() { Child(L"Internet Explorer_Server", Child(L"Shell Embedding", mainWindow)); }

LRESULT CALLBACK MainProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case kOpenThread:
      OpenPageView();
      SaveThread(typedAddress);
      return 0;
    case WM_DESTROY:
      Log(L"closed");
      PostQuitMessage(0);
      return 0;
    default:
      return DefWindowProcW(window, message, wParam, lParam);
  }
}

LRESULT CALLBACK UtilityProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_COMMAND) {
    Log(L"command " + std::to_wstring(LOWORD(wParam)));
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

LRESULT CALLBACK PageViewProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_DESTROY) Log(L"page view closed");
  return DefWindowProcW(window, message, wParam, lParam);
}

// The address box: Enter opens the typed address, a moment later.
LRESULT CALLBACK AddressProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_KEYDOWN && wParam == VK_RETURN) {
    wchar_t text[2048] = {};
    GetWindowTextW(window, text, 2048);
    typedAddress = text;
    Log(L"typed " + typedAddress);
    PostMessageW(mainWindow, kOpenThread, 0, 0);
    return 0;
  }
  return CallWindowProcW(editProcedure, window, message, wParam, lParam);
}

void Register(const wchar_t* name, WNDPROC procedure) {
  WNDCLASSW windowClass = {};
  windowClass.lpfnWndProc = procedure;
  windowClass.hInstance = GetModuleHandleW(nullptr);
  windowClass.lpszClassName = name;
  windowClass.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  RegisterClassW(&windowClass);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  wchar_t path[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  folder = path;
  folder.erase(folder.rfind(L'\\') + 1);

  Register(L"TMainWnd", MainProcedure);
  Register(L"TPUtilWindow", UtilityProcedure);
  Register(L"TToolBar", DefWindowProcW);
  Register(L"TOleComboBox", DefWindowProcW);
  Register(L"Shell Embedding", DefWindowProcW);
  Register(L"Internet Explorer_Server", PageViewProcedure);

  for (int i = 0; i < 2; ++i) {
    CreateWindowExW(0, L"TPUtilWindow", L"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, instance, nullptr);
  }
  mainWindow = CreateWindowExW(0, L"TMainWnd", L"スレッド - Jane Style", WS_OVERLAPPEDWINDOW, 0, 0, 640, 480,
                               nullptr, nullptr, instance, nullptr);
  Child(L"TOleComboBox", mainWindow);
  HWND combo = Child(L"TOleComboBox", Child(L"TToolBar", mainWindow));
  HWND edit = Child(L"Edit", combo);
  editProcedure = reinterpret_cast<WNDPROC>(
      SetWindowLongPtrW(edit, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(AddressProcedure)));
  OpenPageView();
  ShowWindow(mainWindow, SW_SHOWNORMAL);
  Log(L"started");

  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  return 0;
}
