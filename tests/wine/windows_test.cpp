// The setup's own windows under Wine: the Meter control as it paints (filled width and the
// percentage, in the system's highlight colours) and stores its values, and the progress
// window (created hidden, titled and centred, reset when shown, the file name and progress it
// is sent, the cancel question from each way of asking).
#include "tests/wine/support.h"

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
  const platform::MemoryDc memory(CreateCompatibleDC(dc.get()));
  const platform::GdiObject<HBITMAP> bitmap(CreateCompatibleBitmap(dc.get(), r.right, r.bottom));
  const platform::SelectedObject selected(memory.get(), bitmap.get());
  FillRect(memory.get(), &r, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
  DrawTextA(memory.get(), text, -1, &r, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
  int wrong = 0, textPixels = 0, plainText = 0;
  for (int i = 0; i < r.right * r.bottom; ++i) {
    const COLORREF want = GetSysColor(i % r.right < filled ? COLOR_HIGHLIGHT : COLOR_HIGHLIGHTTEXT);
    const bool inText = GetPixel(memory.get(), i % r.right, i / r.right) != RGB(255, 255, 255);
    wrong += !inText && shown[i] != want;
    textPixels += inText;
    plainText += inText && shown[i] == want;
  }
  EXPECT_EQ(wrong, 0) << text << " filled to " << filled;
  EXPECT_LT(plainText * 4, textPixels) << text << " is not what shows";
}

TEST(Meter, PaintsThePercentageAndFillsItsShareOfTheWidth) {
  FreshState state;
  const HWND meter = CreateWindowA("meter", "", WS_POPUP | WS_VISIBLE | WS_BORDER, 100, 100, 301,
                                   40, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
  UpdateWindow(meter);
  RECT r;
  GetClientRect(meter, &r);
  // Range and position sent (0: left as they were), the text shown and the filled share.
  const std::tuple<WPARAM, WPARAM, const char*, int, int> cases[] = {
      {0, 0, "50%", 1, 2},       {3, 1, "33%", 1, 3},     {3, 2, "66%", 2, 3},
      {100, 37, "37%", 37, 100}, {2, 3, "150%", 1, 1},    {65536, 7, "0%", 0, 1},
      {65540, 1, "25%", 1, 4},   {4, 65537, "25%", 1, 4}, {65535, 65535, "100%", 1, 1},
      {1000, 1, "0%", 1, 1000},  {8, 0, "12%", 1, 8}};  // a new range alone repaints too
  for (const auto& [range, position, text, numerator, denominator] : cases) {
    if (range) SendMessageA(meter, MM_SETRANGE, range, 0);
    if (position) SendMessageA(meter, MM_SETPOS, position, 0);  // painted at once
    EXPECT_TRUE(!range || SendMessageA(meter, MM_GETRANGE, 0, 0) == LRESULT(range & 0xFFFF));
    EXPECT_TRUE(!position || SendMessageA(meter, MM_GETPOS, 0, 0) == LRESULT(position & 0xFFFF));
    ExpectShows(meter, r.right * numerator / denominator, text);
  }
  DestroyWindow(meter);
}

TEST(ProgressWindow, IsCreatedHiddenTitledCentredResetWhenShownAndShowsTheProgress) {
  FreshState state;
  Dialog progress(IDD_PROGRESS);
  EXPECT_EQ(harness::RawTextOf(progress.window), "Karvex Setup");
  RECT r;
  GetWindowRect(progress.window, &r);
  EXPECT_EQ(r.left, (GetSystemMetrics(SM_CXSCREEN) - (r.right - r.left)) / 2);
  EXPECT_EQ(r.top, (GetSystemMetrics(SM_CYSCREEN) - (r.bottom - r.top)) / 2);
  for (const int show : {SW_SHOW, SW_HIDE, SW_SHOW}) {
    SetDlgItemTextA(progress.window, IDC_ACTION, "old action");
    SetDlgItemTextA(progress.window, IDC_FILENAME, "OLD.TXT");
    EnableWindow(progress.item(IDCANCEL), FALSE);
    progress.Meter(MM_SETRANGE, 7);
    progress.Meter(MM_SETPOS, 3);
    ShowWindow(progress.window, show);
    const bool reset = show == SW_SHOW;  // hiding changes nothing
    EXPECT_EQ(IsWindowEnabled(progress.item(IDCANCEL)), reset);
    EXPECT_EQ(progress.Text(IDC_ACTION) + progress.Text(IDC_FILENAME),
              reset ? "" : "old actionOLD.TXT");
    EXPECT_EQ(progress.Meter(MM_GETRANGE) * 10 + progress.Meter(MM_GETPOS), reset ? 0 : 73);
  }
  // Shown, it names the entry and adds the companion units to the engine's progress.
  progress.Show(1000);
  const char name[] = "A name with blanks.txt";
  SendMessageA(progress.window, PWM_ENTRYNAME, 0, reinterpret_cast<LPARAM>(name));
  EXPECT_EQ(progress.Text(IDC_FILENAME), name);
  // Companion bytes copied, the engine's units, and the meter's position then.
  const std::tuple<uint32_t, WPARAM, LRESULT> cases[] = {
      {0, 7, 7},
      {10239, 0, 0},
      {10240 * 12 + 5, 100, 112},
      {0xFFFFFFFFu, 0, 419430 & 0xFFFF},
  };
  for (const auto& [companionBytes, units, position] : cases) {
    g_setup.CompanionBytes = companionBytes;
    EXPECT_EQ(SendMessageA(progress.window, PWM_ADVANCE, units, 0), 0);
    EXPECT_EQ(progress.Meter(MM_GETPOS), position);
  }
}
