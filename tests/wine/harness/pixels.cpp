// Pixels for the Wine harness: a window's client area read through its own DC (this process)
// or from the screen (any process; Wine cannot read another process's window DC), and PNG
// screenshots of the whole Xvfb screen.
#include "tests/wine/harness/harness.h"
#include "tests/wine/harness/png.h"

#include "platform/win32_handles.h"

namespace harness {

namespace {

// Copies a rectangle of a DC into an Image through a 32-bit top-down DIB section.
Image CopyFromDc(HDC source, int x, int y, int width, int height) {
  Image image;
  if (width <= 0 || height <= 0) return image;
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  const platform::MemoryDc memory(CreateCompatibleDC(source));
  const platform::GdiObject<HBITMAP> dib(
      CreateDIBSection(memory.get(), &info, DIB_RGB_COLORS, &bits, nullptr, 0));
  if (!dib) return image;
  const platform::SelectedObject selected(memory.get(), dib.get());
  if (BitBlt(memory.get(), 0, 0, width, height, source, x, y, SRCCOPY)) {
    GdiFlush();
    image.width = width;
    image.height = height;
    image.pixels.resize(static_cast<size_t>(width) * height);
    const auto* bgrx = static_cast<const uint32_t*>(bits);
    for (size_t i = 0; i < image.pixels.size(); ++i) {
      const uint32_t v = bgrx[i];  // 0x00RRGGBB in memory order B, G, R, X
      image.pixels[i] = RGB((v >> 16) & 0xFF, (v >> 8) & 0xFF, v & 0xFF);
    }
  }
  return image;
}

bool Belongs(HWND found, HWND window) { return found == window || IsChild(window, found); }

}  // namespace

RECT ClientRectOnScreen(HWND window) {
  RECT r = {};
  GetClientRect(window, &r);
  POINT topLeft = {r.left, r.top}, bottomRight = {r.right, r.bottom};
  ClientToScreen(window, &topLeft);
  ClientToScreen(window, &bottomRight);
  return {topLeft.x, topLeft.y, bottomRight.x, bottomRight.y};
}

Image CaptureClient(HWND window) {
  RECT r = {};
  GetClientRect(window, &r);
  const platform::WindowDc dc(window);
  return CopyFromDc(dc.get(), 0, 0, r.right, r.bottom);
}

Image CaptureClientFromScreen(HWND window) {
  const RECT r = ClientRectOnScreen(window);
  if (r.right <= r.left || r.bottom <= r.top) return {};
  const POINT probes[] = {{r.left, r.top},
                          {r.right - 1, r.top},
                          {r.left, r.bottom - 1},
                          {r.right - 1, r.bottom - 1},
                          {(r.left + r.right) / 2, (r.top + r.bottom) / 2}};
  for (const POINT& p : probes)
    if (!Belongs(WindowFromPoint(p), window)) return {};
  const platform::WindowDc screen(nullptr);
  return CopyFromDc(screen.get(), r.left, r.top, r.right - r.left, r.bottom - r.top);
}

Image CaptureScreen() {
  const platform::WindowDc screen(nullptr);
  return CopyFromDc(screen.get(), 0, 0, GetSystemMetrics(SM_CXSCREEN),
                    GetSystemMetrics(SM_CYSCREEN));
}

bool WaitUntilPainted(HWND window, DWORD timeoutMs) {
  RedrawWindow(window, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
  RECT r;
  if (!GetWindowRect(window, &r)) return false;
  std::vector<uint32_t> last;
  int sameLooks = 0;
  return WaitFor(
      [&] {
        const platform::WindowDc screen(nullptr);
        Image now = CopyFromDc(screen.get(), r.left, r.top, r.right - r.left, r.bottom - r.top);
        sameLooks = now.pixels == last ? sameLooks + 1 : 0;
        last = std::move(now.pixels);
        return sameLooks >= 2;
      },
      timeoutMs);
}

bool SavePng(const Image& image, const std::string& windowsPath) {
  if (image.empty()) return false;
  const std::vector<uint8_t> png = EncodePng(image.width, image.height, image.pixels);
  HANDLE file = CreateFileA(windowsPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const BOOL ok = WriteFile(file, png.data(), static_cast<DWORD>(png.size()), &written, nullptr);
  CloseHandle(file);
  return ok && written == png.size();
}

std::string SaveScreenshot(const std::string& name) {
  char folder[MAX_PATH] = {};
  const DWORD length = GetEnvironmentVariableA("KX_SCREEN_DIR", folder, sizeof folder);
  if (length == 0 || length >= sizeof folder) return "";
  std::string path = WindowsPath(folder);
  CreateDirectoryA(path.c_str(), nullptr);
  if (path.back() != '\\') path += '\\';
  path += name + ".png";
  return SavePng(CaptureScreen(), path) ? path : "";
}

}  // namespace harness
