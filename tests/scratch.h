// A scratch folder per test, removed afterwards; paths given with backslashes work on both
// systems (the POSIX platform layer maps them).
#pragma once

#include <chrono>
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>

#ifdef _WIN32
#include <windows.h>
#endif

#include <gtest/gtest.h>

// Seconds since 1970 of a local calendar time, as the C library converts it (the tests run in a
// zone half an hour off UTC, so a test that took local time for UTC fails).
inline int64_t LocalUnixTime(int year, int month, int day, int hour, int minute, int second) {
  std::tm fields{};
  fields.tm_year = year - 1900, fields.tm_mon = month - 1, fields.tm_mday = day;
  fields.tm_hour = hour, fields.tm_min = minute, fields.tm_sec = second, fields.tm_isdst = -1;
  return static_cast<int64_t>(std::mktime(&fields));
}

// The universal time (FILETIME ticks) of a local time, converted as the system converts it.
inline uint64_t LocalTicksToUtc(uint64_t local) {
#ifdef _WIN32
  const FILETIME in = {static_cast<DWORD>(local), static_cast<DWORD>(local >> 32)};
  FILETIME out;
  LocalFileTimeToFileTime(&in, &out);
  return uint64_t{out.dwHighDateTime} << 32 | out.dwLowDateTime;
#else
  constexpr int64_t kTicksPerSecond = 10000000, kSecondsFrom1601To1970 = 11644473600;
  const time_t fieldsAsUtc =
      static_cast<time_t>(static_cast<int64_t>(local / kTicksPerSecond) - kSecondsFrom1601To1970);
  std::tm f{};
  gmtime_r(&fieldsAsUtc, &f);
  const int64_t utc =
      LocalUnixTime(f.tm_year + 1900, f.tm_mon + 1, f.tm_mday, f.tm_hour, f.tm_min, f.tm_sec);
  return static_cast<uint64_t>(utc + kSecondsFrom1601To1970) * kTicksPerSecond +
         local % kTicksPerSecond;
#endif
}

class ScratchFolder {
 public:
  ScratchFolder() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    // The clock's count keeps test programs that run at the same time apart.
    std::string name =
        "kx-" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()) + "-" +
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
