// Pixels for the Wine harness: a window's client area read through its own DC (this process)
// or from the screen (any process; Wine cannot read another process's window DC), and PNG
// screenshots (8-bit RGB, filter 0 on every row) whose stream zlib compresses and checksums.
#include "tests/wine/harness/harness.h"

#include <zlib.h>

#include <fstream>

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

void PutU32(std::string& out, uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<char>(value >> shift));
}

void PutChunk(std::string& out, const char* type, const std::string& data) {
  PutU32(out, static_cast<uint32_t>(data.size()));
  const std::string body = type + data;
  out += body;
  PutU32(out, crc32(0, reinterpret_cast<const Bytef*>(body.data()), body.size()));
}

std::string EncodePng(int width, int height, const std::vector<COLORREF>& rgb) {
  std::string rows;
  for (size_t i = 0; i < rgb.size(); ++i) {
    if (i % width == 0) rows.push_back(0);
    rows += {static_cast<char>(rgb[i]), static_cast<char>(rgb[i] >> 8),
             static_cast<char>(rgb[i] >> 16)};
  }
  uLongf packedSize = compressBound(rows.size());
  std::string packed(packedSize, '\0');
  compress2(reinterpret_cast<Bytef*>(packed.data()), &packedSize,
            reinterpret_cast<const Bytef*>(rows.data()), rows.size(), 6);
  packed.resize(packedSize);
  std::string header, png = "\x89PNG\r\n\x1A\n";
  PutU32(header, width);
  PutU32(header, height);
  header += std::string("\x08\x02\0\0\0", 5);  // 8 bits, truecolour, deflate, no interlace
  PutChunk(png, "IHDR", header);
  PutChunk(png, "IDAT", packed);
  PutChunk(png, "IEND", "");
  return png;
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
        std::vector<COLORREF> now = CopyFromDc(platform::WindowDc(nullptr).get(), r);
        sameLooks = now == last ? sameLooks + 1 : 0;
        last = std::move(now);
        return sameLooks >= 2;
      },
      timeoutMs);
}

std::string SaveScreenshot(const std::string& name, HWND window) {
  char folder[MAX_PATH] = {};
  const DWORD length = GetEnvironmentVariableA("KX_SCREEN_DIR", folder, sizeof folder);
  RECT r;
  if (length == 0 || length >= sizeof folder || !GetWindowRect(window, &r)) return "";
  const RECT screen = {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
  InflateRect(&r, 12, 12);  // a margin, within the screen
  IntersectRect(&r, &r, &screen);
  const std::vector<COLORREF> image = CopyFromDc(platform::WindowDc(nullptr).get(), r);
  if (image.empty()) return "";
  std::string path = WindowsPath(folder);
  CreateDirectoryA(path.c_str(), nullptr);
  path += (path.back() == '\\' ? "" : "\\") + name + ".png";
  std::ofstream out(path, std::ios::binary);
  return out << EncodePng(r.right - r.left, r.bottom - r.top, image) ? path : "";
}

}  // namespace harness
