// File lookup with one shared result record, and the trailing-separator helper.
#pragma once

#include "platform/platform.h"

inline platform::FindData FoundFileData;

// 0 when a file or folder matches path (FoundFileData then describes it), 1 when nothing does.
int LookUpFile(const char* path);

// Appends a backslash unless the path already ends in a backslash or a forward slash.
void AppendSeparator(char* path);
