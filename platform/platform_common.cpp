// The parts of the platform layer that are the same on both systems: the host's hooks.
#include "platform/platform.h"

#include <cstdio>

namespace platform {

namespace {
HostHooks g_hooks;
}

void SetHostHooks(const HostHooks& hooks) { g_hooks = hooks; }
const HostHooks& CurrentHostHooks() { return g_hooks; }

int FormatText(char* out, size_t cap, const char* format, ...) {
  va_list args;
  va_start(args, format);
  const int length = FormatTextV(out, cap, format, args);
  va_end(args);
  return length;
}

}  // namespace platform
