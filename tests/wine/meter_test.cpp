// The Meter control under Wine, read back from its pixels: the filled width is W x position /
// range, the percentage text is centred and reads light on dark over the filled part and dark
// on light over the rest; range and position are read back as their low 16 bits; every change
// repaints the whole control at once, in the system's highlight colours.
#include "tests/wine/meter_pixels.h"
#include "tests/wine/setup_support.h"

#include <gtest/gtest.h>

using namespace harness;
using meter_pixels::ExpectShows;

namespace {

// A visible popup holding one Meter with a border, as the progress window holds it.
class MeterHost {
 public:
  MeterHost(int width, int height) {
    ResetSetupState();
    host_ = CreateWindowExA(0, "STATIC", "", WS_POPUP | WS_VISIBLE, 100, 100, width + 40,
                            height + 40, nullptr, nullptr, nullptr, nullptr);
    meter_ = CreateWindowExA(0, "meter", "", WS_CHILD | WS_VISIBLE | WS_BORDER, 20, 20, width,
                             height, host_, nullptr, GetModuleHandleA(nullptr), nullptr);
    UpdateWindow(host_);
  }
  ~MeterHost() { DestroyWindow(host_); }
  HWND meter() const { return meter_; }
  LRESULT Send(UINT message, WPARAM wParam) { return SendMessageA(meter_, message, wParam, 0); }

 private:
  HWND host_ = nullptr;
  HWND meter_ = nullptr;
};

TEST(MeterPainting, FilledWidthAndTextFollowPositionAndRange) {
  struct Case {
    WPARAM range, position;
    const char* text;
    int numerator, denominator;  // filled width = W * numerator / denominator
  };
  const Case cases[] = {
      {3, 1, "33%", 1, 3},         {3, 2, "66%", 2, 3},          {100, 37, "37%", 37, 100},
      {2, 2, "100%", 1, 1},        {2, 3, "150%", 1, 1},         {0, 0, "0%", 0, 1},
      {0, 7, "0%", 0, 1},          {65536, 5, "0%", 0, 1},       {65536 + 4, 1, "25%", 1, 4},
      {4, 65536 + 1, "25%", 1, 4}, {65535, 65535, "100%", 1, 1}, {1000, 1, "0%", 1, 1000},
  };
  for (const SIZE size : {SIZE{300, 40}, SIZE{157, 17}}) {
    MeterHost host(size.cx, size.cy);
    RECT client;
    GetClientRect(host.meter(), &client);
    for (const Case& c : cases) {
      SCOPED_TRACE(testing::Message() << size.cx << "x" << size.cy << " range " << c.range
                                      << " position " << c.position);
      host.Send(MM_SETRANGE, c.range);
      host.Send(MM_SETPOS, c.position);
      ExpectShows(host.meter(), client.right * c.numerator / c.denominator, c.text);
    }
  }
}

TEST(MeterPainting, FreshControlShowsFiftyPercentWithTheLeftHalfFilled) {
  MeterHost host(201, 30);
  RECT client;
  GetClientRect(host.meter(), &client);
  EXPECT_EQ(host.Send(MM_GETRANGE, 0), 100);
  EXPECT_EQ(host.Send(MM_GETPOS, 0), 50);
  ExpectShows(host.meter(), client.right / 2, "50%");
}

TEST(MeterMessages, ValuesAreStoredWholeAndReadBackAsTheirLow16Bits) {
  MeterHost host(100, 20);
  struct Case {
    WPARAM set;
    LRESULT read;
  };
  const Case cases[] = {
      {0, 0}, {1, 1}, {65535, 65535}, {65536, 0}, {0x12345, 0x2345}, {0xFFFFFFFF, 0xFFFF}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.set);
    EXPECT_EQ(host.Send(MM_SETRANGE, c.set), 0);
    EXPECT_EQ(host.Send(MM_GETRANGE, 0), c.read);
    EXPECT_EQ(static_cast<DWORD>(GetWindowLongA(host.meter(), kMeterRangeOffset)),
              static_cast<DWORD>(c.set));
    EXPECT_EQ(host.Send(MM_SETPOS, c.set), 0);
    EXPECT_EQ(host.Send(MM_GETPOS, 0), c.read);
    EXPECT_EQ(static_cast<DWORD>(GetWindowLongA(host.meter(), kMeterPositionOffset)),
              static_cast<DWORD>(c.set));
  }
}

TEST(MeterPainting, EveryChangeRepaintsTheWholeControlAtOnce) {
  MeterHost host(240, 30);
  RECT client;
  GetClientRect(host.meter(), &client);
  for (const UINT message : {MM_SETPOS, MM_SETRANGE}) {
    SCOPED_TRACE(message);
    // Paint something foreign over the control; the change must cover all of it again,
    // without a message being dispatched in between.
    HDC dc = GetDC(host.meter());
    HBRUSH green = CreateSolidBrush(RGB(0, 200, 0));
    FillRect(dc, &client, green);
    DeleteObject(green);
    ReleaseDC(host.meter(), dc);
    if (message == MM_SETPOS) {
      host.Send(MM_SETRANGE, 4);
      dc = GetDC(host.meter());
      green = CreateSolidBrush(RGB(0, 200, 0));
      FillRect(dc, &client, green);
      DeleteObject(green);
      ReleaseDC(host.meter(), dc);
      host.Send(MM_SETPOS, 3);
      ExpectShows(host.meter(), client.right * 3 / 4, "75%");
    } else {
      host.Send(MM_SETRANGE, 8);
      ExpectShows(host.meter(), client.right * 3 / 8, "37%");
    }
  }
}

TEST(MeterPainting, ColoursAreTheSystemHighlightColours) {
  const int elements[] = {COLOR_HIGHLIGHT, COLOR_HIGHLIGHTTEXT};
  const COLORREF saved[] = {GetSysColor(COLOR_HIGHLIGHT), GetSysColor(COLOR_HIGHLIGHTTEXT)};
  const COLORREF changed[] = {RGB(120, 20, 60), RGB(250, 240, 200)};
  ASSERT_TRUE(SetSysColors(2, elements, changed));
  {
    MeterHost host(200, 30);
    host.Send(MM_SETRANGE, 2);
    host.Send(MM_SETPOS, 1);
    const Image image = CaptureClient(host.meter());
    EXPECT_EQ(image.At(2, 0), changed[0]);
    EXPECT_EQ(image.At(image.width - 3, 0), changed[1]);
    ExpectShows(host.meter(), image.width / 2, "50%");
  }
  SetSysColors(2, elements, saved);
}

TEST(MeterClass, IsRegisteredAsTheDialogTemplateNeedsIt) {
  ResetSetupState();
  WNDCLASSA info = {};
  ASSERT_TRUE(GetClassInfoA(GetModuleHandleA(nullptr), "meter", &info));
  EXPECT_EQ(info.style, static_cast<UINT>(CS_HREDRAW | CS_VREDRAW));
  EXPECT_EQ(info.cbClsExtra, 0);
  EXPECT_EQ(info.cbWndExtra, 8);
  EXPECT_EQ(info.hbrBackground, nullptr);
  EXPECT_EQ(info.hIcon, nullptr);
  EXPECT_EQ(info.hCursor, LoadCursorA(nullptr, IDC_ARROW));
  EXPECT_EQ(info.lpfnWndProc, &MeterWndProc);
  MeterHost host(50, 20);
  EXPECT_EQ(host.Send(WM_GETDLGCODE, 0), DLGC_STATIC);
}

}  // namespace
