// The companion text files that lie beside SETUP.EXE on every installation medium, in the
// order the setup checks and copies them. Shared by the setup and the medium tool.
#pragma once

struct CompanionFile {
  const char* name;    // file name in the source folder
  char finalOverride;  // nonzero: replaces the name's last character in the destination
};

inline constexpr CompanionFile CompanionFiles[] = {
    {"README.TXT", 0},   {"KARVEX.TXT", 0},  {"LICENSE.TXT", 0}, {"VENDOR.TXT", 0},
    {"WHATSNEW.TXT", 0}, {"FILE_ID.DIZ", 0}, {"ORDER.TXT", 0},   {nullptr, 0},
};

// Names of the medium's other fixed files.
inline constexpr char kSetupProgramName[] = "SETUP.EXE";
inline constexpr char kPayloadName[] = "setup.kx";
inline constexpr char kMainProgramName[] = "KARVEX32.EXE";
