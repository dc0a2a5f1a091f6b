// Windows, control texts, clicks and message boxes for the Wine harness. Windows of other
// processes are found through EnumWindows, which under Wine sees every window of the prefix's
// desktop; texts are read without blocking on a busy thread.
#include "tests/wine/harness/harness.h"

#include "platform/win32_handles.h"

#include <algorithm>
#include <cstring>

namespace harness {

namespace {

constexpr DWORD kPollMs = 5;
constexpr UINT kSendTimeoutMs = 2000;
constexpr int kMessageBoxTextId = 0xFFFF;
constexpr int kMessageBoxIconId = 1088;

bool PollLoop(const std::function<bool()>& done, DWORD timeoutMs, bool pump) {
  const DWORD start = GetTickCount();
  for (;;) {
    if (pump) {
      MSG msg;
      while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
      }
    }
    if (done()) return true;
    if (GetTickCount() - start >= timeoutMs) return false;
    if (pump)
      MsgWaitForMultipleObjects(0, nullptr, FALSE, kPollMs, QS_ALLINPUT);
    else
      Sleep(kPollMs);
  }
}

struct TopSearch {
  const char* className;
  const char* title;
  DWORD processId;
  HWND found;
};

BOOL CALLBACK MatchTop(HWND window, LPARAM param) {
  auto* search = reinterpret_cast<TopSearch*>(param);
  if (search->processId && ProcessOf(window) != search->processId) return TRUE;
  if (search->className && lstrcmpiA(ClassOf(window).c_str(), search->className) != 0) return TRUE;
  if (search->title && RawTextOf(window) != search->title) return TRUE;
  search->found = window;
  return FALSE;
}

HWND ChildWithId(HWND parent, int id) {
  for (HWND child = GetWindow(parent, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
    if ((GetDlgCtrlID(child) & 0xFFFF) == (id & 0xFFFF)) return child;
  return nullptr;
}

// A dialog whose children are only the box's text and icon statics and answer buttons (ids
// IDOK to IDCONTINUE); other dialogs may have a static 0xFFFF too (any id -1 control).
bool IsMessageBox(HWND window) {
  if (ClassOf(window) != "#32770" || !ChildWithId(window, kMessageBoxTextId)) return false;
  for (HWND child = GetWindow(window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    const int id = GetDlgCtrlID(child) & 0xFFFF;
    const std::string kind = ClassOf(child);
    const bool isStatic = lstrcmpiA(kind.c_str(), "Static") == 0 &&
                          (id == kMessageBoxTextId || id == kMessageBoxIconId);
    const bool isAnswer = lstrcmpiA(kind.c_str(), "Button") == 0 && id >= IDOK && id <= 11;
    if (!isStatic && !isAnswer) return false;
  }
  return true;
}

struct BoxSearch {
  DWORD processId;
  HWND owner;
  HWND found;
};

BOOL CALLBACK MatchBox(HWND window, LPARAM param) {
  auto* search = reinterpret_cast<BoxSearch*>(param);
  if (search->processId && ProcessOf(window) != search->processId) return TRUE;
  if (!IsWindowVisible(window) || !IsMessageBox(window)) return TRUE;
  if (search->owner != kAnyOwner && GetWindow(window, GW_OWNER) != search->owner) return TRUE;
  search->found = window;
  return FALSE;
}

// The icons a message box can show (MB_ICONERROR, QUESTION, WARNING, INFORMATION).
const struct {
  LPCSTR id;
  BoxIcon icon;
} kSystemIcons[] = {{IDI_HAND, BoxIcon::Error},
                    {IDI_QUESTION, BoxIcon::Question},
                    {IDI_EXCLAMATION, BoxIcon::Warning},
                    {IDI_ASTERISK, BoxIcon::Information}};

// Compares the icon control's pixels on the screen with each system icon drawn here, over
// the opaque part of its mask; Unknown when none matches at least 90% of those pixels.
BoxIcon IconOnScreen(HWND iconControl) {
  const Image screen = CaptureClientFromScreen(iconControl);
  if (screen.empty()) return BoxIcon::Unknown;
  BoxIcon best = BoxIcon::Unknown;
  double bestScore = 0.9;  // below this share of matching opaque pixels nothing counts
  for (const auto& c : kSystemIcons) {
    const HICON icon = LoadIconA(nullptr, c.id);
    // Drawn twice over different backgrounds: pixels equal in both are the icon's own.
    Image drawn[2];
    const COLORREF backgrounds[2] = {RGB(255, 0, 255), RGB(0, 255, 0)};
    for (int k = 0; k < 2; ++k) {
      const platform::WindowDc screenDc(nullptr);
      const platform::MemoryDc memory(CreateCompatibleDC(screenDc.get()));
      const platform::GdiObject<HBITMAP> bitmap(
          CreateCompatibleBitmap(screenDc.get(), screen.width, screen.height));
      const platform::SelectedObject selected(memory.get(), bitmap.get());
      {
        const platform::GdiObject<HBRUSH> brush(CreateSolidBrush(backgrounds[k]));
        RECT all = {0, 0, screen.width, screen.height};
        FillRect(memory.get(), &all, brush.get());
      }
      DrawIconEx(memory.get(), 0, 0, icon, screen.width, screen.height, 0, nullptr, DI_NORMAL);
      drawn[k].width = screen.width;
      drawn[k].height = screen.height;
      for (int y = 0; y < screen.height; ++y)
        for (int x = 0; x < screen.width; ++x)
          drawn[k].pixels.push_back(GetPixel(memory.get(), x, y));
    }
    int opaque = 0, same = 0;
    for (size_t i = 0; i < screen.pixels.size(); ++i) {
      if (drawn[0].pixels[i] != drawn[1].pixels[i]) continue;
      ++opaque;
      if (drawn[0].pixels[i] == screen.pixels[i]) ++same;
    }
    const double score = opaque ? static_cast<double>(same) / opaque : 0;
    if (score > bestScore) bestScore = score, best = c.icon;
  }
  return best;
}

// Which of the system's icons the message box's icon control shows. In this process the
// handle is the shared system icon itself; for another process the control's pixels on the
// screen are compared with each system icon drawn here, over the opaque part of its mask.
BoxIcon IdentifyIcon(HWND iconControl) {
  if (!iconControl || !IsWindowVisible(iconControl)) return BoxIcon::None;
  DWORD_PTR shown = 0;
  SendMessageTimeoutA(iconControl, STM_GETICON, 0, 0, SMTO_ABORTIFHUNG, kSendTimeoutMs, &shown);
  if (!shown) return BoxIcon::None;
  for (const auto& c : kSystemIcons)
    if (reinterpret_cast<HICON>(shown) == LoadIconA(nullptr, c.id)) return c.icon;

  // The box's thread may not have painted it yet: have it painted, then look until the
  // screen shows one of the icons.
  WaitUntilPainted(GetAncestor(iconControl, GA_ROOT), 2000);
  BoxIcon seen = BoxIcon::Unknown;
  WaitFor([&] { return (seen = IconOnScreen(iconControl)) != BoxIcon::Unknown; }, 2000);
  return seen;
}

}  // namespace

bool WaitFor(const std::function<bool()>& done, DWORD timeoutMs) {
  return PollLoop(done, timeoutMs, false);
}

bool WaitForPumping(const std::function<bool()>& done, DWORD timeoutMs) {
  return PollLoop(done, timeoutMs, true);
}

HWND FindTopWindow(const char* className, const char* title, DWORD processId) {
  TopSearch search = {className, title, processId, nullptr};
  EnumWindows(MatchTop, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

HWND WaitForTopWindow(const char* className, const char* title, DWORD processId, DWORD timeoutMs) {
  HWND found = nullptr;
  WaitFor([&] { return (found = FindTopWindow(className, title, processId)) != nullptr; },
          timeoutMs);
  return found;
}

bool WaitForWindowGone(HWND window, DWORD timeoutMs) {
  return WaitFor([&] { return !IsWindow(window); }, timeoutMs);
}

bool WaitForVisible(HWND window, DWORD timeoutMs) {
  return WaitFor([&] { return IsWindowVisible(window) != 0; }, timeoutMs);
}

bool WaitForEnabled(HWND window, bool enabled, DWORD timeoutMs) {
  return WaitFor([&] { return (IsWindowEnabled(window) != 0) == enabled; }, timeoutMs);
}

DWORD ProcessOf(HWND window) {
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  return process;
}

std::string ClassOf(HWND window) {
  char name[256] = {};
  GetClassNameA(window, name, sizeof name);
  return name;
}

std::string TextOf(HWND window) {
  DWORD_PTR length = 0;
  if (!SendMessageTimeoutA(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, kSendTimeoutMs,
                           &length))
    return "";
  std::string text(length + 1, '\0');
  DWORD_PTR copied = 0;
  if (!SendMessageTimeoutA(window, WM_GETTEXT, length + 1, reinterpret_cast<LPARAM>(text.data()),
                           SMTO_ABORTIFHUNG, kSendTimeoutMs, &copied))
    return "";
  text.resize(std::strlen(text.c_str()));
  return text;
}

std::string RawTextOf(HWND window) {
  WCHAR wide[1024] = {};
  const int length = InternalGetWindowText(window, wide, 1024);
  if (length <= 0) return "";
  char text[2048] = {};
  WideCharToMultiByte(CP_ACP, 0, wide, length, text, sizeof text - 1, nullptr, nullptr);
  return text;
}

std::string ControlText(HWND dialog, int id) { return TextOf(ChildWithId(dialog, id)); }

bool WaitForText(HWND window, const std::string& text, DWORD timeoutMs) {
  return WaitFor([&] { return TextOf(window) == text; }, timeoutMs);
}

bool TypeText(HWND edit, const std::string& text, DWORD timeoutMs) {
  if (!IsWindowEnabled(edit)) return false;
  PostMessageA(edit, EM_SETSEL, 0, -1);
  if (text.empty()) PostMessageA(edit, WM_CHAR, VK_BACK, 0);
  for (unsigned char c : text) PostMessageA(edit, WM_CHAR, c, 1);
  return WaitForText(edit, text, timeoutMs);
}

bool Click(HWND button) {
  if (!button || !IsWindowVisible(button) || !IsWindowEnabled(button)) return false;
  return PostMessageA(button, BM_CLICK, 0, 0) != 0;
}

bool ClickControl(HWND dialog, int id) { return Click(ChildWithId(dialog, id)); }

const char* IconName(BoxIcon icon) {
  switch (icon) {
    case BoxIcon::None:
      return "none";
    case BoxIcon::Error:
      return "error";
    case BoxIcon::Question:
      return "question";
    case BoxIcon::Warning:
      return "warning";
    case BoxIcon::Information:
      return "information";
    case BoxIcon::Unknown:
      break;
  }
  return "unknown";
}

HWND FindMessageBox(DWORD processId, HWND owner) {
  BoxSearch search = {processId, owner, nullptr};
  EnumWindows(MatchBox, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

HWND WaitForMessageBox(DWORD processId, HWND owner, DWORD timeoutMs) {
  HWND found = nullptr;
  WaitFor([&] { return (found = FindMessageBox(processId, owner)) != nullptr; }, timeoutMs);
  return found;
}

MessageBoxInfo ReadMessageBox(HWND box) {
  MessageBoxInfo info;
  info.window = box;
  info.owner = GetWindow(box, GW_OWNER);
  info.processId = ProcessOf(box);
  info.caption = RawTextOf(box);
  info.text = RawTextOf(ChildWithId(box, kMessageBoxTextId));
  info.icon = IdentifyIcon(ChildWithId(box, kMessageBoxIconId));
  std::vector<std::pair<LONG, int>> buttons;
  for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    if (lstrcmpiA(ClassOf(child).c_str(), "Button") != 0 || !IsWindowVisible(child)) continue;
    RECT r;
    GetWindowRect(child, &r);
    buttons.emplace_back(r.left, GetDlgCtrlID(child));
  }
  std::sort(buttons.begin(), buttons.end());
  for (const auto& b : buttons) info.buttons.push_back(b.second);
  return info;
}

bool AnswerMessageBox(HWND box, int buttonId, DWORD timeoutMs) {
  const HWND owner = GetWindow(box, GW_OWNER);
  HWND button = ChildWithId(box, buttonId);
  if (!button || !WaitForEnabled(button, true, timeoutMs) || !Click(button)) return false;
  if (!WaitForWindowGone(box, timeoutMs)) return false;
  return !owner || !IsWindow(owner) || WaitForEnabled(owner, true, timeoutMs);
}

// ---- BoxAnswerer ----

BoxAnswerer::BoxAnswerer(std::vector<Step> steps)
    : steps_(std::move(steps)), processId_(GetCurrentProcessId()) {
  InitializeCriticalSection(&lock_);
  stop_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  done_ = CreateEventA(nullptr, TRUE, steps_.empty(), nullptr);
  thread_ = std::thread([this] { Run(); });
}

BoxAnswerer::~BoxAnswerer() {
  Stop();
  CloseHandle(stop_);
  CloseHandle(done_);
  DeleteCriticalSection(&lock_);
}

void BoxAnswerer::Stop() {
  SetEvent(stop_);
  if (thread_.joinable()) thread_.join();
}

bool BoxAnswerer::WaitDone(DWORD timeoutMs) {
  return WaitForSingleObject(done_, timeoutMs) == WAIT_OBJECT_0;
}

std::vector<MessageBoxInfo> BoxAnswerer::answered() const {
  EnterCriticalSection(&lock_);
  auto copy = answered_;
  LeaveCriticalSection(&lock_);
  return copy;
}

std::vector<MessageBoxInfo> BoxAnswerer::unexpected() const {
  EnterCriticalSection(&lock_);
  auto copy = unexpected_;
  LeaveCriticalSection(&lock_);
  return copy;
}

void BoxAnswerer::Run() {
  size_t next = 0;
  HWND lastAnswered = nullptr;
  while (WaitForSingleObject(stop_, 0) != WAIT_OBJECT_0) {
    HWND box = FindMessageBox(processId_);
    if (!box || box == lastAnswered) {
      if (box == lastAnswered && box && !IsWindow(box)) lastAnswered = nullptr;
      WaitForSingleObject(stop_, kPollMs);
      continue;
    }
    MessageBoxInfo info = ReadMessageBox(box);
    int button = IDOK;
    if (next < steps_.size()) {
      const Step& step = steps_[next];
      if (!step.screenshot.empty()) {
        WaitUntilPainted(box);
        SaveScreenshot(step.screenshot);
      }
      button = step.button;
    } else {
      const auto has = [&](int id) {
        return std::find(info.buttons.begin(), info.buttons.end(), id) != info.buttons.end();
      };
      button = has(IDOK) ? IDOK : has(IDNO) ? IDNO : IDCANCEL;
    }
    EnterCriticalSection(&lock_);
    (next < steps_.size() ? answered_ : unexpected_).push_back(info);
    LeaveCriticalSection(&lock_);
    AnswerMessageBox(box, button);
    lastAnswered = box;
    if (next < steps_.size() && ++next == steps_.size()) SetEvent(done_);
  }
}

}  // namespace harness
