// The Meter control: a percentage bar of its own window class ("Meter"), used by the progress
// window. Range and position are kept in the window's extra bytes; every change repaints it
// at once, so that it moves even while no messages are dispatched. Win32 only.
#pragma once

#include <windows.h>

// Messages understood by the control. The get messages and the painting see the low 16 bits
// of the values stored by the set messages.
constexpr UINT MM_SETRANGE = 1024;  // wParam: new range; repaints
constexpr UINT MM_GETRANGE = 1025;  // answers the range
constexpr UINT MM_SETPOS = 1026;    // wParam: new position; repaints
constexpr UINT MM_GETPOS = 1027;    // answers the position

// Extra bytes of each Meter window: the range at offset 0, the position at offset 4.
constexpr int kMeterRangeOffset = 0;
constexpr int kMeterPositionOffset = 4;
constexpr int kMeterExtraBytes = 8;

// Registers the "Meter" class for the module; the result is not looked at (a failure shows
// later as a progress window that cannot be created).
void RegisterMeterClass(HINSTANCE instance);
LRESULT CALLBACK MeterWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
