// Pictures for the demo: a window of any process saved as it shows on the screen, as a PNG
// file, and a short-lived window caught with its thread held still.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

namespace capture {

// Saves the window as it shows on the screen, with a small margin, as <name>.png in the folder
// KX_SCREEN_DIR names; returns the Windows path written, "" when nothing was.
std::string SaveScreenshot(const std::string& name, HWND window);

// Samples with thread threadId suspended, about every millisecond of its running time, until
// found() answers a window; whileHeld then runs with the thread still suspended. Returns that
// window, or null when the time is up or the thread has ended.
HWND CatchWhileHeld(DWORD threadId, const std::function<HWND()>& found,
                    const std::function<void(HWND)>& whileHeld, DWORD timeoutMs);

}  // namespace capture
