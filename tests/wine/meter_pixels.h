// Reads a Meter control's pixels back: the filled width and the percentage text, checked
// against the system's highlight colours and against text drawn centred in the same font.
#pragma once

#include <windows.h>

#include "tests/wine/harness/harness.h"

#include <gtest/gtest.h>

#include <vector>

namespace meter_pixels {

using harness::Image;

inline int TextHeight(HWND window) {
  HDC dc = GetDC(window);
  SIZE letter = {};
  GetTextExtentPointA(dc, "X", 1, &letter);
  ReleaseDC(window, dc);
  return letter.cy;
}

// The pixels that text covers when drawn centred in the control's default font (a meter
// selects no font of its own), with the same antialiasing as any other text of the display.
inline std::vector<bool> TextMask(HWND meter, int width, int height, const char* text) {
  HDC window = GetDC(meter);
  HDC memory = CreateCompatibleDC(window);
  HBITMAP bitmap = CreateCompatibleBitmap(window, width, height);
  HGDIOBJ old = SelectObject(memory, bitmap);
  RECT all = {0, 0, width, height};
  FillRect(memory, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
  SetTextAlign(memory, TA_CENTER | TA_TOP);
  SetBkMode(memory, TRANSPARENT);
  SetTextColor(memory, RGB(0, 0, 0));
  TextOutA(memory, width / 2, (height - TextHeight(meter)) / 2, text, lstrlenA(text));
  std::vector<bool> mask;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) mask.push_back(GetPixel(memory, x, y) != RGB(255, 255, 255));
  SelectObject(memory, old);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(meter, window);
  return mask;
}

inline int Brightness(COLORREF c) { return GetRValue(c) * 3 + GetGValue(c) * 6 + GetBValue(c); }

// Checks the control's pixels: every pixel outside the expected text is the highlight colour
// left of the filled width and the highlight-text colour right of it; every pixel of the text
// differs from its background and is lighter than it over the filled part, darker elsewhere.
inline void ExpectShows(HWND meter, int filled, const char* text) {
  const COLORREF dark = GetSysColor(COLOR_HIGHLIGHT), light = GetSysColor(COLOR_HIGHLIGHTTEXT);
  const Image image = harness::CaptureClient(meter);
  ASSERT_FALSE(image.empty());
  const std::vector<bool> mask = TextMask(meter, image.width, image.height, text);
  int measured = 0;
  bool rightOfFill = false, mixed = false;
  for (int x = 0; x < image.width; ++x) {
    bool sawDark = false, sawLight = false, sawOther = false;
    for (int y = 0; y < image.height; ++y) {
      if (mask[static_cast<size_t>(y) * image.width + x]) continue;
      const COLORREF c = image.At(x, y);
      (c == dark ? sawDark : c == light ? sawLight : sawOther) = true;
    }
    if (sawOther || (sawDark && sawLight) || (sawDark && rightOfFill)) mixed = true;
    if (sawLight) rightOfFill = true;
    if (!rightOfFill) measured = x + 1;
  }
  EXPECT_FALSE(mixed) << "the background is not two plain parts";
  EXPECT_EQ(measured, filled);
  int textPixels = 0, wrong = 0;
  for (int y = 0; y < image.height; ++y)
    for (int x = 0; x < image.width; ++x) {
      if (!mask[static_cast<size_t>(y) * image.width + x]) continue;
      ++textPixels;
      const COLORREF c = image.At(x, y);
      const bool overFill = x < filled;
      if (overFill ? Brightness(c) <= Brightness(dark) : Brightness(c) >= Brightness(light))
        ++wrong;
    }
  EXPECT_GT(textPixels, 0);
  EXPECT_EQ(wrong, 0) << "the text is not \"" << text << "\" centred, light on dark over the "
                      << "filled part and dark on light over the rest";
}

}  // namespace meter_pixels
