// Path handling of the installation: bounded joins, long-name expansion, the folder named by
// the "zip" association, and the form check of a typed destination folder.
#include "setup/paths.h"

#include "platform/platform.h"

#include <cstring>

namespace {

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualIgnoringCase(const char* a, const char* b) {
  for (; *a && *b; ++a, ++b)
    if (LowerAscii(*a) != LowerAscii(*b)) return false;
  return *a == *b;
}

// Length of the part of source that is kept ahead of the first component: "C:\" or "C:", or
// "\\server\share\" up to its fourth separator. 0 for a path without a prefix; -1 for a network
// path without a share.
int PrefixLength(const char* source) {
  if (source[0] != '\0' && source[1] == ':') return IsSeparator(source[2]) ? 3 : 2;
  if (IsSeparator(source[0]) && IsSeparator(source[1])) {
    int separators = 0;
    for (int i = 0; source[i] != '\0'; ++i)
      if (IsSeparator(source[i]) && ++separators == 4) return i + 1;
    return -1;
  }
  return 0;
}

}  // namespace

bool JoinPath(char* out, size_t capacity, const char* folder, const char* name) {
  const size_t folderLength = std::strlen(folder);
  const size_t nameLength = std::strlen(name);
  if (capacity == 0) return false;
  out[0] = '\0';
  if (folderLength + nameLength >= capacity) return false;
  std::memcpy(out, folder, folderLength);
  std::memcpy(out + folderLength, name, nameLength + 1);
  return true;
}

int ExpandLongPath(const char* source, char* output, size_t capacity) {
  if (capacity == 0) return 0;
  output[0] = '\0';
  // Every lookup below is of a leading part of source, so one MAX_PATH buffer holds them all.
  if (std::strlen(source) >= kPathSize) return 0;
  platform::FindData whole;
  if (!platform::FindFirst(source, &whole)) return 0;

  const int prefix = PrefixLength(source);
  if (prefix < 0 || static_cast<size_t>(prefix) >= capacity) return 0;
  size_t length = 0;
  for (; length < static_cast<size_t>(prefix); ++length)
    output[length] = IsSeparator(source[length]) ? '\\' : source[length];
  output[length] = '\0';

  char lookup[kPathSize];
  const char* component = source + prefix;
  for (;;) {
    const char* end = component;
    while (*end != '\0' && !IsSeparator(*end)) ++end;
    const char* name;
    size_t nameLength;
    platform::FindData found;
    if (*end != '\0') {
      const size_t upto = static_cast<size_t>(end - source);
      std::memcpy(lookup, source, upto);
      lookup[upto] = '\0';
      if (!platform::FindFirst(lookup, &found)) return 0;
      name = found.name;
    } else {
      // The last component: an empty one (a trailing separator) names no file.
      if (end == component) return 0;
      name = std::strpbrk(component, "*?") ? component : whole.name;
    }
    nameLength = std::strlen(name);
    const size_t separator = *end != '\0' ? 1 : 0;
    if (length + nameLength + separator >= capacity) return 0;
    std::memcpy(output + length, name, nameLength);
    length += nameLength;
    if (separator) output[length++] = '\\';
    output[length] = '\0';
    if (*end == '\0') return static_cast<int>(length);
    component = end + 1;
  }
}

char* ExpandLongPathInPlace(char* path, size_t capacity) {
  char scratch[kLongNameLimit];
  const int length = ExpandLongPath(path, scratch, sizeof scratch);
  if (length > 0 && static_cast<size_t>(length) < capacity)
    std::memcpy(path, scratch, static_cast<size_t>(length) + 1);
  return path;
}

int ZipAssociationFolder(const char* value, char* out, size_t capacity) {
  // The program's path ends at the first blank; its folder ends at the last separator in it.
  const char* separator = nullptr;
  for (const char* p = value; *p != '\0' && *p != ' '; ++p)
    if (IsSeparator(*p)) separator = p;
  if (separator == nullptr) return 0;

  // Six characters after the separator, fewer when the value ends sooner; a blank among them
  // is taken like any other character.
  char word[7];
  size_t taken = 0;
  for (; taken < 6 && separator[1 + taken] != '\0'; ++taken) word[taken] = separator[1 + taken];
  word[taken] = '\0';
  if (!EqualIgnoringCase(word, "karvex")) return 0;

  const size_t folderLength = static_cast<size_t>(separator - value);
  if (folderLength == 0 || folderLength >= capacity) return 0;
  std::memcpy(out, value, folderLength);
  out[folderLength] = '\0';
  return 1;
}

bool NormalizeDestination(char* text) {
  const size_t length = std::strlen(text);
  if (length > kMaxDestinationLength) return false;
  const bool network =
      length >= 2 && ((text[0] == '\\' && text[1] == '\\') || (text[0] == '/' && text[1] == '/'));
  if (network) {
    // Two separators alone would leave a single backslash: the root of the current drive.
    if (length < 3 || IsSeparator(text[2])) return false;
  } else if (length < 2 || text[1] != ':') {
    return false;
  }
  if (!network && length == 2) {
    text[2] = '\\';
    text[3] = '\0';
  } else if (text[length - 1] == '\\') {
    text[length - 1] = '\0';
  }
  return true;
}
