// Drives the driver's dialogs under wine the way a user would, through Win32
// messages from a second thread: DllUv3Cap(1) with OK and with Cancel, every
// CPU option dialog, and the retry dialog after a failed connection, all
// modal to the host's registered window; then the progress window. Checks
// that every caption fits its control at the screen's DPI and writes a BMP
// screenshot of each window into the directory given as argument (names end
// in "-144dpi" and so on away from 96 DPI).
// clang-format off
#include <windows.h>
#include <commctrl.h>
// Before the driver's headers: it keeps the A/W macros off the ports' names.
#include "platform/win32/Win32Ports.h"
// clang-format on

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "config/CPU_00AU.h"
#include "config/PrjOpt.h"
#include "config/TargetConfig.h"
#include "connect/ProgBar.h"
#include "unit/config/MdbBuilder.h"

namespace {

using kz::TPrjOptF;

int passed = 0, failed = 0;

void Check(bool ok, const std::string& what) {
  if (ok) {
    ++passed;
  } else {
    ++failed;
    std::printf("FAILED: %s\n", what.c_str());
  }
}

std::string Narrow(const std::wstring& w) {
  int n = WideCharToMultiByte(CP_UTF8, 0, w.c_str(), -1, nullptr, 0, nullptr, nullptr);
  std::string s(static_cast<size_t>(n > 0 ? n - 1 : 0), '\0');
  WideCharToMultiByte(CP_UTF8, 0, w.c_str(), -1, s.data(), n, nullptr, nullptr);
  return s;
}

std::wstring Text(HWND w) {
  wchar_t buf[512] = {};
  GetWindowTextW(w, buf, 512);
  return buf;
}

struct Search {
  std::wstring prefix;
  HWND found = nullptr;
};

BOOL CALLBACK FindProc(HWND w, LPARAM lp) {
  auto* s = reinterpret_cast<Search*>(lp);
  DWORD pid = 0;
  GetWindowThreadProcessId(w, &pid);
  if (pid == GetCurrentProcessId() && IsWindowVisible(w) &&
      Text(w).compare(0, s->prefix.size(), s->prefix) == 0) {
    s->found = w;
    return FALSE;
  }
  return TRUE;
}

// The visible top-level window of this process whose caption starts so.
HWND WaitWindow(const std::wstring& prefix) {
  for (int i = 0; i < 200; ++i) {
    Search s{prefix};
    EnumWindows(FindProc, reinterpret_cast<LPARAM>(&s));
    if (s.found != nullptr) {
      Sleep(300);  // let it paint
      return s.found;
    }
    Sleep(50);
  }
  return nullptr;
}

std::string shotDir;
int dpi = 96;

std::string ShotName(const char* name) {
  return dpi == 96 ? std::string(name) : std::string(name) + "-" + std::to_string(dpi) + "dpi";
}

// Every caption of a label, button, check box, radio button and group box
// fits its control at this DPI, in width and in height.
BOOL CALLBACK FitProc(HWND w, LPARAM lp) {
  auto* dialog = reinterpret_cast<const std::string*>(lp);
  if (!IsWindowVisible(w)) return TRUE;
  wchar_t cls[64] = {};
  GetClassNameW(w, cls, 64);
  const std::wstring name = cls;
  const bool button = _wcsicmp(cls, L"Button") == 0;
  if (!button && _wcsicmp(cls, L"Static") != 0) return TRUE;
  const std::wstring text = Text(w);
  if (text.empty()) return TRUE;
  const LONG style = GetWindowLongW(w, GWL_STYLE);
  RECT client;
  GetClientRect(w, &client);
  int room = client.right, height = client.bottom;
  const int type = style & BS_TYPEMASK;
  const int check = MulDiv(13, dpi, 96) + MulDiv(4, dpi, 96);  // the box or circle and its gap
  if (button && (type == BS_AUTOCHECKBOX || type == BS_CHECKBOX || type == BS_AUTORADIOBUTTON ||
                 type == BS_RADIOBUTTON))
    room -= check;
  else if (button && type == BS_GROUPBOX)
    room -= 2 * MulDiv(9, dpi, 96);  // the frame runs on both sides of the caption
  else if (button)
    room -= 2 * MulDiv(3, dpi, 96);  // a push button's edges
  HDC dc = GetDC(w);
  HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(w, WM_GETFONT, 0, 0)));
  SIZE extent{};
  GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &extent);
  SelectObject(dc, old);
  ReleaseDC(w, dc);
  const bool tall = button && type == BS_GROUPBOX ? true : extent.cy <= height;
  Check(extent.cx <= room && tall, *dialog + ": \"" + Narrow(text) + "\" needs " +
                                       std::to_string(extent.cx) + " x " +
                                       std::to_string(extent.cy) + " px, has " +
                                       std::to_string(room) + " x " + std::to_string(height));
  return TRUE;
}

void CheckTextsFit(HWND dlg, const std::string& name) {
  EnumChildWindows(dlg, FitProc, reinterpret_cast<LPARAM>(&name));
}

void Screenshot(HWND w, const char* name) {
  RedrawWindow(w, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
  Sleep(300);
  RECT r;
  GetWindowRect(w, &r);
  const int width = r.right - r.left, height = r.bottom - r.top;
  HDC screen = GetDC(nullptr);
  HDC mem = CreateCompatibleDC(screen);
  HBITMAP bmp = CreateCompatibleBitmap(screen, width, height);
  HGDIOBJ old = SelectObject(mem, bmp);
  BitBlt(mem, 0, 0, width, height, screen, r.left, r.top, SRCCOPY);
  SelectObject(mem, old);
  BITMAPINFOHEADER bi{};
  bi.biSize = sizeof bi;
  bi.biWidth = width;
  bi.biHeight = height;
  bi.biPlanes = 1;
  bi.biBitCount = 24;
  bi.biCompression = BI_RGB;
  const int stride = (width * 3 + 3) & ~3;
  std::vector<char> pixels(static_cast<size_t>(stride * height));
  GetDIBits(mem, bmp, 0, static_cast<UINT>(height), pixels.data(),
            reinterpret_cast<BITMAPINFO*>(&bi), DIB_RGB_COLORS);
  BITMAPFILEHEADER fh{};
  fh.bfType = 0x4D42;
  fh.bfOffBits = sizeof fh + sizeof bi;
  fh.bfSize = fh.bfOffBits + static_cast<DWORD>(pixels.size());
  std::ofstream out(shotDir + "\\" + ShotName(name) + ".bmp", std::ios::binary);
  out.write(reinterpret_cast<const char*>(&fh), sizeof fh);
  out.write(reinterpret_cast<const char*>(&bi), sizeof bi);
  out.write(pixels.data(), static_cast<std::streamsize>(pixels.size()));
  DeleteObject(bmp);
  DeleteDC(mem);
  ReleaseDC(nullptr, screen);
  Check(out.good(), std::string("screenshot ") + name);
}

std::vector<std::wstring> ListItems(HWND list, bool combo) {
  std::vector<std::wstring> items;
  const auto n = SendMessageW(list, combo ? CB_GETCOUNT : LB_GETCOUNT, 0, 0);
  for (int i = 0; i < n; ++i) {
    wchar_t buf[256] = {};
    SendMessageW(list, combo ? CB_GETLBTEXT : LB_GETTEXT, static_cast<WPARAM>(i),
                 reinterpret_cast<LPARAM>(buf));
    items.emplace_back(buf);
  }
  return items;
}

// Selects a list position and sends the notification a user's click sends.
void SelectListItem(HWND dlg, int id, int position) {
  HWND list = GetDlgItem(dlg, id);
  SendMessageW(list, LB_SETCURSEL, static_cast<WPARAM>(position), 0);
  SendMessageW(dlg, WM_COMMAND, MAKEWPARAM(id, LBN_SELCHANGE), reinterpret_cast<LPARAM>(list));
}

void SelectComboItem(HWND dlg, int id, int position) {
  HWND combo = GetDlgItem(dlg, id);
  SendMessageW(combo, CB_SETCURSEL, static_cast<WPARAM>(position), 0);
  SendMessageW(dlg, WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE), reinterpret_cast<LPARAM>(combo));
}

int Selected(HWND dlg, int id, bool combo = false) {
  return static_cast<int>(
      SendMessageW(GetDlgItem(dlg, id), combo ? CB_GETCURSEL : LB_GETCURSEL, 0, 0));
}

// A key as the user presses it on the focused control; the dialog manager's
// message loop turns Enter and Escape into OK and Cancel.
void PressKey(HWND dlg, WPARAM key) {
  HWND target = GetDlgItem(dlg, TPrjOptF::kOscStr);
  PostMessageW(target, WM_KEYDOWN, key, 0);
  PostMessageW(target, WM_KEYUP, key, 0xC0000001);
}

using CapFn = std::int32_t(__cdecl*)(std::int32_t);
using EnumFn = std::int32_t(__cdecl*)(void*, std::int32_t);
using InitFn = std::int32_t(__cdecl*)(std::uint16_t, void*);

struct Call {
  CapFn cap = nullptr;
  EnumFn enumerate = nullptr;
  std::int32_t answer = -1;
};

// The debugger's main window, on a thread of its own that pumps messages as
// a host's user interface thread does. WM_APP makes it call DllUv3Cap(1)
// itself, as a host does from its menu.
struct HostWindow {
  HWND window = nullptr;
  HANDLE ready = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  HANDLE capDone = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  Call* call = nullptr;
};

LRESULT CALLBACK HostProc(HWND w, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_APP) {
    auto* host = reinterpret_cast<HostWindow*>(lp);
    host->call->answer = host->call->cap(1);
    SetEvent(host->capDone);
    return 0;
  }
  return DefWindowProcW(w, msg, wp, lp);
}

DWORD WINAPI HostThread(void* p) {
  auto* host = static_cast<HostWindow*>(p);
  WNDCLASSW wc{};
  wc.lpfnWndProc = HostProc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = L"DebuggerHost";
  RegisterClassW(&wc);
  host->window = CreateWindowExW(0, L"DebuggerHost", L"Debugger host", WS_OVERLAPPEDWINDOW, 0, 0,
                                 200, 100, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
  ShowWindow(host->window, SW_SHOWNOACTIVATE);
  SetEvent(host->ready);
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return 0;
}

DWORD WINAPI CapThread(void* p) {
  auto* c = static_cast<Call*>(p);
  c->answer = c->cap(1);
  return 0;
}
DWORD WINAPI EnumThread(void* p) {
  auto* c = static_cast<Call*>(p);
  c->answer = c->enumerate(nullptr, 2);
  return 0;
}

HANDLE Start(LPTHREAD_START_ROUTINE fn, Call& call) {
  return CreateThread(nullptr, 0, fn, &call, 0, nullptr);
}

bool Finish(HANDLE thread) {
  const bool done = WaitForSingleObject(thread, 30000) == WAIT_OBJECT_0;
  CloseHandle(thread);
  return done;
}

// The dialog is modal to the host's window: owned by it, with the window
// disabled while the dialog is up.
void CheckModalToHost(HWND dlg, HWND host, const std::string& what) {
  Check(GetWindow(dlg, GW_OWNER) == host, what + " is owned by the host's window");
  Check(IsWindowEnabled(host) == FALSE, "the host's window is disabled during " + what);
}

// The progress window: a progress bar control filling the client area, a
// blue bar on the button face colour, no border and no text in the client
// area.
void CheckProgressWindow() {
  kz::Win32Ui ui;
  kz::TProgForm progress(ui);
  progress.Start(10, "Configure FPGA ...");
  progress.Show();
  for (int i = 0; i < 5; ++i) progress.Step();
  HWND w = WaitWindow(L"Configure FPGA ...");
  Check(w != nullptr, "the progress window shows with its caption");
  if (w == nullptr) return;
  RECT client;
  GetClientRect(w, &client);
  Check(client.right == 382 && client.bottom == 17, "progress client area 382 x 17");
  HWND bar = GetWindow(w, GW_CHILD);
  wchar_t cls[64] = {};
  if (bar != nullptr) GetClassNameW(bar, cls, 64);
  Check(bar != nullptr && std::wstring(cls) == PROGRESS_CLASSW, "the gauge is a progress bar");
  if (bar == nullptr) return;
  const LONG ex = GetWindowLongW(bar, GWL_EXSTYLE);
  Check((ex & (WS_EX_STATICEDGE | WS_EX_CLIENTEDGE)) == 0 &&
            (GetWindowLongW(bar, GWL_STYLE) & WS_BORDER) == 0,
        "the gauge has no border");
  Check(static_cast<int>(SendMessageW(bar, PBM_GETPOS, 0, 0)) == 5, "the gauge stands at 5");
  Screenshot(w, "TProgForm");
  // Half the width blue, the rest the button face colour, nothing else.
  POINT origin{0, 0};
  ClientToScreen(w, &origin);
  HDC screen = GetDC(nullptr);
  const COLORREF face = GetSysColor(COLOR_BTNFACE);
  int blue = 0, plain = 0, other = 0;
  for (int y = 0; y < 17; ++y) {
    for (int x = 0; x < 382; ++x) {
      const COLORREF c = GetPixel(screen, origin.x + x, origin.y + y);
      if (c == RGB(0, 0, 255))
        ++blue;
      else if (c == face)
        ++plain;
      else
        ++other;
    }
  }
  ReleaseDC(nullptr, screen);
  std::printf("progress window: %d blue, %d button face, %d other pixels\n", blue, plain, other);
  Check(other == 0, "the progress window's client area is bar and background only");
  // The control keeps a line of background above and below the bar.
  Check(blue >= 15 * 185 && blue <= 17 * 195, "the bar fills half the width");
  progress.Reset();
  progress.Hide();
}

std::vector<std::uint8_t> ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in),
                                   std::istreambuf_iterator<char>());
}

std::int32_t Le32(const std::vector<std::uint8_t>& b, size_t at) {
  return static_cast<std::int32_t>(b[at] | b[at + 1] << 8 | b[at + 2] << 16 |
                                   static_cast<std::uint32_t>(b[at + 3]) << 24);
}

constexpr std::uint32_t Pod(int n) {
  return 1u << (n - 1);
}

// Opens the selected pod's option dialog, screenshots it and closes it
// with Cancel.
void ShootOptionDialog(HWND dlg, int podPosition, const char* name) {
  SelectListItem(dlg, TPrjOptF::kListBoxPOD, podPosition);
  PostMessageW(dlg, WM_COMMAND, MAKEWPARAM(TPrjOptF::kBtnCPUOpt, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(dlg, TPrjOptF::kBtnCPUOpt)));
  HWND option = WaitWindow(L"POD Setting");
  Check(option != nullptr, std::string("option dialog ") + name + " opens");
  if (option == nullptr) return;
  Check(GetWindow(option, GW_OWNER) == dlg, std::string(name) + " is owned by the project dialog");
  CheckTextsFit(option, name);
  Screenshot(option, name);
  SendMessageW(option, WM_COMMAND, IDCANCEL, 0);
  Sleep(200);
}

}  // namespace

int main(int argc, char** argv) {
  shotDir = argc > 1 ? argv[1] : ".";
  // The data directory is this program's: a database with a GBK vendor name.
  char exe[MAX_PATH];
  GetModuleFileNameA(nullptr, exe, MAX_PATH);
  std::string dir(exe);
  dir.resize(dir.find_last_of('\\') + 1);
  const std::string chip = "\xD0\xBE\xC6\xAC";  // "芯片" in GBK
  const std::vector<kz::test::TestVendor> vendors = {
      {"Alpha Devices", {{"AD51", Pod(1) | Pod(2), 0, 0, 0xFF}, {"AD52", Pod(1)}}},
      {chip + " Semi", {{chip + "8051", Pod(2) | Pod(8) | Pod(9)}, {"XC52", Pod(2)}}}};
  {
    const auto mdb = kz::test::BuildDatabase(vendors);
    std::ofstream out(dir + "KZ.MDB", std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(mdb.data()), static_cast<std::streamsize>(mdb.size()));
  }
  DeleteFileA((dir + "ZOLTKEIL.DSK").c_str());

  HMODULE dll = LoadLibraryA("KZ_DLL.dll");
  Check(dll != nullptr, "KZ_DLL.dll loads");
  if (dll == nullptr) return 1;
  Call call;
  call.cap = reinterpret_cast<CapFn>(reinterpret_cast<void*>(GetProcAddress(dll, "DllUv3Cap")));
  call.enumerate =
      reinterpret_cast<EnumFn>(reinterpret_cast<void*>(GetProcAddress(dll, "EnumUv351")));
  auto init = reinterpret_cast<InitFn>(reinterpret_cast<void*>(GetProcAddress(dll, "AG_Init")));
  {
    HDC screen = GetDC(nullptr);
    dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
  }
  std::printf("screen: %d DPI\n", dpi);

  // The host's window, registered as the host does before it opens the dialog.
  HostWindow host;
  host.call = &call;
  DWORD hostThreadId = 0;
  HANDLE hostThread = CreateThread(nullptr, 0, HostThread, &host, 0, &hostThreadId);
  Check(WaitForSingleObject(host.ready, 10000) == WAIT_OBJECT_0 && host.window != nullptr,
        "the host's window opens");
  init(0x30A, host.window);

  // ---- DllUv3Cap(1) from the host's thread: choices, the pod's option
  // dialog, Enter ------------------------------------------------------------
  PostMessageW(host.window, WM_APP, 0, reinterpret_cast<LPARAM>(&host));
  HWND dlg = WaitWindow(L"Emulator option");
  Check(dlg != nullptr, "the project dialog opens");
  if (dlg == nullptr) return 1;
  CheckModalToHost(dlg, host.window, "the project dialog");
  RECT client;
  GetClientRect(dlg, &client);
  if (dpi == 96) {
    Check(client.right == 452 && client.bottom == 304, "client area 452 x 304");
  } else {
    // Everything grows with the font, the window too.
    const int w = MulDiv(452, dpi, 96), h = MulDiv(304, dpi, 96);
    Check(client.right >= w * 9 / 10 && client.right <= w * 11 / 10 &&
              client.bottom >= h * 9 / 10 && client.bottom <= h * 11 / 10,
          "client area grows with the DPI: " + std::to_string(client.right) + " x " +
              std::to_string(client.bottom));
  }
  Check((GetWindowLongW(dlg, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0, "stays on top");
  const std::pair<int, const wchar_t*> texts[] = {{TPrjOptF::kLabelEmuSel, L"Select Emulator"},
                                                  {TPrjOptF::kLabelPODSel, L"Select POD"},
                                                  {TPrjOptF::kVendorSelect, L"Select Vendor"},
                                                  {TPrjOptF::kLabelCPUSel, L"Select CPU"},
                                                  {TPrjOptF::kBtnCPUOpt, L"POD Setting"},
                                                  {TPrjOptF::kOscSelect, L"Oscillator(Hz)"},
                                                  {TPrjOptF::kOscStr, L"0"},
                                                  {IDOK, L"OK"},
                                                  {IDCANCEL, L"Cancel"},
                                                  {TPrjOptF::kHelp, L"Help"}};
  for (const auto& [id, text] : texts)
    Check(Text(GetDlgItem(dlg, id)) == text,
          "text of control " + std::to_string(id) + ": " + Narrow(Text(GetDlgItem(dlg, id))));
  const auto emus = ListItems(GetDlgItem(dlg, TPrjOptF::kListBoxEmu), false);
  Check(emus.size() == 10 && Selected(dlg, TPrjOptF::kListBoxEmu) == 0, "ten emulators, first");
  const auto pods = ListItems(GetDlgItem(dlg, TPrjOptF::kListBoxPOD), false);
  Check(pods.size() == 17 && pods[0] == L"Pod 51-A", "emulator 1 offers 17 pods");
  Check(ListItems(GetDlgItem(dlg, TPrjOptF::kListBoxCPU), false) ==
            std::vector<std::wstring>{L"AD51", L"AD52"},
        "Alpha's CPUs for pod 1");
  SelectListItem(dlg, TPrjOptF::kListBoxEmu, 1);  // JY/T
  SelectListItem(dlg, TPrjOptF::kListBoxPOD, 1);  // pod 2
  auto vendorItems = ListItems(GetDlgItem(dlg, TPrjOptF::kVendorList), true);
  Check(vendorItems.size() == 2 && vendorItems[1] == L"芯片 Semi",
        "the GBK vendor name reads 芯片 Semi: " + std::to_string(vendorItems.size()) + " " +
            (vendorItems.empty() ? "" : Narrow(vendorItems.back())));
  SelectComboItem(dlg, TPrjOptF::kVendorList, 1);  // the GBK vendor
  Check(Selected(dlg, TPrjOptF::kListBoxCPU) == -1, "the vendor change keeps the CPU number");
  SelectListItem(dlg, TPrjOptF::kListBoxCPU, 1);  // XC52, CPU 4
  Check(ListItems(GetDlgItem(dlg, TPrjOptF::kListBoxCPU), false) ==
            std::vector<std::wstring>{L"芯片8051", L"XC52"},
        "the GBK vendor's CPUs for pod 2");
  SetWindowTextW(GetDlgItem(dlg, TPrjOptF::kOscStr), L"12000000");
  CheckTextsFit(dlg, "TPrjOptF");
  Screenshot(dlg, "TPrjOptF");
  // Pod 2's dialog: P0/P2 function and XTAL2.
  PostMessageW(dlg, WM_COMMAND, MAKEWPARAM(TPrjOptF::kBtnCPUOpt, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(dlg, TPrjOptF::kBtnCPUOpt)));
  HWND option = WaitWindow(L"POD Setting");
  Check(option != nullptr, "pod 2's option dialog opens");
  if (option != nullptr) {
    Check(Text(GetDlgItem(option, kz::TCPU_00AF::kXDATA)) == L"P0, P2 function select",
          "XDATA group caption");
    Check(Text(GetDlgItem(option, kz::RadioItemId(kz::TCPU_00AF::kXTAL2, 1))) ==
              L"XTAL2 output clock",
          "XTAL2 item text");
    Check(IsDlgButtonChecked(option, kz::RadioItemId(kz::TCPU_00AF::kXDATA, 0)) == BST_CHECKED,
          "XDATA starts on item 0");
    SendMessageW(GetDlgItem(option, kz::RadioItemId(kz::TCPU_00AF::kXDATA, 1)), BM_CLICK, 0, 0);
    CheckTextsFit(option, "TCPU_00AF");
    Screenshot(option, "TCPU_00AF");
    SendMessageW(option, WM_COMMAND, IDOK, 0);
  }
  Sleep(200);
  PressKey(dlg, VK_RETURN);
  Check(WaitForSingleObject(host.capDone, 30000) == WAIT_OBJECT_0,
        "DllUv3Cap(1) returns after Enter");
  Check(call.answer == 1, "DllUv3Cap(1) answers 1 for OK");
  Check(IsWindowEnabled(host.window) != FALSE, "the host's window is enabled again after OK");
  auto dsk = ReadFileBytes(dir + "ZOLTKEIL.DSK");
  Check(dsk.size() == kz::kTargetConfigSize, "ZOLTKEIL.DSK is saved whole");
  if (dsk.size() == kz::kTargetConfigSize) {
    Check(Le32(dsk, 256) == 1, "EmulatorIndex 1");
    Check(Le32(dsk, 260) == 1, "PodIndex 1");
    Check(Le32(dsk, 264) == 0x20004, "CpuSelection vendor 2, CPU 4");
    Check(Le32(dsk, 1068) == 12000000, "CrystalHz 12000000");
    Check(dsk[1085] == 1, "SixClockMode 1 from the option dialog");
    Check(dsk[1102] == 0, "same family: PodFamilyChanged stays 0");
  }

  // ---- again, from another thread: every option dialog, then Escape ---------
  HANDLE t = Start(CapThread, call);
  dlg = WaitWindow(L"Emulator option");
  Check(dlg != nullptr, "the project dialog opens again");
  if (dlg == nullptr) return 1;
  CheckModalToHost(dlg, host.window, "the project dialog of another thread");
  Check(Selected(dlg, TPrjOptF::kListBoxPOD) == 1, "it shows the stored pod");
  Check(Text(GetDlgItem(dlg, TPrjOptF::kOscStr)) == L"12000000", "and the stored frequency");
  SelectListItem(dlg, TPrjOptF::kListBoxEmu, 0);
  ShootOptionDialog(dlg, 0, "TCPU_O02F");   // pod 1
  ShootOptionDialog(dlg, 7, "TCPU_O03F");   // pod 8
  ShootOptionDialog(dlg, 8, "TCPU_O0B");    // pod 9
  ShootOptionDialog(dlg, 10, "TCPU_O04F");  // pod 18
  SelectListItem(dlg, TPrjOptF::kListBoxPOD, 0);
  SetWindowTextW(GetDlgItem(dlg, TPrjOptF::kOscStr), L"5000000");
  PressKey(dlg, VK_ESCAPE);
  Check(Finish(t), "DllUv3Cap(1) returns after Escape");
  Check(call.answer == 0, "DllUv3Cap(1) answers 0 for Cancel");
  Check(IsWindowEnabled(host.window) != FALSE, "the host's window is enabled again after Cancel");
  dsk = ReadFileBytes(dir + "ZOLTKEIL.DSK");
  if (dsk.size() == kz::kTargetConfigSize) {
    Check(Le32(dsk, 260) == 0, "Cancel keeps the clicked pod");
    Check(Le32(dsk, 1068) == 12000000, "Cancel drops the typed frequency");
  }

  // ---- a failed connection: the retry dialog shows the failure -----------
  // The emulator has pod 2 plugged in (KZ51_EMU), the settings say pod 1.
  t = Start(EnumThread, call);
  dlg = WaitWindow(L"POD not match: ");
  Check(dlg != nullptr, "the retry dialog's caption reads POD not match: ...");
  if (dlg != nullptr) {
    std::printf("retry caption: %s\n", Narrow(Text(dlg)).c_str());
    CheckModalToHost(dlg, host.window, "the retry dialog");
    Screenshot(dlg, "TPrjOptF-retry");
    SendMessageW(dlg, WM_CLOSE, 0, 0);  // the close box cancels
  }
  HWND box = WaitWindow(L"kz51");
  Check(box != nullptr, "the failure box follows");
  if (box != nullptr) {
    CheckModalToHost(box, host.window, "the failure box");
    PostMessageW(box, WM_COMMAND, IDOK, 0);
  }
  Check(Finish(t), "EnumUv351 returns");
  Check(call.answer == 0, "EnumUv351 answers 0 after Cancel");
  Check(IsWindowEnabled(host.window) != FALSE, "the host's window is enabled after the failure");
  PostMessageW(host.window, WM_CLOSE, 0, 0);
  PostThreadMessageW(hostThreadId, WM_QUIT, 0, 0);
  Finish(hostThread);

  // ---- the progress window ---------------------------------------------------
  CheckProgressWindow();

  std::printf("%d checks passed, %d failed\n", passed, failed);
  return failed == 0 ? 0 : 1;
}
