// Path handling of the installation: bounded joins, the long-name expansion of a folder, the
// folder of an existing installation taken from the "zip" association, and the form check of
// a typed destination. Portable: file lookups go through the platform layer.
#pragma once

#include <cstddef>

// MAX_PATH: every path handed to the file system, terminator included.
constexpr size_t kPathSize = 260;
// ExpandLongPathInPlace's scratch, terminator included.
constexpr size_t kLongNameLimit = 261;

// out = folder followed by name, when the whole text fits in capacity bytes (terminator
// included); returns false and leaves out empty otherwise, so that a path too long to join is
// never cut into another path.
bool JoinPath(char* out, size_t capacity, const char* folder, const char* name);

// The same path with every component replaced by the name the file system reports for it (the
// long name of an 8.3 component). Components are split at backslashes and forward slashes and
// joined with backslashes; a last component with "*" or "?" is kept as written. Returns the
// length of the output, or 0 when a component is not found, the path has no usable prefix, or
// the result would not fit in capacity bytes (terminator included).
int ExpandLongPath(const char* source, char* output, size_t capacity);

// Replaces path (which holds capacity bytes) by its long-name form when that form is at most
// kLongNameLimit - 1 characters long and fits; otherwise the path is left as it is.
char* ExpandLongPathInPlace(char* path, size_t capacity);

// The folder of the program that a "zip" association value starts, when that program's name
// begins with "karvex" (any letter case): the value up to the last backslash or forward slash
// before its first blank. Returns 1 with the folder in out, 0 when the value names no such
// folder or the folder would not fit in capacity bytes.
int ZipAssociationFolder(const char* value, char* out, size_t capacity);

// Longest destination the folder field and the file calls accept.
constexpr size_t kMaxDestinationLength = kPathSize - 1;

// Checks the form of a typed destination and puts its trailing separator in order: a bare drive
// ("C:") gets a backslash, any other path loses one trailing backslash. text holds at least
// kPathSize + 1 bytes. Returns false (text unchanged) for a text that is neither a drive path
// nor a network path, or that is longer than kMaxDestinationLength.
bool NormalizeDestination(char* text);
