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
  MessageBoxW(nullptr, ToWide(text).c_str(), L"kz51", MB_OK | icon | MB_TASKMODAL);
}

bool Win32Ui::RunModal(Form& form) {
  return RunFormModal(form);
}

void Win32Ui::UpdateProgress(const ProgressView& view) {
  if (progressWindow_ == nullptr) {
    if (!view.visible) return;
    INITCOMMONCONTROLSEX icc;
    icc.dwSize = sizeof(icc);
    icc.dwICC = ICC_PROGRESS_CLASS;
    InitCommonControlsEx(&icc);
    RECT r{0, 0, 382, 17};
    DWORD style = WS_POPUP | WS_CAPTION;
    DWORD exStyle = WS_EX_TOPMOST | WS_EX_DLGMODALFRAME;
    AdjustWindowRectEx(&r, style, FALSE, exStyle);
    progressWindow_ = CreateWindowExW(exStyle, L"STATIC", L"Waitting", style, CW_USEDEFAULT,
                                      CW_USEDEFAULT, r.right - r.left, r.bottom - r.top, nullptr,
                                      nullptr, GetModuleHandleW(nullptr), nullptr);
    if (progressWindow_ == nullptr) return;
    progressBar_ = CreateWindowExW(0, PROGRESS_CLASSW, L"", WS_CHILD | WS_VISIBLE, 0, 0, 382, 17,
                                   progressWindow_, nullptr, GetModuleHandleW(nullptr), nullptr);
  }
  SetWindowTextW(progressWindow_, ToWide(view.caption).c_str());
  if (progressBar_ != nullptr) {
    SendMessageW(progressBar_, PBM_SETRANGE32, static_cast<WPARAM>(view.minimum),
                 static_cast<LPARAM>(view.maximum));
    SendMessageW(progressBar_, PBM_SETPOS, static_cast<WPARAM>(view.position), 0);
  }
  ShowWindow(progressWindow_, view.visible ? SW_SHOWNOACTIVATE : SW_HIDE);
  // Keep the window painted while the caller's thread is busy with the emulator.
  MSG msg;
  while (PeekMessageW(&msg, progressWindow_, 0, 0, PM_REMOVE)) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

}  // namespace kz
