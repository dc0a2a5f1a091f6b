// Pixels for the Wine harness: a window's client area read through its own DC (this process)
// or from the screen (any process; Wine cannot read another process's window DC).
#include "tests/wine/harness/harness.h"

namespace harness {

namespace {

// A rectangle of a DC as RGB() values, read through a 32-bit top-down DIB section.
std::vector<COLORREF> CopyFromDc(HDC source, const RECT& r) {
  const int width = r.right - r.left, height = r.bottom - r.top;
  if (width <= 0 || height <= 0) return {};
  BITMAPINFO info = {};
  info.bmiHeader = {sizeof info.bmiHeader, width, -height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
  void* bits = nullptr;
  const platform::MemoryDc memory(CreateCompatibleDC(source));
  const platform::GdiObject<HBITMAP> dib(
      CreateDIBSection(memory.get(), &info, DIB_RGB_COLORS, &bits, nullptr, 0));
  if (!dib) return {};
  const platform::SelectedObject selected(memory.get(), dib.get());
  std::vector<COLORREF> pixels;
  if (BitBlt(memory.get(), 0, 0, width, height, source, r.left, r.top, SRCCOPY)) {
    GdiFlush();
    const auto* bgrx = static_cast<const uint32_t*>(bits);
    for (size_t i = 0; i < static_cast<size_t>(width) * height; ++i)
      pixels.push_back(RGB(bgrx[i] >> 16 & 0xFF, bgrx[i] >> 8 & 0xFF, bgrx[i] & 0xFF));
  }
  return pixels;
}

}  // namespace

std::vector<COLORREF> CaptureClient(HWND window) {
  RECT r = {};
  GetClientRect(window, &r);
  return CopyFromDc(platform::WindowDc(window).get(), r);
}

bool WaitUntilPainted(HWND window, DWORD timeoutMs) {
  RedrawWindow(window, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
  RECT r;
  if (!GetWindowRect(window, &r)) return false;
  std::vector<COLORREF> last;
  int sameLooks = 0;
  return WaitFor(
      [&] {
        std::vector<COLORREF> now = CaptureScreen(r);
        sameLooks = now == last ? sameLooks + 1 : 0;
        last = std::move(now);
        return sameLooks >= 2;
      },
      timeoutMs);
}

std::vector<COLORREF> CaptureScreen(const RECT& area) {
  return CopyFromDc(platform::WindowDc(nullptr).get(), area);
}

}  // namespace harness
