// A scratch folder per test, removed afterwards; paths given with backslashes work on both
// systems (the POSIX platform layer maps them).
#pragma once

#include <filesystem>
#include <fstream>
#include <string>

#ifdef _WIN32
#include <process.h>
#include <windows.h>
#define getpid _getpid
#else
#include <unistd.h>
#endif

#include <gtest/gtest.h>

// The universal time (FILETIME ticks) of a local time, converted as Windows converts it: the
// Wine tests run in a zone half an hour off UTC, the native ones in UTC.
inline uint64_t LocalTicksToUtc(uint64_t local) {
#ifdef _WIN32
  const FILETIME in = {static_cast<DWORD>(local), static_cast<DWORD>(local >> 32)};
  FILETIME out;
  LocalFileTimeToFileTime(&in, &out);
  return uint64_t{out.dwHighDateTime} << 32 | out.dwLowDateTime;
#else
  return local;
#endif
}

class ScratchFolder {
 public:
  ScratchFolder() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    // The process number keeps test programs that run at the same time apart.
    std::string name = std::string("kx-") + std::to_string(static_cast<long>(::getpid())) + "-" +
                       (info ? info->test_suite_name() : "t") + "-" + (info ? info->name() : "x");
    for (char& c : name)
      if (c == '/') c = '_';
    path_ = std::filesystem::temp_directory_path() / name;
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
  }
  ~ScratchFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  const std::filesystem::path& path() const { return path_; }
  std::string File(const std::string& name) const { return (path_ / name).string(); }
  std::string Write(const std::string& name, const std::string& bytes) const {
    std::ofstream(path_ / name, std::ios::binary) << bytes;
    return File(name);
  }
  static std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

 private:
  std::filesystem::path path_;
};
