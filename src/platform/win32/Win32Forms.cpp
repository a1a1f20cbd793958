// The Win32 renderer of form models: a real modal dialog built from an
// in-memory dialog template, one native control per model control.
// clang-format off
#include "platform/win32/Win32Ports.h"  // windows.h must precede commctrl.h
#include <commctrl.h>
// clang-format on

#include <cstdint>
#include <cstring>
#include <vector>

namespace kz {

std::wstring GbkToWide(const std::string& text) {
  if (text.empty()) return std::wstring();
  const int n = MultiByteToWideChar(936, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  if (n <= 0) return std::wstring(text.begin(), text.end());
  std::wstring out(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(936, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
  return out;
}

std::string WideToGbk(const std::wstring& text) {
  if (text.empty()) return std::string();
  const int n = WideCharToMultiByte(936, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                    nullptr, nullptr);
  if (n <= 0) return std::string();
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(936, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr,
                      nullptr);
  return out;
}

namespace {

// Predefined window classes by atom, as dialog templates name them.
constexpr WORD kButtonAtom = 0x0080;
constexpr WORD kEditAtom = 0x0081;
constexpr WORD kStaticAtom = 0x0082;
constexpr WORD kListBoxAtom = 0x0083;
constexpr WORD kComboAtom = 0x0085;

// The widget ids of the dialog manager's OK and Cancel.
int WidgetId(const Control& c) {
  if (c.role == ButtonRole::Ok) return IDOK;
  if (c.role == ButtonRole::Cancel) return IDCANCEL;
  return c.id;
}

class TemplateWriter {
 public:
  void Word(WORD w) { bytes_.push_back(w); }
  void DWord(DWORD d) {
    Word(static_cast<WORD>(d & 0xFFFF));
    Word(static_cast<WORD>(d >> 16));
  }
  void Text(const wchar_t* s) {
    for (; *s != 0; ++s) Word(static_cast<WORD>(*s));
    Word(0);
  }
  void AlignDWord() {
    if (bytes_.size() % 2 != 0) Word(0);
  }
  std::vector<WORD>& Data() { return bytes_; }

  void Item(DWORD style, int id, WORD atom, const wchar_t* className) {
    AlignDWord();
    DWord(style | WS_CHILD);
    DWord(0);                             // extended style
    for (int i = 0; i < 4; ++i) Word(0);  // placed in pixels at WM_INITDIALOG
    Word(static_cast<WORD>(id));
    if (className != nullptr) {
      Text(className);
    } else {
      Word(0xFFFF);
      Word(atom);
    }
    Word(0);  // no initial text: the model's texts are pushed later
    Word(0);  // no creation data
    ++count_;
  }
  int Count() const { return count_; }

 private:
  std::vector<WORD> bytes_;
  int count_ = 0;
};

// The form models place their controls in pixels for the dialog font at 96
// DPI. At another DPI the font grows, and every place and size grows with it
// by the same ratio, measured on the font itself: at 144 DPI about half as
// large again. At 96 DPI the ratio is exactly 1.
struct Scale {
  int numX = 1, denX = 1, numY = 1, denY = 1;
  int X(int v) const { return MulDiv(v, numX, denX); }
  int Y(int v) const { return MulDiv(v, numY, denY); }
};

struct Session {
  Form* form = nullptr;
  bool pushing = false;
  Scale scale;
};

// Average character width (over the alphabet, as the dialog manager's base
// units) and height of a font.
SIZE FontCell(HDC dc, HFONT font) {
  static const wchar_t kAlphabet[] = L"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
  HGDIOBJ old = SelectObject(dc, font);
  SIZE extent{};
  GetTextExtentPoint32W(dc, kAlphabet, 52, &extent);
  TEXTMETRICW tm{};
  GetTextMetricsW(dc, &tm);
  SelectObject(dc, old);
  return {extent.cx, tm.tmHeight};
}

Scale FontScale(HWND dlg) {
  Scale s;
  auto* font = reinterpret_cast<HFONT>(SendMessageW(dlg, WM_GETFONT, 0, 0));
  LOGFONTW lf{};
  if (font == nullptr || GetObjectW(font, sizeof lf, &lf) == 0) return s;
  HDC dc = GetDC(dlg);
  const int dpi = GetDeviceCaps(dc, LOGPIXELSY);
  if (dpi > 0 && dpi != 96) {
    LOGFONTW at96 = lf;
    at96.lfHeight = MulDiv(lf.lfHeight, 96, dpi);
    at96.lfWidth = MulDiv(lf.lfWidth, 96, dpi);
    HFONT reference = CreateFontIndirectW(&at96);
    if (reference != nullptr) {
      const SIZE now = FontCell(dc, font), then = FontCell(dc, reference);
      if (now.cx > 0 && now.cy > 0 && then.cx > 0 && then.cy > 0)
        s = {now.cx, then.cx, now.cy, then.cy};
      DeleteObject(reference);
    }
  }
  ReleaseDC(dlg, dc);
  return s;
}

// The dialogs open on this thread, innermost last: a nested dialog is owned
// by the one whose handler opened it.
thread_local std::vector<HWND> openDialogs;

HWND Widget(HWND dlg, const Control& c) {
  return GetDlgItem(dlg, WidgetId(c));
}

void SetText(HWND w, const std::string& text) {
  SetWindowTextW(w, GbkToWide(text).c_str());
}

// Places a widget at model pixels; edges are scaled rather than sizes, so
// controls that touch at 96 DPI still touch.
void Place(HWND w, const Scale& s, const Bounds& b, int extraHeight = 0) {
  const int x = s.X(b.x), y = s.Y(b.y);
  MoveWindow(w, x, y, s.X(b.x + b.w) - x, s.Y(b.y + b.h + extraHeight) - y, FALSE);
}

void LayOut(HWND dlg, const Form& form, const Scale& s) {
  for (const Control& c : form.controls) {
    HWND w = Widget(dlg, c);
    switch (c.kind) {
      case ControlKind::Page:
        break;
      case ControlKind::DropDownList:
        Place(w, s, c.bounds, 200);  // the height of the opened list
        break;
      case ControlKind::RadioGroup: {
        Place(w, s, c.bounds);
        for (std::size_t k = 0; k < c.items.size(); ++k) {
          const Bounds item{c.bounds.x + 10, c.bounds.y + 20 + static_cast<int>(k) * 18,
                            c.bounds.w - 16, 18};
          Place(GetDlgItem(dlg, RadioItemId(c.id, static_cast<int>(k))), s, item);
        }
        break;
      }
      case ControlKind::PageControl:
      case ControlKind::Panel:
      case ControlKind::GroupBox:
        Place(w, s, c.bounds);
        // Containers lie under the controls they hold.
        SetWindowPos(w, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
        break;
      default:
        Place(w, s, c.bounds);
        break;
    }
  }
}

std::wstring WindowText(HWND w) {
  std::wstring t(static_cast<size_t>(GetWindowTextLengthW(w)) + 1, L'\0');
  t.resize(static_cast<size_t>(GetWindowTextW(w, t.data(), static_cast<int>(t.size()))));
  return t;
}

void Push(HWND dlg, Session& s) {
  s.pushing = true;
  const Form& form = *s.form;
  SetText(dlg, form.caption);
  for (const Control& c : form.controls) {
    HWND w = Widget(dlg, c);
    if (w == nullptr) continue;
    switch (c.kind) {
      case ControlKind::ListBox:
        SendMessageW(w, LB_RESETCONTENT, 0, 0);
        for (const auto& item : c.items)
          SendMessageW(w, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(GbkToWide(item).c_str()));
        SendMessageW(w, LB_SETCURSEL, static_cast<WPARAM>(c.selected), 0);
        break;
      case ControlKind::DropDownList:
        SendMessageW(w, CB_RESETCONTENT, 0, 0);
        for (const auto& item : c.items)
          SendMessageW(w, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(GbkToWide(item).c_str()));
        SendMessageW(w, CB_SETCURSEL, static_cast<WPARAM>(c.selected), 0);
        break;
      case ControlKind::PageControl: {
        SendMessageW(w, TCM_DELETEALLITEMS, 0, 0);
        for (std::size_t k = 0; k < c.items.size(); ++k) {
          std::wstring text = GbkToWide(c.items[k]);
          TCITEMW item{};
          item.mask = TCIF_TEXT;
          item.pszText = text.data();
          SendMessageW(w, TCM_INSERTITEMW, k, reinterpret_cast<LPARAM>(&item));
        }
        SendMessageW(w, TCM_SETCURSEL, static_cast<WPARAM>(c.selected < 0 ? 0 : c.selected), 0);
        break;
      }
      case ControlKind::RadioGroup:
        SetText(w, c.caption);
        for (std::size_t k = 0; k < c.items.size(); ++k) {
          HWND item = GetDlgItem(dlg, RadioItemId(c.id, static_cast<int>(k)));
          SetText(item, c.items[k]);
          SendMessageW(item, BM_SETCHECK,
                       static_cast<int>(k) == c.selected ? BST_CHECKED : BST_UNCHECKED, 0);
          EnableWindow(item, c.enabled);
          ShowWindow(item, c.visible ? SW_SHOWNA : SW_HIDE);
        }
        break;
      case ControlKind::CheckBox:
        SetText(w, c.caption);
        SendMessageW(w, BM_SETCHECK, c.checked ? BST_CHECKED : BST_UNCHECKED, 0);
        break;
      case ControlKind::Edit:
        // Rewriting an unchanged text would move the caret.
        if (GbkToWide(c.text) != WindowText(w)) SetText(w, c.text);
        break;
      case ControlKind::Gauge:
      case ControlKind::Page:
        break;
      default:
        SetText(w, c.caption);
        break;
    }
    EnableWindow(w, c.enabled);
    ShowWindow(w, c.visible ? SW_SHOWNA : SW_HIDE);
  }
  InvalidateRect(dlg, nullptr, TRUE);
  s.pushing = false;
}

void Pull(HWND dlg, Form& form) {
  for (Control& c : form.controls) {
    HWND w = Widget(dlg, c);
    if (w == nullptr) continue;
    switch (c.kind) {
      case ControlKind::ListBox: {
        const LRESULT r = SendMessageW(w, LB_GETCURSEL, 0, 0);
        c.selected = r == LB_ERR ? -1 : static_cast<int>(r);
        break;
      }
      case ControlKind::DropDownList: {
        const LRESULT r = SendMessageW(w, CB_GETCURSEL, 0, 0);
        c.selected = r == CB_ERR ? -1 : static_cast<int>(r);
        break;
      }
      case ControlKind::RadioGroup:
        c.selected = -1;
        for (std::size_t k = 0; k < c.items.size(); ++k)
          if (IsDlgButtonChecked(dlg, RadioItemId(c.id, static_cast<int>(k))) == BST_CHECKED)
            c.selected = static_cast<int>(k);
        break;
      case ControlKind::CheckBox:
        c.checked = SendMessageW(w, BM_GETCHECK, 0, 0) == BST_CHECKED;
        break;
      case ControlKind::Edit:
        c.text = WideToGbk(WindowText(w));
        break;
      default:
        break;
    }
  }
}

// The control an id of a widget belongs to (a radio item belongs to its group).
Control* Owner(Form& form, int widgetId) {
  for (Control& c : form.controls) {
    if (WidgetId(c) == widgetId && c.kind != ControlKind::Page) return &c;
    if (c.kind == ControlKind::RadioGroup && widgetId > c.id &&
        widgetId <= c.id + static_cast<int>(c.items.size())) {
      return &c;
    }
  }
  return nullptr;
}

void Centre(HWND dlg) {
  RECT r;
  GetWindowRect(dlg, &r);
  const int w = r.right - r.left, h = r.bottom - r.top;
  const int x = (GetSystemMetrics(SM_CXSCREEN) - w) / 2;
  const int y = (GetSystemMetrics(SM_CYSCREEN) - h) / 2;
  SetWindowPos(dlg, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

INT_PTR CALLBACK DialogProc(HWND dlg, UINT msg, WPARAM wp, LPARAM lp) {
  auto* s = reinterpret_cast<Session*>(GetWindowLongPtrW(dlg, DWLP_USER));
  switch (msg) {
    case WM_INITDIALOG: {
      s = reinterpret_cast<Session*>(lp);
      SetWindowLongPtrW(dlg, DWLP_USER, lp);
      openDialogs.push_back(dlg);
      Form& form = *s->form;
      const DWORD style = static_cast<DWORD>(GetWindowLongPtrW(dlg, GWL_STYLE));
      const DWORD exStyle = static_cast<DWORD>(GetWindowLongPtrW(dlg, GWL_EXSTYLE));
      s->scale = FontScale(dlg);
      RECT r{0, 0, s->scale.X(form.clientWidth), s->scale.Y(form.clientHeight)};
      AdjustWindowRectEx(&r, style, FALSE, exStyle);
      SetWindowPos(dlg, form.stayOnTop ? HWND_TOPMOST : nullptr, 0, 0, r.right - r.left,
                   r.bottom - r.top, SWP_NOMOVE | (form.stayOnTop ? 0 : SWP_NOZORDER));
      if (form.centred) Centre(dlg);
      LayOut(dlg, form, s->scale);
      Push(dlg, *s);
      return TRUE;
    }
    case WM_DESTROY:
      if (!openDialogs.empty()) openDialogs.pop_back();
      return FALSE;
    case WM_COMMAND: {
      if (s == nullptr || s->pushing) return TRUE;
      const int id = LOWORD(wp);
      const int code = HIWORD(wp);
      Form& form = *s->form;
      if (id == IDOK) {
        Pull(dlg, form);
        EndDialog(dlg, 1);
        return TRUE;
      }
      if (id == IDCANCEL) {
        EndDialog(dlg, 0);
        return TRUE;
      }
      Control* c = Owner(form, id);
      if (c == nullptr || !c->enabled || !c->visible) return TRUE;
      bool click = false, change = false;
      switch (c->kind) {
        case ControlKind::ListBox:
          click = code == LBN_SELCHANGE;
          break;
        case ControlKind::DropDownList:
          change = code == CBN_SELCHANGE;
          break;
        case ControlKind::RadioGroup:
        case ControlKind::CheckBox:
        case ControlKind::Button:
          click = code == BN_CLICKED && c->role == ButtonRole::None;
          break;
        default:
          break;
      }
      if (!click && !change) return TRUE;
      const int controlId = c->id;
      Pull(dlg, form);
      if (click)
        form.OnClick(controlId);
      else
        form.OnChange(controlId);
      Push(dlg, *s);
      return TRUE;
    }
    default:
      return FALSE;
  }
}

std::vector<WORD> BuildTemplate(const Form& form) {
  TemplateWriter t;
  // DLGTEMPLATE: style, extended style, item count (patched below), position
  // and size (set in pixels at WM_INITDIALOG), no menu, the default class,
  // no caption (pushed later), then the font.
  t.DWord(DS_MODALFRAME | DS_SETFONT | WS_POPUP | WS_CAPTION | WS_SYSMENU);
  t.DWord(form.stayOnTop ? WS_EX_TOPMOST : 0);
  t.Word(0);
  for (int i = 0; i < 4; ++i) t.Word(0);
  t.Word(0);
  t.Word(0);
  t.Word(0);
  t.Word(9);
  t.Text(L"MS Shell Dlg");
  // Every control starts hidden; the first push shows the visible ones.
  for (const Control& c : form.controls) {
    switch (c.kind) {
      case ControlKind::ListBox:
        t.Item(WS_GROUP | WS_TABSTOP | WS_BORDER | WS_VSCROLL | LBS_NOTIFY | LBS_NOINTEGRALHEIGHT,
               WidgetId(c), kListBoxAtom, nullptr);
        break;
      case ControlKind::DropDownList:
        t.Item(WS_GROUP | WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWNLIST, WidgetId(c), kComboAtom,
               nullptr);
        break;
      case ControlKind::RadioGroup:
        t.Item(WS_GROUP | BS_GROUPBOX, c.id, kButtonAtom, nullptr);
        for (std::size_t k = 0; k < c.items.size(); ++k)
          t.Item(BS_AUTORADIOBUTTON | (k == 0 ? WS_GROUP | WS_TABSTOP : 0),
                 RadioItemId(c.id, static_cast<int>(k)), kButtonAtom, nullptr);
        break;
      case ControlKind::CheckBox:
        t.Item(WS_GROUP | WS_TABSTOP | BS_AUTOCHECKBOX, c.id, kButtonAtom, nullptr);
        break;
      case ControlKind::Edit:
        t.Item(WS_GROUP | WS_TABSTOP | WS_BORDER | ES_AUTOHSCROLL, c.id, kEditAtom, nullptr);
        break;
      case ControlKind::Label:
        t.Item(WS_GROUP | SS_LEFT | SS_NOPREFIX, c.id, kStaticAtom, nullptr);
        break;
      case ControlKind::Button:
        t.Item(
            WS_GROUP | WS_TABSTOP | (c.role == ButtonRole::Ok ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON),
            WidgetId(c), kButtonAtom, nullptr);
        break;
      case ControlKind::PageControl:
        t.Item(WS_GROUP | WS_CLIPSIBLINGS, c.id, 0, WC_TABCONTROLW);
        break;
      case ControlKind::Panel:
        t.Item(WS_GROUP | SS_ETCHEDFRAME, c.id, kStaticAtom, nullptr);
        break;
      case ControlKind::GroupBox:
        t.Item(WS_GROUP | BS_GROUPBOX, c.id, kButtonAtom, nullptr);
        break;
      case ControlKind::Gauge:
        t.Item(WS_GROUP, c.id, 0, PROGRESS_CLASSW);
        break;
      case ControlKind::Page:
        break;  // drawn by its page control
    }
  }
  t.Data()[4] = static_cast<WORD>(t.Count());
  return t.Data();
}

}  // namespace

HWND HostOwner(HWND host) {
  if (host == nullptr || IsWindow(host) == FALSE) return nullptr;
  HWND root = GetAncestor(host, GA_ROOT);
  if (root == nullptr) return nullptr;
  // Disabling a window of another thread waits for that thread. When the
  // host's window does not answer (its thread waits for this call), the
  // dialog opens without an owner rather than hang.
  if (GetWindowThreadProcessId(root, nullptr) != GetCurrentThreadId()) {
    DWORD_PTR ignored = 0;
    if (SendMessageTimeoutW(root, WM_NULL, 0, 0, SMTO_ABORTIFHUNG | SMTO_BLOCK, 2000, &ignored) ==
        0)
      return nullptr;
  }
  return root;
}

bool RunFormModal(Form& form, HWND host) {
  static const bool commonControls = [] {
    INITCOMMONCONTROLSEX icc;
    icc.dwSize = sizeof(icc);
    icc.dwICC = ICC_TAB_CLASSES | ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES;
    return InitCommonControlsEx(&icc) != FALSE;
  }();
  (void)commonControls;
  // The dialog manager wants the template DWORD-aligned.
  const std::vector<WORD> words = BuildTemplate(form);
  std::vector<DWORD> tmpl((words.size() + 1) / 2, 0);
  std::memcpy(tmpl.data(), words.data(), words.size() * sizeof(WORD));
  Session session;
  session.form = &form;
  // Modal to the host's window (the dialog manager disables it while the
  // dialog is up), or to the dialog whose handler opened this one.
  HWND owner = openDialogs.empty() ? HostOwner(host) : openDialogs.back();
  const INT_PTR r = DialogBoxIndirectParamW(GetModuleHandleW(nullptr),
                                            reinterpret_cast<LPCDLGTEMPLATEW>(tmpl.data()), owner,
                                            DialogProc, reinterpret_cast<LPARAM>(&session));
  return r == 1;
}

}  // namespace kz
