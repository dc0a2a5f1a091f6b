// The progress window under Wine: created hidden, titled and centred; reset each time it is
// shown; the file name and the engine's progress (added to the companion bytes); the cancel
// question from the Cancel button, IDOK and the system menu, with No changing nothing and Yes
// disabling the button and making every later PWM_ADVANCE answer nonzero. Screenshots of the
// window mid-way and of the question go to KX_SCREEN_DIR.
#include "extract/extract.h"
#include "tests/wine/meter_pixels.h"
#include "tests/wine/setup_support.h"

#include <gtest/gtest.h>

using namespace harness;

namespace {

const char kCancelQuestion[] =
    "Setup has not completed installing the software.\nAre you sure you want to cancel?";

class ProgressWindowTest : public ::testing::Test {
 protected:
  LRESULT Advance(WPARAM units) { return SendMessageA(progress_.window(), PWM_ADVANCE, units, 0); }
  // Delivers a command the way a click does (posted), then dispatches this thread's messages
  // until the answerer has handled every box it expects.
  void PostAndAnswer(UINT message, WPARAM wParam, BoxAnswerer& answerer) {
    PostMessageA(progress_.window(), message, wParam, 0);
    EXPECT_TRUE(WaitForPumping([&] { return answerer.WaitDone(0); }));
    answerer.Stop();
  }
  FreshSetupState state_;
  ProgressWindow progress_;
};

TEST_F(ProgressWindowTest, IsCreatedHiddenTitledAndCentredWithTheMeterAtFifty) {
  const HWND window = progress_.window();
  ASSERT_NE(window, nullptr);
  EXPECT_FALSE(IsWindowVisible(window));
  EXPECT_EQ(RawTextOf(window), "Karvex Setup");
  RECT r;
  GetWindowRect(window, &r);
  EXPECT_EQ(r.left, (GetSystemMetrics(SM_CXSCREEN) - (r.right - r.left)) / 2);
  EXPECT_EQ(r.top, (GetSystemMetrics(SM_CYSCREEN) - (r.bottom - r.top)) / 2);
  EXPECT_EQ(SendDlgItemMessageA(window, IDC_METER, MM_GETRANGE, 0, 0), 100);
  EXPECT_EQ(SendDlgItemMessageA(window, IDC_METER, MM_GETPOS, 0, 0), 50);
  EXPECT_EQ(RawTextOf(progress_.item(IDCANCEL)), "&Cancel");
}

TEST_F(ProgressWindowTest, ShowingResetsButtonTextsAndMeterEveryTime) {
  const HWND window = progress_.window();
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(round);
    SetDlgItemTextA(window, IDC_ACTION, "old action");
    SetDlgItemTextA(window, IDC_FILENAME, "OLD.TXT");
    EnableWindow(progress_.item(IDCANCEL), FALSE);
    SendDlgItemMessageA(window, IDC_METER, MM_SETRANGE, 7, 0);
    SendDlgItemMessageA(window, IDC_METER, MM_SETPOS, 3, 0);
    ShowWindow(window, SW_SHOW);
    UpdateWindow(window);
    EXPECT_TRUE(IsWindowEnabled(progress_.item(IDCANCEL)));
    EXPECT_EQ(RawTextOf(progress_.item(IDC_ACTION)), "");
    EXPECT_EQ(RawTextOf(progress_.item(IDC_FILENAME)), "");
    EXPECT_EQ(SendDlgItemMessageA(window, IDC_METER, MM_GETRANGE, 0, 0), 0);
    EXPECT_EQ(SendDlgItemMessageA(window, IDC_METER, MM_GETPOS, 0, 0), 0);
    meter_pixels::ExpectShows(progress_.item(IDC_METER), 0, "0%");
    // Hiding changes nothing.
    SetDlgItemTextA(window, IDC_ACTION, "kept");
    ShowWindow(window, SW_HIDE);
    EXPECT_EQ(RawTextOf(progress_.item(IDC_ACTION)), "kept");
  }
}

TEST_F(ProgressWindowTest, EntryNameIsShownAsTheFileName) {
  progress_.Show(10);
  for (const char* name : {"KARVEX32.EX_", "", "A name with blanks.txt"}) {
    SendMessageA(progress_.window(), PWM_ENTRYNAME, 0, reinterpret_cast<LPARAM>(name));
    EXPECT_EQ(RawTextOf(progress_.item(IDC_FILENAME)), name);
  }
}

TEST_F(ProgressWindowTest, AdvanceAddsTheCompanionUnitsToTheEngineProgress) {
  progress_.Show(1000);
  struct Case {
    uint32_t companionBytes;
    WPARAM units;
    unsigned position;
  };
  const Case cases[] = {
      {0, 0, 0},
      {0, 7, 7},
      {25000, 3, 5},
      {10239, 0, 0},
      {10240, 0, 1},
      {10240 * 12 + 5, 100, 112},
      {0xFFFFFFFFu, 0, 419430 & 0xFFFF},  // the meter keeps the low 16 bits
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.companionBytes);
    g_setup.CompanionBytes = c.companionBytes;
    EXPECT_EQ(Advance(c.units), 0);
    EXPECT_EQ(progress_.MeterPosition(), c.position);
  }
}

TEST_F(ProgressWindowTest, CancelAnsweredNoChangesNothingAndYesStopsTheRun) {
  progress_.Show(100);
  const HWND cancel = progress_.item(IDCANCEL);
  {
    BoxAnswerer answerer({{IDNO, "progress-cancel-question"}});
    ASSERT_TRUE(Click(cancel));
    EXPECT_TRUE(WaitForPumping([&] { return answerer.WaitDone(0); }));
    answerer.Stop();
    ASSERT_EQ(answerer.answered().size(), 1u);
    const MessageBoxInfo box = answerer.answered()[0];
    EXPECT_EQ(box.text, kCancelQuestion);
    EXPECT_EQ(box.caption, "Karvex Setup");
    EXPECT_EQ(box.owner, progress_.window());
    EXPECT_EQ(box.icon, BoxIcon::Question);
    EXPECT_EQ(box.buttons, (std::vector<int>{IDYES, IDNO}));
  }
  EXPECT_TRUE(IsWindowEnabled(cancel));
  EXPECT_EQ(g_setup.cancelRequested, 0);
  EXPECT_EQ(Advance(1), 0);
  {
    BoxAnswerer answerer({{IDYES, ""}});
    ASSERT_TRUE(Click(cancel)) << "the question is asked again at the next click";
    EXPECT_TRUE(WaitForPumping([&] { return answerer.WaitDone(0); }));
    answerer.Stop();
    ASSERT_EQ(answerer.answered().size(), 1u);
    EXPECT_EQ(answerer.answered()[0].text, kCancelQuestion);
    EXPECT_TRUE(answerer.unexpected().empty());
  }
  EXPECT_FALSE(IsWindowEnabled(cancel));
  EXPECT_EQ(g_setup.cancelRequested, 1);
  for (WPARAM units = 2; units < 5; ++units) EXPECT_NE(Advance(units), 0);
  EXPECT_EQ(progress_.MeterPosition(), 4u) << "the meter still moves after the cancel";
  EXPECT_FALSE(Click(cancel)) << "a disabled button takes no more clicks";
}

TEST_F(ProgressWindowTest, OkAndTheSystemMenuAskTheSameQuestion) {
  progress_.Show(100);
  struct Case {
    const char* name;
    UINT message;
    WPARAM wParam;
  };
  const Case cases[] = {{"IDOK", WM_COMMAND, IDOK},
                        {"IDCANCEL", WM_COMMAND, IDCANCEL},
                        {"close from the system menu", WM_SYSCOMMAND, SC_CLOSE}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    BoxAnswerer answerer({{IDNO, ""}});
    PostAndAnswer(c.message, c.wParam, answerer);
    ASSERT_EQ(answerer.answered().size(), 1u);
    EXPECT_EQ(answerer.answered()[0].text, kCancelQuestion);
    EXPECT_EQ(answerer.answered()[0].owner, progress_.window());
  }
  EXPECT_EQ(g_setup.cancelRequested, 0);
  EXPECT_TRUE(IsWindow(progress_.window()));
}

TEST_F(ProgressWindowTest, OtherCommandsAskNothing) {
  progress_.Show(100);
  BoxAnswerer answerer({});
  // Notifications in the high word make a command other than IDOK or IDCANCEL.
  for (const WPARAM wParam : {MAKEWPARAM(IDCANCEL, BN_SETFOCUS), MAKEWPARAM(IDOK, 1),
                              static_cast<WPARAM>(IDC_METER), static_cast<WPARAM>(3)})
    EXPECT_EQ(SendMessageA(progress_.window(), WM_COMMAND, wParam, 0), 0);
  answerer.Stop();
  EXPECT_TRUE(answerer.unexpected().empty());
  EXPECT_EQ(g_setup.cancelRequested, 0);
}

TEST_F(ProgressWindowTest, MidWayTheWindowShowsActionFileAndFortyPercent) {
  progress_.Show(250);
  SetDlgItemTextA(progress_.window(), IDC_ACTION, g_setup.actionText);
  const char name[] = "KARVEX32.EX_";
  SendMessageA(progress_.window(), PWM_ENTRYNAME, 0, reinterpret_cast<LPARAM>(name));
  g_setup.CompanionBytes = 10240 * 20;
  Advance(80);
  EXPECT_EQ(progress_.MeterPosition(), 100u);
  const HWND meter = progress_.item(IDC_METER);
  RECT client;
  GetClientRect(meter, &client);
  meter_pixels::ExpectShows(meter, client.right * 100 / 250, "40%");
  // What a person sees on the screen is what the control painted.
  Image onScreen;
  ASSERT_TRUE(WaitForPumping([&] {
    onScreen = CaptureClientFromScreen(meter);
    return !onScreen.empty() && onScreen.pixels == CaptureClient(meter).pixels;
  }));
  EXPECT_EQ(RawTextOf(progress_.item(IDC_ACTION)), "Installing");
  SaveScreenshot("progress-40-percent");
}

}  // namespace
