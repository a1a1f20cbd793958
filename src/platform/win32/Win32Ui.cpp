// clang-format off
#include "platform/win32/Win32Ports.h"  // windows.h must precede commctrl.h
#include <commctrl.h>
// clang-format on

namespace kz {

std::wstring ToWide(const std::string& text) {
  if (text.empty()) return std::wstring();
  // Fixed texts are UTF-8; names from the data files are GBK (code page 936).
  UINT cp = CP_UTF8;
  int n = MultiByteToWideChar(cp, MB_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()),
                              nullptr, 0);
  if (n <= 0) {
    cp = 936;
    n = MultiByteToWideChar(cp, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  }
  if (n <= 0) return std::wstring(text.begin(), text.end());
  std::wstring out(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(cp, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
  return out;
}

Win32Ui::~Win32Ui() {
  if (progressWindow_ != nullptr) DestroyWindow(progressWindow_);
}

void Win32Ui::MessageBox(MessageKind kind, const std::string& text) {
  UINT icon = kind == MessageKind::Error     ? MB_ICONERROR
              : kind == MessageKind::Warning ? MB_ICONWARNING
                                             : MB_ICONINFORMATION;
  // Modal to the host's window when it has one, else to this thread's windows.
  HWND owner = HostOwner(hostWindow_);
  MessageBoxW(owner, ToWide(text).c_str(), L"kz51",
              MB_OK | icon | (owner != nullptr ? MB_APPLMODAL : MB_TASKMODAL));
}

bool Win32Ui::RunModal(Form& form) {
  return RunFormModal(form, hostWindow_);
}

void Win32Ui::SetHostWindow(std::uintptr_t window) {
  hostWindow_ = reinterpret_cast<HWND>(window);
}

namespace {

constexpr wchar_t kProgressClass[] = L"KzProgForm";
constexpr int kProgressWidth = 382;
constexpr int kProgressHeight = 17;

HINSTANCE ThisModule() {
  HMODULE module = nullptr;
  GetModuleHandleExW(
      GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
      reinterpret_cast<LPCWSTR>(&ThisModule), &module);
  return module;
}

// The window around the gauge: a plain window in the button face colour that
// draws nothing of its own (its caption belongs in the title bar only).
bool RegisterProgressClass(HINSTANCE module) {
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = DefWindowProcW;
  wc.hInstance = module;
  wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  wc.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_BTNFACE + 1));
  wc.lpszClassName = kProgressClass;
  return RegisterClassExW(&wc) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

// Visual styles draw the bar in the theme's colours and ignore the ones set
// here; the gauge is drawn classic. uxtheme is looked up at run time, so the
// driver imports nothing more.
void DrawClassic(HWND bar) {
  HMODULE uxtheme = LoadLibraryW(L"uxtheme.dll");
  if (uxtheme == nullptr) return;
  using SetThemeFn = HRESULT(WINAPI*)(HWND, LPCWSTR, LPCWSTR);
  auto set = reinterpret_cast<SetThemeFn>(
      reinterpret_cast<void*>(GetProcAddress(uxtheme, "SetWindowTheme")));
  if (set != nullptr) set(bar, L" ", L" ");
  FreeLibrary(uxtheme);
}

}  // namespace

void Win32Ui::UpdateProgress(const ProgressView& view) {
  if (progressWindow_ == nullptr) {
    if (!view.visible) return;
    INITCOMMONCONTROLSEX icc;
    icc.dwSize = sizeof(icc);
    icc.dwICC = ICC_PROGRESS_CLASS;
    InitCommonControlsEx(&icc);
    HINSTANCE module = ThisModule();
    if (!RegisterProgressClass(module)) return;
    RECT r{0, 0, kProgressWidth, kProgressHeight};
    DWORD style = WS_POPUP | WS_CAPTION | WS_CLIPCHILDREN;
    DWORD exStyle = WS_EX_TOPMOST | WS_EX_DLGMODALFRAME;
    AdjustWindowRectEx(&r, style, FALSE, exStyle);
    progressWindow_ =
        CreateWindowExW(exStyle, kProgressClass, L"Waitting", style, CW_USEDEFAULT, CW_USEDEFAULT,
                        r.right - r.left, r.bottom - r.top, nullptr, nullptr, module, nullptr);
    if (progressWindow_ == nullptr) return;
    // The gauge fills the window: a smooth blue bar on the button face
    // colour, without the sunken edge the control gives itself.
    progressBar_ =
        CreateWindowExW(0, PROGRESS_CLASSW, L"", WS_CHILD | WS_VISIBLE | PBS_SMOOTH, 0, 0,
                        kProgressWidth, kProgressHeight, progressWindow_, nullptr, module, nullptr);
    if (progressBar_ != nullptr) {
      DrawClassic(progressBar_);
      const LONG_PTR ex = GetWindowLongPtrW(progressBar_, GWL_EXSTYLE);
      SetWindowLongPtrW(progressBar_, GWL_EXSTYLE, ex & ~(WS_EX_STATICEDGE | WS_EX_CLIENTEDGE));
      const LONG_PTR st = GetWindowLongPtrW(progressBar_, GWL_STYLE);
      SetWindowLongPtrW(progressBar_, GWL_STYLE, st & ~static_cast<LONG_PTR>(WS_BORDER));
      SetWindowPos(progressBar_, nullptr, 0, 0, kProgressWidth, kProgressHeight,
                   SWP_FRAMECHANGED | SWP_NOZORDER | SWP_NOACTIVATE);
      SendMessageW(progressBar_, PBM_SETBARCOLOR, 0, static_cast<LPARAM>(RGB(0, 0, 255)));
      SendMessageW(progressBar_, PBM_SETBKCOLOR, 0,
                   static_cast<LPARAM>(GetSysColor(COLOR_BTNFACE)));
    }
  }
  SetWindowTextW(progressWindow_, ToWide(view.caption).c_str());
  if (progressBar_ != nullptr) {
    SendMessageW(progressBar_, PBM_SETRANGE32, static_cast<WPARAM>(view.minimum),
                 static_cast<LPARAM>(view.maximum));
    SendMessageW(progressBar_, PBM_SETPOS, static_cast<WPARAM>(view.position), 0);
    UpdateWindow(progressBar_);  // a step shows at once
  }
  ShowWindow(progressWindow_, view.visible ? SW_SHOWNOACTIVATE : SW_HIDE);
  // Keep the window painted while the caller's thread is busy with the emulator.
  MSG msg;
  while (PeekMessageW(&msg, progressWindow_, 0, 0, PM_REMOVE)) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  if (view.visible)
    RedrawWindow(progressWindow_, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
}

}  // namespace kz
