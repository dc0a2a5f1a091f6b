// The setup's own windows under Wine: the Meter control as it paints (filled width and the
// percentage, in the system's highlight colours) and stores its values, and the progress
// window (created hidden, titled and centred, reset when shown, the file name and progress it
// is sent, the cancel question from each way of asking).
#include "extract/extract.h"
#include "tests/wine/harness/harness.h"
#include "tests/wine/support.h"

#include <gtest/gtest.h>

namespace {

using namespace kxtest;

// Checks the meter's pixels: outside the text, the highlight colour left of `filled` and the
// highlight-text colour right of it; the text, drawn here centred in the control's font,
// covers pixels of neither colour in plain.
void ExpectShows(HWND meter, int filled, const char* text) {
  RECT r;
  GetClientRect(meter, &r);
  const std::vector<COLORREF> shown = harness::CaptureClient(meter);
  ASSERT_EQ(shown.size(), static_cast<size_t>(r.right * r.bottom));
  const platform::WindowDc dc(meter);
  const platform::MemoryDc memoryDc(CreateCompatibleDC(dc.get()));
  const HDC memory = memoryDc.get();
  const platform::GdiObject<HBITMAP> bitmap(CreateCompatibleBitmap(dc.get(), r.right, r.bottom));
  const platform::SelectedObject selected(memory, bitmap.get());
  FillRect(memory, &r, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
  SIZE letter;
  GetTextExtentPointA(memory, "X", 1, &letter);
  SetTextAlign(memory, TA_CENTER | TA_TOP);
  TextOutA(memory, r.right / 2, (r.bottom - letter.cy) / 2, text, lstrlenA(text));
  int wrong = 0, textPixels = 0, plainText = 0;
  for (int y = 0; y < r.bottom; ++y)
    for (int x = 0; x < r.right; ++x) {
      const COLORREF want = GetSysColor(x < filled ? COLOR_HIGHLIGHT : COLOR_HIGHLIGHTTEXT);
      const COLORREF got = shown[static_cast<size_t>(y) * r.right + x];
      if (GetPixel(memory, x, y) == RGB(255, 255, 255))
        wrong += got != want;
      else
        ++textPixels, plainText += got == want;
    }
  EXPECT_EQ(wrong, 0) << text << " filled to " << filled;
  EXPECT_LT(plainText * 4, textPixels) << text << " is not what shows";
}

TEST(Meter, PaintsThePercentageAndFillsItsShareOfTheWidth) {
  FreshState state;
  const HWND host = CreateWindowA("STATIC", "", WS_POPUP | WS_VISIBLE, 100, 100, 340, 80, nullptr,
                                  nullptr, nullptr, nullptr);
  const HWND meter = CreateWindowA("meter", "", WS_CHILD | WS_VISIBLE | WS_BORDER, 20, 20, 301, 40,
                                   host, nullptr, GetModuleHandleA(nullptr), nullptr);
  UpdateWindow(host);
  RECT r;
  GetClientRect(meter, &r);
  ExpectShows(meter, r.right / 2, "50%");  // as created
  struct Case {
    WPARAM range, position;
    const char* text;
    int numerator, denominator;  // the filled share of the width
  };
  const Case cases[] = {
      {3, 1, "33%", 1, 3},      {3, 2, "66%", 2, 3},     {100, 37, "37%", 37, 100},
      {2, 3, "150%", 1, 1},     {0, 7, "0%", 0, 1},      {65536, 5, "0%", 0, 1},
      {65540, 1, "25%", 1, 4},  {4, 65537, "25%", 1, 4}, {65535, 65535, "100%", 1, 1},
      {1000, 1, "0%", 1, 1000},
  };
  for (const Case& c : cases) {
    SendMessageA(meter, MM_SETRANGE, c.range, 0);
    SendMessageA(meter, MM_SETPOS, c.position, 0);  // painted at once, no message dispatched
    EXPECT_EQ(SendMessageA(meter, MM_GETRANGE, 0, 0), static_cast<LRESULT>(c.range & 0xFFFF));
    EXPECT_EQ(SendMessageA(meter, MM_GETPOS, 0, 0), static_cast<LRESULT>(c.position & 0xFFFF));
    ExpectShows(meter, r.right * c.numerator / c.denominator, c.text);
  }
  SendMessageA(meter, MM_SETRANGE, 8, 0);  // a new range alone repaints too
  ExpectShows(meter, r.right * 1 / 8, "12%");
  EXPECT_EQ(SendMessageA(meter, WM_GETDLGCODE, 0, 0), DLGC_STATIC);
  DestroyWindow(host);
}

TEST(ProgressWindow, IsCreatedHiddenTitledCentredAndResetWhenShown) {
  FreshState state;
  Dialog progress(IDD_PROGRESS);
  const HWND window = progress.window();
  EXPECT_FALSE(IsWindowVisible(window));
  EXPECT_EQ(harness::RawTextOf(window), "Karvex Setup");
  RECT r;
  GetWindowRect(window, &r);
  EXPECT_EQ(r.left, (GetSystemMetrics(SM_CXSCREEN) - (r.right - r.left)) / 2);
  EXPECT_EQ(r.top, (GetSystemMetrics(SM_CYSCREEN) - (r.bottom - r.top)) / 2);
  for (int round = 0; round < 2; ++round) {
    SetDlgItemTextA(window, IDC_ACTION, "old action");
    SetDlgItemTextA(window, IDC_FILENAME, "OLD.TXT");
    EnableWindow(progress.item(IDCANCEL), FALSE);
    SendDlgItemMessageA(window, IDC_METER, MM_SETRANGE, 7, 0);
    SendDlgItemMessageA(window, IDC_METER, MM_SETPOS, 3, 0);
    ShowWindow(window, SW_SHOW);
    EXPECT_TRUE(IsWindowEnabled(progress.item(IDCANCEL)));
    EXPECT_EQ(progress.Text(IDC_ACTION) + progress.Text(IDC_FILENAME), "");
    EXPECT_EQ(SendDlgItemMessageA(window, IDC_METER, MM_GETRANGE, 0, 0), 0);
    EXPECT_EQ(SendDlgItemMessageA(window, IDC_METER, MM_GETPOS, 0, 0), 0);
    SetDlgItemTextA(window, IDC_ACTION, "kept");
    ShowWindow(window, SW_HIDE);
    EXPECT_EQ(progress.Text(IDC_ACTION), "kept");  // hiding changes nothing
  }
}

TEST(ProgressWindow, ShowsTheEntryAndAddsTheCompanionUnitsToTheEngineProgress) {
  FreshState state;
  Dialog progress(IDD_PROGRESS);
  progress.Show(1000);
  const char name[] = "A name with blanks.txt";
  SendMessageA(progress.window(), PWM_ENTRYNAME, 0, reinterpret_cast<LPARAM>(name));
  EXPECT_EQ(progress.Text(IDC_FILENAME), name);
  struct Case {
    uint32_t companionBytes;
    WPARAM units;
    LRESULT position;
  };
  const Case cases[] = {{0, 7, 7},
                        {25000, 3, 5},
                        {10239, 0, 0},
                        {10240, 0, 1},
                        {10240 * 12 + 5, 100, 112},
                        {0xFFFFFFFFu, 0, 419430 & 0xFFFF}};
  for (const Case& c : cases) {
    g_setup.CompanionBytes = c.companionBytes;
    EXPECT_EQ(SendMessageA(progress.window(), PWM_ADVANCE, c.units, 0), 0);
    EXPECT_EQ(SendDlgItemMessageA(progress.window(), IDC_METER, MM_GETPOS, 0, 0), c.position);
  }
  harness::SaveScreenshot("progress-window", progress.window());
}

TEST(ProgressWindow, EveryWayOfCancellingAsksAndOnlyYesStopsTheRun) {
  FreshState state;
  Dialog progress(IDD_PROGRESS);
  progress.Show(100);
  const std::string question =
      "Setup has not completed installing the software.\nAre you sure you want to cancel?";
  struct Case {
    UINT message;
    WPARAM wParam;
    size_t boxes;
  };
  const Case cases[] = {{WM_COMMAND, IDCANCEL, 1},
                        {WM_COMMAND, IDOK, 1},
                        {WM_SYSCOMMAND, SC_CLOSE, 1},
                        {WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_SETFOCUS), 0},
                        {WM_COMMAND, IDC_METER, 0}};
  for (const Case& c : cases) {
    BoxRecorder boxes({IDNO});
    SendMessageA(progress.window(), c.message, c.wParam, 0);
    for (MSG m; PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE);) DispatchMessageA(&m);
    ASSERT_EQ(boxes.boxes.size(), c.boxes) << c.message << " " << c.wParam;
    for (const Box& box : boxes.boxes) {
      EXPECT_EQ(box.text, question);
      EXPECT_EQ(box.owner, progress.window());
      EXPECT_EQ(box.caption, "Karvex Setup");
      EXPECT_EQ(box.flags, static_cast<unsigned>(MB_ICONQUESTION | MB_YESNO));
    }
  }
  EXPECT_TRUE(IsWindowEnabled(progress.item(IDCANCEL)));
  EXPECT_EQ(SendMessageA(progress.window(), PWM_ADVANCE, 1, 0), 0);
  BoxRecorder yes({IDYES});
  SendMessageA(progress.window(), WM_COMMAND, IDCANCEL, 0);
  EXPECT_EQ(yes.boxes.size(), 1u);
  EXPECT_FALSE(IsWindowEnabled(progress.item(IDCANCEL)));
  EXPECT_EQ(g_setup.cancelRequested, 1);
  EXPECT_NE(SendMessageA(progress.window(), PWM_ADVANCE, 4, 0), 0);
  EXPECT_EQ(SendDlgItemMessageA(progress.window(), IDC_METER, MM_GETPOS, 0, 0), 4);
}

}  // namespace
