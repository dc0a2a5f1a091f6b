// What an installation from a medium must leave in the destination: the medium's companion
// files with their sizes and times, and every entry of its setup.kx under its base name with
// its size and stored time (the staged main program under its final name). Read from the
// archive's central directory with kxmedium's reader, independently of the engine under test.
#pragma once

#include <string>
#include <vector>

namespace e2e {

// Everything that is wrong with folder as an installation from medium (a trailing backslash
// on medium): one line per missing or differing file. Empty when the installation is whole.
// everyFileShrinks: Deflate makes every payload file smaller, so none may be stored.
std::vector<std::string> MissingFromInstallation(const std::string& medium,
                                                 const std::string& folder, bool everyFileShrinks);

}  // namespace e2e
