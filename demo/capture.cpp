// Screenshots of the demo as PNG files (8-bit RGB, filter 0 on every row) whose stream zlib
// compresses and checksums, the pixels read from the screen through the Wine harness; and the
// held-thread look at the progress window, which lives only while the files are written.
#include "demo/capture.h"

#include "platform/win32_handles.h"
#include "tests/wine/harness/harness.h"

#include <zlib.h>

#include <fstream>
#include <vector>

namespace capture {

namespace {

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

std::string SaveScreenshot(const std::string& name, HWND window) {
  char folder[MAX_PATH] = {};
  const DWORD length = GetEnvironmentVariableA("KX_SCREEN_DIR", folder, sizeof folder);
  RECT r;
  if (length == 0 || length >= sizeof folder || !GetWindowRect(window, &r)) return "";
  const RECT screen = {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
  InflateRect(&r, 12, 12);  // a margin, within the screen
  IntersectRect(&r, &r, &screen);
  const std::vector<COLORREF> image = harness::CaptureScreen(r);
  if (image.empty()) return "";
  std::string path = harness::WindowsPath(folder);
  CreateDirectoryA(path.c_str(), nullptr);
  path += (path.back() == '\\' ? "" : "\\") + name + ".png";
  std::ofstream out(path, std::ios::binary);
  return out << EncodePng(r.right - r.left, r.bottom - r.top, image) ? path : "";
}

HWND CatchWhileHeld(DWORD threadId, const std::function<HWND()>& found,
                    const std::function<void(HWND)>& whileHeld, DWORD timeoutMs) {
  const platform::KernelHandle thread(OpenThread(THREAD_SUSPEND_RESUME, FALSE, threadId));
  HWND caught = nullptr;
  harness::WaitFor(
      [&] {
        if (!thread || SuspendThread(thread.get()) == static_cast<DWORD>(-1)) return true;
        if ((caught = found())) whileHeld(caught);
        ResumeThread(thread.get());
        return caught != nullptr;
      },
      timeoutMs);
  return caught;
}

}  // namespace capture
