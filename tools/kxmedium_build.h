// `kxmedium build`: makes an installation medium from the setup program, the companion texts
// and a payload folder. Every refusal is named on standard error; nothing is written into the
// medium folder until all inputs have been checked.
#pragma once

#include <string>

namespace kxmedium {

struct BuildOptions {
  std::string setupProgram;   // the SETUP.EXE to copy
  std::string companionsDir;  // holds the seven companion texts
  std::string payloadDir;     // every file in it goes into the payload archive
  std::string mediumDir;      // created when missing
  bool storeOnly = false;
  bool hasPassword = false;  // false: the built-in payload password
  std::string password;
};

// 0 when the medium was built, 2 when it was refused or failed (reasons printed).
int BuildMedium(const BuildOptions& options);

}  // namespace kxmedium
