// The recording host's hooks: plain functions that forward to the one EngineHost of the test.
#include "tests/extract/engine_host.h"

#include "extract/decrypt.h"
#include "setup/state.h"

namespace {

EngineHost g_host;

int RecordBox(platform::WindowHandle owner, const char* text, const char* caption, unsigned flags) {
  const bool expected = owner == TestWindow() && !caption && flags == platform::mb::kIconError;
  g_host.boxes.push_back((expected ? "" : "unexpected box: ") + std::string(text));
  return platform::mb::kIdOk;
}

intptr_t RecordMessage(platform::WindowHandle, unsigned message, uintptr_t wParam,
                       intptr_t lParam) {
  SentMessage sent{message, wParam, {}};
  if (message == PWM_ENTRYNAME) sent.name = reinterpret_cast<const char*>(lParam);
  g_host.messages.push_back(sent);
  return g_host.answer ? g_host.answer(sent) : 0;
}

void RecordPump() {
  ++g_host.pumps;
  if (g_host.onPump) g_host.onPump();
}

}  // namespace

EngineHost& StartHost() {
  g_host = EngineHost{};
  platform::SetHostHooks({RecordBox, RecordMessage, RecordPump});
  g_setup.cancelRequested = 0;
  g_crypt.ArchivePassword = kBuiltInPassword;
  return g_host;
}

ExtractJob MakeJob(const std::string& archive, const char* outputFolder) {
  static std::string path;  // the job holds a pointer; one job at a time in these tests
  path = archive;
  return {.archivePath = path.c_str(),
          .outputFolder = outputFolder,
          .callerFlag = 1,
          .notifyWindow = TestWindow()};
}
