// A scratch folder per test, removed afterwards; paths given with backslashes work on both
// systems (the POSIX platform layer maps them).
#pragma once

#include <chrono>
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>

// Seconds since 1970 of a local calendar time, as the C library converts it (the tests run in a
// zone half an hour off UTC, so a test that took local time for UTC fails).
inline int64_t LocalUnixTime(int year, int month, int day, int hour, int minute, int second) {
  std::tm fields{};
  fields.tm_year = year - 1900, fields.tm_mon = month - 1, fields.tm_mday = day;
  fields.tm_hour = hour, fields.tm_min = minute, fields.tm_sec = second, fields.tm_isdst = -1;
  return static_cast<int64_t>(std::mktime(&fields));
}

class ScratchFolder {
 public:
  // The clock's count keeps tests and test programs that run at the same time apart.
  ScratchFolder()
      : path_(
            std::filesystem::temp_directory_path() /
            ("kx-" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()))) {
    std::filesystem::create_directories(path_);
  }
  ~ScratchFolder() { std::filesystem::remove_all(path_, ignored_); }
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
  std::error_code ignored_;  // a folder that cannot be removed is left behind
};
