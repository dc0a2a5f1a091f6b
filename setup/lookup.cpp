// File lookup and path helpers shared by the installation steps.
#include "setup/lookup.h"

#include <cstring>

int LookUpFile(const char* path) { return platform::FindFirst(path, &FoundFileData) ? 0 : 1; }

void AppendSeparator(char* path) {
  const size_t length = std::strlen(path);
  if (length == 0) return;
  const char last = path[length - 1];
  if (last != '\\' && last != '/') std::strcat(path, "\\");
}
