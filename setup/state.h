// The run-wide values of the setup program, shared by the installation driver, the user
// interface and the extraction engine, and the message pump that also reports a cancel.
// Header-only data, so that the engine and the tools built on it carry their own copy.
#pragma once

#include "platform/platform.h"

#include <cstdint>

struct SetupState {
  platform::ModuleHandle instance = nullptr;
  char title[29] = {};
  char actionText[29] = {};
  char sourceDir[260] = {};
  platform::FileTime setupTime;
  char defaultDir[264] = "C:\\Karvex";
  char destPath[260] = {};
  char destDir[272] = {};
  uint32_t totalKB = 0;
  volatile int32_t cancelRequested = 0;  // also set from a console Ctrl-C handler in tools
  int32_t busyCursor = 0;
  platform::WindowHandle progressWindow = nullptr;
  uint32_t CompanionBytes = 0;
  uint32_t CompanionBytesShown = 0;
};

inline SetupState g_setup;

// Dispatches every waiting message of the thread, then answers the cancel flag.
inline int PumpMessages() {
  platform::DispatchPendingMessages();
  return g_setup.cancelRequested;
}
