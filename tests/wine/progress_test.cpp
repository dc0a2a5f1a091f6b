// The progress window under Wine and what it shows. The Meter control as it paints (filled
// width and the percentage, in the system's highlight colours); the window itself (titled and
// centred, reset when shown, the file name and progress it is sent); and the companion files
// with the real window: the verify pass (sizes, SZDD expanded sizes, time stamps to the tick,
// the first missing file named), the copy pass (contents, sizes around the 15360-byte chunk,
// times, the meter moving on 10240-byte boundaries), the cancel question from each way of
// asking with cancel before file k, and every copy failure with its message and owner.
#include "setup/companion.h"
#include "tests/wine/support.h"

#include <numeric>
#include <optional>

using namespace kxtest;

LRESULT Meter(const Dialog& dialog, UINT message, WPARAM wParam = 0) {
  return SendDlgItemMessageA(dialog.window, IDC_METER, message, wParam, 0);
}

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
    ExpectShows(meter, r.right * numerator / denominator, text);
  }
  DestroyWindow(meter);
}

TEST(ProgressWindow, IsTitledCentredResetWhenShownAndShowsTheProgress) {
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
    Meter(progress, MM_SETRANGE, 7);
    Meter(progress, MM_SETPOS, 3);
    ShowWindow(progress.window, show);
    const bool reset = show == SW_SHOW;  // hiding changes nothing
    EXPECT_EQ(IsWindowEnabled(progress.item(IDCANCEL)), reset);
    EXPECT_EQ(progress.Text(IDC_ACTION) + progress.Text(IDC_FILENAME),
              reset ? "" : "old actionOLD.TXT");
    EXPECT_EQ(Meter(progress, MM_GETRANGE) * 10 + Meter(progress, MM_GETPOS), reset ? 0 : 73);
  }
  // It names the entry it is sent.
  const char name[] = "A name with blanks.txt";
  SendMessageA(progress.window, PWM_ENTRYNAME, 0, reinterpret_cast<LPARAM>(name));
  EXPECT_EQ(progress.Text(IDC_FILENAME), name);
  // Whole units of companion bytes are added to the engine's progress.
  g_setup.CompanionBytes = 10240 * 12 + 5;
  EXPECT_EQ(SendMessageA(progress.window, PWM_ADVANCE, 100, 0), 0);
  EXPECT_EQ(Meter(progress, MM_GETPOS), 112);
}

constexpr int kFiles = 7;
constexpr uint64_t kStamp = 0x01DA9B0C12345678;  // a time stamp with odd ticks

// A folder the build prepares with files that fail (see CMakeLists.txt), as Wine sees it.
std::string Fixture(const char* name) {
  return harness::WindowsPath(KX_FIXTURES_DIR + std::string("/") + name + "/");
}

struct Companions : ::testing::Test {
  // Fresh folders and state; file k holds sizes[k] bytes with the setup's time.
  void Arrange(const std::string& suffix, const std::vector<size_t>& sizes) {
    state_.emplace();
    progress_.emplace(IDD_PROGRESS);
    ShowWindow(progress_->window, SW_SHOW);  // then the range, as the installation sets it
    SendDlgItemMessageA(progress_->window, IDC_METER, MM_SETRANGE, 1000, 0);
    g_setup.setupTime = {static_cast<uint32_t>(kStamp), static_cast<uint32_t>(kStamp >> 32)};
    lstrcpyA(g_setup.sourceDir, (from_ = FreshFolder(" from" + suffix)).c_str());
    lstrcpyA(g_setup.destDir, (to_ = FreshFolder(" to" + suffix)).c_str());
    for (int k = 0; k < kFiles; ++k) Write(k, std::string(sizes[k], static_cast<char>('a' + k)));
  }
  static const char* Name(int k) { return CompanionFiles[k].name; }
  void Write(int k, const std::string& bytes, uint64_t stamp = kStamp) {
    WriteFile(from_ + Name(k), bytes);
    ASSERT_TRUE(Stamp(from_ + Name(k), {DWORD(stamp), DWORD(stamp >> 32)}));
    contents_[k] = bytes;
  }
  // Files before `first` copied whole with the setup's time, none from `after` on.
  void ExpectCopied(int first, int after = kFiles) {
    for (int k = 0; k < first; ++k) {
      EXPECT_EQ(LastWrite(to_ + Name(k)), kStamp) << Name(k);
      EXPECT_TRUE(ReadFile(to_ + Name(k)) == contents_[k]) << Name(k);
    }
    for (int k = after; k < kFiles; ++k) EXPECT_FALSE(Exists(to_ + Name(k))) << Name(k);
  }
  // The error box naming arg.
  std::vector<Box> Error(int id, const std::string& arg) {
    char text[kShowMessageOutputSize];
    platform::FormatText(text, sizeof text, LoadMessageText(id), arg.c_str());
    return {{progress_->window, text, "Karvex Setup", MB_ICONERROR}};
  }
  int Run(int mode) { return ProcessCompanionFiles(progress_->window, mode); }
  std::optional<FreshState> state_;
  std::optional<Dialog> progress_;  // destroyed before the state it was made in
  std::string from_, to_, contents_[kFiles];
};

TEST_F(Companions, VerifyAddsTheExpandedSizesOnEachPassAndCopiesNothing) {
  const std::string szdd = std::string("SZDD\x88\xF0\x27\x33", 8) + "A_";
  // The fourth file (the others hold 10 bytes each) and the size it counts for.
  const std::pair<std::string, uint32_t> cases[] = {
      {szdd + std::string("\x40\xE2\x01\x00", 4) + "data", 123456},
      {szdd + std::string("\xFF\xFF\xFF\xFF", 4), 0xFFFFFFFFu},  // the sum wraps at 32 bits
      {std::string("SZDD\x88\xF0\x27\x34") + std::string("A_\x40\xE2\x01\x00", 6), 14},
      {szdd + "\x40\xE2", 12},
      {"", 0},
      {std::string(70000, 'x'), 70000}};
  for (const auto& [bytes, counted] : cases) {
    Arrange("", {10, 10, 10, 10, 10, 10, 10});
    Write(3, bytes);
    g_setup.totalKB = 7;
    BoxRecorder boxes;
    EXPECT_EQ(Run(kVerifyCompanions) + Run(kVerifyCompanions), 2);
    EXPECT_EQ(g_setup.totalKB, 7 + 2 * (60 + counted)) << counted;
    EXPECT_TRUE(boxes.boxes.empty());
    ExpectCopied(0, 0);
  }
}

TEST_F(Companions, CopyKeepsContentsAndTimesAndMovesTheMeterOnWholeUnits) {
  // The files' sizes, and the meter's positions, each with the file name shown then.
  const std::pair<std::vector<size_t>, std::string> cases[] = {
      {{5000, 5000, 5000, 5000, 5000, 5000, 5000}, "1 LICENSE.TXT, 2 FILE_ID.DIZ, "},
      {{50000, 0, 0, 0, 0, 0, 0}, "1 README.TXT, 3 README.TXT, 4 README.TXT, "},
      {{10239, 0, 0, 0, 0, 0, 0}, ""},
      {{10240, 1, 15359, 15360, 15361, 30720, 0},
       "1 README.TXT, 2 LICENSE.TXT, 4 VENDOR.TXT, 5 WHATSNEW.TXT, 7 FILE_ID.DIZ, 8 "
       "FILE_ID.DIZ, "}};
  for (const auto& [sizes, expected] : cases) {
    Arrange(std::to_string(sizes[0]), sizes);
    WriteFile(to_ + Name(2), std::string(50000, 'x'));  // an existing file is overwritten
    std::string updates;
    WindowSpy spy(progress_->item(IDC_METER), [&](UINT message, WPARAM wParam, LPARAM) {
      if (message == MM_SETPOS)
        updates += std::to_string(wParam) + " " + progress_->Text(IDC_FILENAME) + ", ";
    });
    BoxRecorder boxes;
    EXPECT_EQ(Run(kCopyCompanions), 1);
    EXPECT_TRUE(boxes.boxes.empty());
    ExpectCopied(kFiles);
    EXPECT_EQ(updates, expected);
    EXPECT_EQ(g_setup.CompanionBytes, std::accumulate(sizes.begin(), sizes.end(), size_t{0}));
    EXPECT_EQ(progress_->Text(IDC_ACTION) + progress_->Text(IDC_FILENAME), "InstallingORDER.TXT");
  }
}

TEST_F(Companions, CancelBeforeFileKCopiesOneChunkOfItAndNothingAfter) {
  // The file k before which the copy sees the request (-1: none), the message and wParam sent
  // to the progress window while file k - 1 is copied (for k <= 0 before the pass), the answer.
  const std::tuple<int, UINT, WPARAM, int> cases[] = {
      {0, WM_COMMAND, IDCANCEL, IDYES},
      {2, WM_COMMAND, IDOK, IDYES},
      {6, WM_SYSCOMMAND, SC_CLOSE, IDYES},
      {-1, WM_COMMAND, IDCANCEL, IDNO},
      {-1, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_SETFOCUS), IDYES},  // other commands ask nothing
      {-1, WM_COMMAND, IDC_METER, IDYES},
  };
  for (const auto& [k, message, wParam, answer] : cases) {
    Arrange(std::to_string(k) + std::to_string(wParam), {3000, 3000, 3000, 3000, 3000, 3000, 3000});
    if (k >= 0) Write(k, std::string(40000, 'k'));
    const HWND window = progress_->window;
    WindowSpy spy(progress_->item(IDC_FILENAME),
                  [&, k = k, message = message, wParam = wParam](UINT sent, WPARAM, LPARAM lParam) {
                    if (sent == WM_SETTEXT && k > 0 &&
                        lstrcmpA(reinterpret_cast<const char*>(lParam), Name(k - 1)) == 0)
                      PostMessageA(window, message, wParam, 0);
                  });
    if (k <= 0) PostMessageA(window, message, wParam, 0);
    BoxRecorder boxes({answer});
    EXPECT_EQ(Run(kCopyCompanions), k < 0);
    const bool asked = wParam == IDCANCEL || wParam == IDOK || message == WM_SYSCOMMAND;
    const Box question{window, LoadMessageText(MSG_CONFIRM_CANCEL), "Karvex Setup",
                       MB_ICONQUESTION | MB_YESNO};
    EXPECT_EQ(boxes.boxes, asked ? std::vector<Box>{question} : std::vector<Box>{}) << wParam;
    EXPECT_EQ(IsWindowEnabled(progress_->item(IDCANCEL)), k < 0);
    EXPECT_EQ(SendMessageA(window, PWM_ADVANCE, 4, 0), k >= 0);
    if (k < 0) continue;
    ExpectCopied(k, k + 1);
    EXPECT_EQ(LastWrite(to_ + Name(k)), kStamp);
    EXPECT_EQ(ReadFile(to_ + Name(k)), std::string(15360, 'k'));
    EXPECT_EQ(g_setup.CompanionBytes, 3000u * k + 15360);
  }
  ExpectCopied(kFiles);
}

TEST_F(Companions, TheFirstFileThatFailsStopsThePassWithItsMessage) {
  // The file, the pass, ticks added to its stamp, how else it fails ("gone": missing; a folder in
  // its place "from" or "to"; a fixture's name: that folder as destination) and the message,
  // naming the file ('n'), its source ('s') or destination ('t'). The file after it is
  // mis-stamped.
  const std::tuple<int, int, int64_t, std::string, int, char> cases[] = {
      {0, kVerifyCompanions, 1, "", MSG_TIME_STAMP_MISMATCH, 'n'},
      {3, kVerifyCompanions, -1, "", MSG_TIME_STAMP_MISMATCH, 'n'},
      {6, kCopyCompanions, 1LL << 32, "", MSG_TIME_STAMP_MISMATCH, 'n'},
      {0, kVerifyCompanions, 0, "gone", MSG_MISSING_FILE, 'n'},
      {4, kCopyCompanions, 0, "gone", MSG_MISSING_FILE, 'n'},
      {4, kVerifyCompanions, 0, "gone", MSG_MISSING_FILE, 'n'},
      {1, kCopyCompanions, 0, "from", MSG_CANNOT_OPEN_FOR_WRITING, 's'},
      {2, kCopyCompanions, 0, "to", MSG_CANNOT_OPEN_FOR_WRITING, 't'},
      {0, kCopyCompanions, 0, "diskfull", MSG_ERROR_WRITING, 't'},
  };
  for (const auto& [file, mode, ticks, fault, message, named] : cases) {
    Arrange(std::to_string(file) + fault + std::to_string(mode), {10, 20, 30, 40, 50, 60, 70});
    if (ticks) Write(file, "mis-stamped", kStamp + ticks);
    if (file < kFiles - 1) Write(file + 1, "never looked at", kStamp + 5);
    const std::string source = from_ + Name(file);
    if (fault == "gone" || fault == "from") DeleteFileA(source.c_str());
    if (fault == "from") CreateDirectoryA(source.c_str(), nullptr);
    if (fault == "from") Stamp(source, {DWORD(kStamp), DWORD(kStamp >> 32)});
    if (fault == "to") CreateDirectoryA((to_ + Name(file)).c_str(), nullptr);
    if (fault == "diskfull") lstrcpyA(g_setup.destDir, (to_ = Fixture("diskfull")).c_str());
    BoxRecorder boxes;
    EXPECT_EQ(Run(mode), 0);
    const std::string folder = named == 's' ? from_ : named == 't' ? to_ : "";
    EXPECT_EQ(boxes.boxes, Error(message, folder + Name(file)));
    const bool copy = mode == kCopyCompanions;
    EXPECT_EQ(g_setup.totalKB, copy ? 0u : 10u * (file * (file + 1) / 2));
    if (fault != "diskfull") ExpectCopied(copy ? file : 0, copy ? file + 1 : 0);
  }
  // A source whose reads fail: reported, and nothing of the failed read is written.
  const std::string unreadable = Fixture("unreadable") + "README.TXT", copy = from_ + "R.TXT";
  EXPECT_EQ(CopyFileWithProgress(unreadable.c_str(), copy.c_str()), kCopyReadFailed);
  EXPECT_EQ(ReadFile(copy), "");
  BoxRecorder boxes;
  EXPECT_EQ(ReportCopyResult(kCopyReadFailed, unreadable.c_str(), "R.TXT"), 0);
  EXPECT_EQ(boxes.boxes, Error(MSG_BAD_DISK, unreadable));
}
