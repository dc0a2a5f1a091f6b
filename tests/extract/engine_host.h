// A recording host for engine tests: the engine's boxes and window messages are captured
// instead of shown, answers and pump behaviour are scripted per test, and jobs are run with
// the engine's process-wide state (password in force, cancel flag) reset first.
#pragma once

#include "extract/extract.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct SentMessage {
  unsigned message = 0;
  uintptr_t wParam = 0;
  std::string name;  // PWM_ENTRYNAME's text
  friend bool operator==(const SentMessage&, const SentMessage&) = default;
};

struct EngineHost {
  // The texts of the boxes; one not shown as the engine shows its boxes (owned by the test
  // window, no caption, the error icon) is recorded as "unexpected box: " and its text.
  std::vector<std::string> boxes;
  std::vector<SentMessage> messages;
  int pumps = 0;
  // Answer to each message sent (default 0), and what a pump does (default nothing).
  std::function<intptr_t(const SentMessage&)> answer;
  std::function<void()> onPump;

  std::vector<std::string> BoxTexts() const { return boxes; }
};

// Installs the recording hooks, clears the record and resets the engine's process-wide
// state: the built-in password in force and the cancel flag clear.
EngineHost& StartHost();

// The window handle the tests put in their jobs.
inline platform::WindowHandle TestWindow() { return reinterpret_cast<void*>(0x5150); }

// A job as the setup fills it, for the given archive and output folder (null: test mode).
ExtractJob MakeJob(const std::string& archive, const char* outputFolder);

inline SentMessage Name(const std::string& name) { return {PWM_ENTRYNAME, 0, name}; }
