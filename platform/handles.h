// Owning handle types: a handle that closes itself when its owner's scope ends, on every exit
// path, and that can be moved but not copied. UniqueHandle is the pattern; File owns a file of
// the platform layer. The Windows-only kinds are in platform/win32_handles.h. Not for the
// extraction engine, whose abort is a longjmp that would skip destructors (extract/engine.h).
#pragma once

#include "platform/platform.h"

namespace platform {

// Traits give the handle type, its invalid value and how to close it:
//   struct Traits { using Value = ...; static Value Invalid(); static void Close(Value); };
template <class Traits>
class UniqueHandle {
 public:
  using Value = typename Traits::Value;

  UniqueHandle() = default;
  explicit UniqueHandle(Value value) : value_(value) {}
  // Always inlined: a test and a call at each exit cost the size-optimised setup less than
  // an out-of-line copy per handle kind.
  [[gnu::always_inline]] ~UniqueHandle() { Reset(); }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  UniqueHandle(UniqueHandle&& other) noexcept : value_(other.Release()) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }

  Value get() const { return value_; }
  explicit operator bool() const { return value_ != Traits::Invalid(); }

  // Gives the handle up without closing it.
  Value Release() {
    const Value value = value_;
    value_ = Traits::Invalid();
    return value;
  }
  // Closes the handle held, if any, and holds value instead.
  void Reset(Value value = Traits::Invalid()) {
    if (value_ != Traits::Invalid()) Traits::Close(value_);
    value_ = value;
  }
  // For calls that return a handle through a pointer: closes the one held first.
  Value* Receive() {
    Reset();
    return &value_;
  }

 private:
  Value value_ = Traits::Invalid();
};

struct FileTraits {
  using Value = int;
  static int Invalid() { return kInvalidFile; }
  static void Close(int file) { FileClose(file); }
};

// A file of FileOpenRead or FileCreate.
using File = UniqueHandle<FileTraits>;

}  // namespace platform
