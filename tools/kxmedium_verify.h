// `kxmedium verify`: the checks the setup makes of its medium, made before a user meets them.
#pragma once

#include <string>

namespace kxmedium {

// Prints the medium's total size and meter range and names every problem found on standard
// error. 0 for a good medium, 2 otherwise.
int VerifyMedium(const std::string& mediumDir);

}  // namespace kxmedium
