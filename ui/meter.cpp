// The Meter control: one centred percentage text painted twice, light on the highlight colour
// over the filled part and the highlight colour on light over the rest, with no background
// erase, so that the bar never flickers.
#include "ui/meter.h"

void RegisterMeterClass(HINSTANCE instance) {
  WNDCLASSA meterClass = {};
  meterClass.style = CS_HREDRAW | CS_VREDRAW;
  meterClass.lpfnWndProc = MeterWndProc;
  meterClass.cbClsExtra = 0;
  meterClass.cbWndExtra = kMeterExtraBytes;
  meterClass.hInstance = instance;
  meterClass.hIcon = nullptr;
  meterClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
  meterClass.hbrBackground = nullptr;  // the control covers its whole client area itself
  meterClass.lpszMenuName = nullptr;
  meterClass.lpszClassName = "Meter";
  RegisterClassA(&meterClass);
}

namespace {

void Repaint(HWND window) {
  InvalidateRect(window, nullptr, FALSE);
  UpdateWindow(window);
}

void Paint(HWND window) {
  unsigned range = static_cast<unsigned>(SendMessageA(window, MM_GETRANGE, 0, 0));
  unsigned position = static_cast<unsigned>(SendMessageA(window, MM_GETPOS, 0, 0));
  if (range == 0) {
    range = 1;
    position = 0;
  }
  char text[16];
  const int length = wsprintfA(text, "%d%%", static_cast<int>(position * 100 / range));

  RECT client;
  GetClientRect(window, &client);
  const int width = client.right, height = client.bottom;
  // 16-bit values times a window width stay far inside 64 bits; the quotient may pass the
  // width when the position is above the range, and the rectangles are clipped to the window.
  const int filled = static_cast<int>(static_cast<unsigned long long>(width) * position / range);

  PAINTSTRUCT paint;
  HDC dc = BeginPaint(window, &paint);
  SetTextAlign(dc, TA_CENTER | TA_TOP);
  SetTextColor(dc, GetSysColor(COLOR_HIGHLIGHTTEXT));
  SetBkColor(dc, GetSysColor(COLOR_HIGHLIGHT));
  SIZE letter = {};
  GetTextExtentPointA(dc, "X", 1, &letter);
  const int x = width / 2, y = (height - letter.cy) / 2;

  RECT part = {0, 0, filled, height};
  ExtTextOutA(dc, x, y, ETO_OPAQUE | ETO_CLIPPED, &part, text, length, nullptr);

  part = {filled, 0, width, height};
  const COLORREF highlightText = SetTextColor(dc, GetBkColor(dc));
  SetBkColor(dc, highlightText);
  ExtTextOutA(dc, x, y, ETO_OPAQUE | ETO_CLIPPED, &part, text, length, nullptr);
  EndPaint(window, &paint);
}

}  // namespace

LRESULT CALLBACK MeterWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CREATE:
      SendMessageA(window, MM_SETRANGE, 100, 0);
      SendMessageA(window, MM_SETPOS, 50, 0);
      return 0;
    case WM_PAINT:
      Paint(window);
      return 0;
    case WM_GETDLGCODE:
      return DLGC_STATIC;
    case MM_SETRANGE:
      SetWindowLongA(window, kMeterRangeOffset, static_cast<LONG>(wParam));
      Repaint(window);
      return 0;
    case MM_GETRANGE:
      return static_cast<WORD>(GetWindowWord(window, kMeterRangeOffset));
    case MM_SETPOS:
      SetWindowLongA(window, kMeterPositionOffset, static_cast<LONG>(wParam));
      Repaint(window);
      return 0;
    case MM_GETPOS:
      return static_cast<WORD>(GetWindowWord(window, kMeterPositionOffset));
    default:
      return DefWindowProcA(window, message, wParam, lParam);
  }
}
