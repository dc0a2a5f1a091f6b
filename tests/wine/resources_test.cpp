// SETUP.EXE's resources as linked into this test program: both dialog templates read from
// their raw DIALOG resources (style, position and size in dialog units, font, and each
// control's id, class, text, style and rectangle), the controls placed where the dialog
// units put them once created, and the program's own icon.
#include "tests/wine/setup_support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

struct Control {
  int id;
  std::string className;  // compared without regard to case, as the system does
  std::string text;
  DWORD style;
  short x, y, cx, cy;
};

struct Dialog {
  DWORD style = 0;
  short x = 0, y = 0, cx = 0, cy = 0;
  std::string menu, className, caption, font;
  WORD pointSize = 0;
  std::vector<Control> controls;
};

// Reads a DIALOG (not DIALOGEX) resource: a DLGTEMPLATE, then menu, class and caption as
// ordinal-or-string fields, the font, and DWORD-aligned DLGITEMTEMPLATEs.
class TemplateReader {
 public:
  explicit TemplateReader(const BYTE* data) : base_(data), at_(data) {}
  Dialog Read() {
    Dialog d;
    d.style = Dword();
    Dword();  // extended style
    const WORD count = Word();
    d.x = Short(), d.y = Short(), d.cx = Short(), d.cy = Short();
    d.menu = Field(), d.className = Field(), d.caption = Field();
    if (d.style & DS_SETFONT) {
      d.pointSize = Word();
      d.font = Field();
    }
    for (WORD i = 0; i < count; ++i) {
      Align();
      Control c;
      c.style = Dword();
      Dword();
      c.x = Short(), c.y = Short(), c.cx = Short(), c.cy = Short();
      c.id = static_cast<short>(Word());
      c.className = Field();
      c.text = Field();
      at_ += Word();  // creation data
      d.controls.push_back(c);
    }
    return d;
  }

 private:
  WORD Word() {
    WORD v;
    std::memcpy(&v, at_, 2);
    at_ += 2;
    return v;
  }
  short Short() { return static_cast<short>(Word()); }
  DWORD Dword() {
    const DWORD low = Word();
    return low | (static_cast<DWORD>(Word()) << 16);
  }
  void Align() { at_ = base_ + ((at_ - base_ + 3) & ~3); }
  std::string Field() {  // 0: empty; 0xFFFF: an ordinal (predefined classes by number)
    const WORD first = Word();
    if (first == 0xFFFF) {
      switch (const WORD ordinal = Word()) {
        case 0x80:
          return "BUTTON";
        case 0x81:
          return "EDIT";
        case 0x82:
          return "STATIC";
        default:
          return "#" + std::to_string(ordinal);
      }
    }
    std::string text;
    for (WORD c = first; c != 0; c = Word()) text += static_cast<char>(c);
    return text;
  }
  const BYTE* base_;
  const BYTE* at_;
};

Dialog LoadTemplate(int id) {
  const HMODULE module = GetModuleHandleA(nullptr);
  const HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(id), MAKEINTRESOURCEA(5));
  EXPECT_NE(found, nullptr);
  if (!found) return {};
  return TemplateReader(static_cast<const BYTE*>(LockResource(LoadResource(module, found)))).Read();
}

constexpr DWORD kDialogStyle = 0x80C800C4;  // popup, caption, system menu, modal frame, font, 3D
constexpr DWORD kChild = WS_CHILD | WS_VISIBLE;

const Dialog kDestination = {
    kDialogStyle,
    38,
    32,
    192,
    100,
    "",
    "",
    "",
    "Helv",
    8,
    {{106, "static",
      "Setup will install Karvex into the following folder, which it will create if necessary.",
      kChild | SS_LEFT, 8, 8, 180, 20},
     {107, "static",
      "If you want to install Karvex in a different folder and/or drive, type the name of the "
      "folder below:",
      kChild | SS_LEFT, 8, 32, 180, 28},
     {-1, "static", "&Install to:", kChild | SS_LEFT, 8, 62, 36, 8},
     {101, "edit", "", kChild | WS_BORDER | WS_TABSTOP | ES_OEMCONVERT | ES_AUTOHSCROLL, 42, 60,
      137, 12},
     {IDOK, "button", "OK", kChild | BS_DEFPUSHBUTTON | WS_TABSTOP, 37, 80, 50, 14},
     {IDCANCEL, "button", "Cancel", kChild | BS_PUSHBUTTON | WS_TABSTOP, 105, 80, 50, 14}}};

const Dialog kProgress = {
    kDialogStyle,
    10,
    19,
    188,
    70,
    "",
    "",
    "",
    "Helv",
    8,
    {{103, "static", "", kChild | SS_CENTER, 0, 6, 188, 8},
     {104, "static", "", kChild | SS_CENTER, 0, 18, 188, 8},
     {100, "meter", "", kChild | WS_BORDER, 16, 30, 156, 12},
     {IDCANCEL, "button", "&Cancel", kChild | BS_DEFPUSHBUTTON | WS_TABSTOP, 69, 48, 50, 16}}};

TEST(DialogTemplates, AreExactlyAsDesigned) {
  for (const auto& [id, expected] :
       {std::pair{IDD_DESTINATION, kDestination}, std::pair{IDD_PROGRESS, kProgress}}) {
    SCOPED_TRACE(id);
    const Dialog d = LoadTemplate(id);
    EXPECT_EQ(d.style, expected.style);
    EXPECT_FALSE(d.style & WS_VISIBLE) << "created hidden";
    EXPECT_EQ(d.x, expected.x);
    EXPECT_EQ(d.y, expected.y);
    EXPECT_EQ(d.cx, expected.cx);
    EXPECT_EQ(d.cy, expected.cy);
    EXPECT_EQ(d.menu, "");
    EXPECT_EQ(d.className, "");
    EXPECT_EQ(d.caption, "");
    EXPECT_EQ(d.font, "Helv");
    EXPECT_EQ(d.pointSize, 8);
    ASSERT_EQ(d.controls.size(), expected.controls.size());
    for (size_t i = 0; i < d.controls.size(); ++i) {
      const Control& c = d.controls[i];
      const Control& e = expected.controls[i];
      SCOPED_TRACE(e.text + " #" + std::to_string(e.id));
      EXPECT_EQ(c.id, e.id);
      EXPECT_EQ(lstrcmpiA(c.className.c_str(), e.className.c_str()), 0) << c.className;
      EXPECT_EQ(c.text, e.text);
      EXPECT_EQ(c.style, e.style);
      EXPECT_EQ(c.x, e.x);
      EXPECT_EQ(c.y, e.y);
      EXPECT_EQ(c.cx, e.cx);
      EXPECT_EQ(c.cy, e.cy);
    }
  }
}

INT_PTR CALLBACK Quiet(HWND, UINT message, WPARAM, LPARAM) { return message == WM_INITDIALOG; }

TEST(DialogTemplates, ControlsSitWhereTheirDialogUnitsPutThem) {
  ResetSetupState();
  for (const auto& [id, expected] :
       {std::pair{IDD_DESTINATION, kDestination}, std::pair{IDD_PROGRESS, kProgress}}) {
    SCOPED_TRACE(id);
    const HWND dialog =
        CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(id), nullptr, Quiet, 0);
    ASSERT_NE(dialog, nullptr);
    RECT size = {0, 0, expected.cx, expected.cy};
    MapDialogRect(dialog, &size);
    RECT client;
    GetClientRect(dialog, &client);
    EXPECT_EQ(client.right, size.right);
    EXPECT_EQ(client.bottom, size.bottom);
    HWND child = GetWindow(dialog, GW_CHILD);
    for (const Control& e : expected.controls) {
      SCOPED_TRACE(e.id);
      ASSERT_NE(child, nullptr);
      EXPECT_EQ(static_cast<short>(GetDlgCtrlID(child)), e.id);
      EXPECT_EQ(lstrcmpiA(harness::ClassOf(child).c_str(), e.className.c_str()), 0);
      RECT want = {e.x, e.y, e.x + e.cx, e.y + e.cy};
      MapDialogRect(dialog, &want);
      RECT got;
      GetWindowRect(child, &got);
      MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&got), 2);
      EXPECT_EQ(got.left, want.left);
      EXPECT_EQ(got.top, want.top);
      EXPECT_EQ(got.right, want.right);
      EXPECT_EQ(got.bottom, want.bottom);
      child = GetWindow(child, GW_HWNDNEXT);
    }
    DestroyWindow(dialog);
  }
}

TEST(ProgramIcon, IsThereInBothSizes) {
  const HICON large = static_cast<HICON>(
      LoadImageA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDI_SETUP), IMAGE_ICON, 32, 32, 0));
  const HICON small = static_cast<HICON>(
      LoadImageA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDI_SETUP), IMAGE_ICON, 16, 16, 0));
  ASSERT_NE(large, nullptr);
  ASSERT_NE(small, nullptr);
  ICONINFO info;
  ASSERT_TRUE(GetIconInfo(large, &info));
  BITMAP bitmap;
  GetObjectA(info.hbmColor, sizeof bitmap, &bitmap);
  EXPECT_EQ(bitmap.bmWidth, 32);
  DeleteObject(info.hbmColor);
  DeleteObject(info.hbmMask);
}

}  // namespace
