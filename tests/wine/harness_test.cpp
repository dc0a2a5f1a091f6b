// The harness itself under Wine: windows of another process found by class and title, message
// boxes read (text, caption, icon, buttons) and answered in this process and in another one,
// typing and clicking into a window run by another thread, pixels read through the window's DC
// and from the screen, and screenshots written as PNG files.
#include "tests/wine/harness/harness.h"

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>

using namespace harness;

namespace {

// A window with an edit field and a button, run by a thread of its own so that the test's
// thread can drive it as a person would.
class UiThread {
 public:
  UiThread() {
    ready_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    thread_ = std::thread([this] { Run(); });
    WaitForSingleObject(ready_, kTimeout);
  }
  ~UiThread() {
    PostThreadMessageA(threadId_, WM_QUIT, 0, 0);
    thread_.join();
    CloseHandle(ready_);
  }
  HWND window = nullptr, edit = nullptr, button = nullptr;
  std::atomic<int> clicks{0};

 private:
  static LRESULT CALLBACK Proc(HWND w, UINT m, WPARAM wp, LPARAM lp) {
    auto* self = reinterpret_cast<UiThread*>(GetWindowLongPtrA(w, GWLP_USERDATA));
    if (m == WM_COMMAND && LOWORD(wp) == 7 && HIWORD(wp) == BN_CLICKED && self) ++self->clicks;
    if (m == WM_PAINT) {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(w, &ps);
      RECT left = {0, 0, 100, 60}, right = {100, 0, 200, 60};
      HBRUSH red = CreateSolidBrush(RGB(200, 30, 40)), blue = CreateSolidBrush(RGB(10, 20, 230));
      FillRect(dc, &left, red);
      FillRect(dc, &right, blue);
      DeleteObject(red);
      DeleteObject(blue);
      EndPaint(w, &ps);
      return 0;
    }
    return DefWindowProcA(w, m, wp, lp);
  }
  void Run() {
    threadId_ = GetCurrentThreadId();
    WNDCLASSA wc = {};
    wc.lpfnWndProc = Proc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "KxHarnessTest";
    RegisterClassA(&wc);
    window = CreateWindowA("KxHarnessTest", "Harness test", WS_POPUP | WS_VISIBLE | WS_CAPTION, 50,
                           50, 240, 160, nullptr, nullptr, wc.hInstance, nullptr);
    SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    edit = CreateWindowA("EDIT", "", WS_CHILD | WS_VISIBLE | WS_BORDER, 10, 70, 150, 20, window,
                         reinterpret_cast<HMENU>(5), wc.hInstance, nullptr);
    button = CreateWindowA("BUTTON", "Go", WS_CHILD | WS_VISIBLE, 10, 95, 60, 20, window,
                           reinterpret_cast<HMENU>(7), wc.hInstance, nullptr);
    UpdateWindow(window);
    SetEvent(ready_);
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
    DestroyWindow(window);
  }
  HANDLE ready_;
  DWORD threadId_ = 0;
  std::thread thread_;
};

TEST(HarnessWindows, FindsAnotherProcessWindowByClassAndTitle) {
  for (const char* className : {"KarvexWClass", "Karvex2WClass"}) {
    SCOPED_TRACE(className);
    Actor actor = Actor::MainWindow(className);
    ASSERT_TRUE(actor.WaitReady());
    const HWND found = WaitForTopWindow(className, nullptr);
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(ProcessOf(found), actor.process().id());
    EXPECT_EQ(FindTopWindow(className, "Karvex"), found);
    EXPECT_EQ(FindTopWindow(className, "Other title"), nullptr);
    EXPECT_EQ(FindTopWindow(className, nullptr, GetCurrentProcessId()), nullptr);
    EXPECT_EQ(actor.window(), found);
    actor.Release();
    EXPECT_TRUE(actor.WaitExit());
    EXPECT_TRUE(WaitForWindowGone(found));
  }
}

TEST(HarnessWindows, TypesIntoAnEditAndClicksAButtonOfAnotherThread) {
  UiThread ui;
  ASSERT_NE(ui.window, nullptr);
  EXPECT_EQ(WaitForTopWindow("kxharnesstest", "Harness test"), ui.window);
  EXPECT_TRUE(TypeText(ui.edit, "C:\\Some Folder"));
  EXPECT_EQ(ControlText(ui.window, 5), "C:\\Some Folder");
  EXPECT_TRUE(TypeText(ui.edit, "D:"));  // replaces the whole text
  EXPECT_EQ(TextOf(ui.edit), "D:");
  EXPECT_TRUE(ClickControl(ui.window, 7));
  EXPECT_TRUE(WaitFor([&] { return ui.clicks == 1; }));
  EnableWindow(ui.button, FALSE);
  EXPECT_FALSE(Click(ui.button)) << "a disabled button cannot be clicked";
  EXPECT_EQ(RawTextOf(ui.button), "Go");
}

TEST(HarnessMessageBoxes, ReadsAndAnswersBoxesOfThisProcess) {
  struct Case {
    UINT flags;
    int answer;
    BoxIcon icon;
    std::vector<int> buttons;
  };
  const Case cases[] = {
      {MB_ICONERROR, IDOK, BoxIcon::Error, {IDOK}},
      {MB_ICONQUESTION | MB_YESNO, IDNO, BoxIcon::Question, {IDYES, IDNO}},
      {MB_ICONQUESTION | MB_YESNO, IDYES, BoxIcon::Question, {IDYES, IDNO}},
      {MB_ICONINFORMATION, IDOK, BoxIcon::Information, {IDOK}},
      {MB_ICONWARNING | MB_OKCANCEL, IDCANCEL, BoxIcon::Warning, {IDOK, IDCANCEL}},
      {MB_OK, IDOK, BoxIcon::None, {IDOK}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.flags);
    BoxAnswerer answerer({{c.answer, ""}});
    EXPECT_EQ(MessageBoxA(nullptr, "First line\nsecond line", "Caption", c.flags), c.answer);
    ASSERT_TRUE(answerer.WaitDone());
    answerer.Stop();
    ASSERT_EQ(answerer.answered().size(), 1u);
    const MessageBoxInfo box = answerer.answered()[0];
    EXPECT_EQ(box.text, "First line\nsecond line");
    EXPECT_EQ(box.caption, "Caption");
    EXPECT_EQ(box.owner, nullptr);
    EXPECT_EQ(box.processId, GetCurrentProcessId());
    EXPECT_EQ(IconName(box.icon), std::string(IconName(c.icon)));
    EXPECT_EQ(box.buttons, c.buttons);
    EXPECT_TRUE(answerer.unexpected().empty());
  }
}

TEST(HarnessMessageBoxes, AnswersUnexpectedBoxesSoATestNeverHangs) {
  BoxAnswerer answerer({});
  EXPECT_EQ(MessageBoxA(nullptr, "surprise", nullptr, MB_YESNO), IDNO);
  answerer.Stop();
  ASSERT_EQ(answerer.unexpected().size(), 1u);
  EXPECT_EQ(answerer.unexpected()[0].text, "surprise");
}

TEST(HarnessMessageBoxes, ReadsTheIconOfAnotherProcessBoxFromTheScreen) {
  struct Case {
    UINT flags;
    BoxIcon icon;
    int answer;
  };
  const Case cases[] = {{MB_ICONERROR, BoxIcon::Error, IDOK},
                        {MB_ICONQUESTION | MB_YESNO, BoxIcon::Question, IDYES},
                        {MB_ICONINFORMATION, BoxIcon::Information, IDOK},
                        {MB_ICONWARNING | MB_YESNO, BoxIcon::Warning, IDNO}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.flags);
    Actor actor = Actor::ShowBox("Text from another process", c.flags);
    ASSERT_TRUE(actor.WaitReady());
    const HWND box = WaitForMessageBox(actor.process().id(), nullptr);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(FindMessageBox(GetCurrentProcessId()), nullptr);
    const MessageBoxInfo info = ReadMessageBox(box);
    EXPECT_EQ(info.text, "Text from another process");
    EXPECT_EQ(info.caption, "kxactor");
    EXPECT_EQ(IconName(info.icon), std::string(IconName(c.icon)));
    EXPECT_TRUE(AnswerMessageBox(box, c.answer));
    DWORD code = 0;
    EXPECT_TRUE(actor.process().WaitExit(kTimeout, &code));
    EXPECT_EQ(code, static_cast<DWORD>(c.answer));
  }
}

TEST(HarnessPixels, ClientAreaReadsTheSameThroughTheWindowAndFromTheScreen) {
  UiThread ui;
  ASSERT_TRUE(WaitForVisible(ui.window));
  Image own;
  // The first paint may still be on its way: wait until the two halves show.
  ASSERT_TRUE(WaitFor([&] {
    own = CaptureClient(ui.window);
    return !own.empty() && own.At(5, 5) == RGB(200, 30, 40) && own.At(150, 5) == RGB(10, 20, 230);
  }));
  const Image screen = CaptureClientFromScreen(ui.window);
  ASSERT_FALSE(screen.empty());
  EXPECT_EQ(screen.width, own.width);
  EXPECT_EQ(screen.height, own.height);
  EXPECT_EQ(screen.At(99, 59), RGB(200, 30, 40));
  EXPECT_EQ(screen.At(100, 0), RGB(10, 20, 230));
  // Covered by another window, the screen no longer shows it: nothing is read.
  WNDCLASSA wc = {};
  wc.lpfnWndProc = DefWindowProcA;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.lpszClassName = "KxCover";
  RegisterClassA(&wc);
  HWND cover = CreateWindowExA(WS_EX_TOPMOST, "KxCover", "", WS_POPUP | WS_VISIBLE, 40, 40, 300,
                               300, nullptr, nullptr, wc.hInstance, nullptr);
  EXPECT_TRUE(CaptureClientFromScreen(ui.window).empty());
  DestroyWindow(cover);
}

TEST(HarnessPixels, ScreenshotIsAPngOfTheWholeScreen) {
  char folder[MAX_PATH] = {};
  if (!GetEnvironmentVariableA("KX_SCREEN_DIR", folder, sizeof folder))
    SetEnvironmentVariableA("KX_SCREEN_DIR", FreshFolder("screens").c_str());
  const std::string path = SaveScreenshot("harness-selftest");
  ASSERT_FALSE(path.empty());
  std::ifstream in(path, std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), {});
  ASSERT_GT(bytes.size(), 33u);
  EXPECT_EQ(bytes.substr(1, 3), "PNG");
  const auto be32 = [&](size_t at) {
    return (static_cast<unsigned char>(bytes[at]) << 24) |
           (static_cast<unsigned char>(bytes[at + 1]) << 16) |
           (static_cast<unsigned char>(bytes[at + 2]) << 8) |
           static_cast<unsigned char>(bytes[at + 3]);
  };
  EXPECT_EQ(be32(16), static_cast<unsigned>(GetSystemMetrics(SM_CXSCREEN)));
  EXPECT_EQ(be32(20), static_cast<unsigned>(GetSystemMetrics(SM_CYSCREEN)));
  DeleteFileA(path.c_str());
}

}  // namespace
