// Rules for the names of payload files: which names the setup can write on a Windows system
// after taking them from the archive as OEM text, and how the payload's files map to the
// archive's entries (the main program staged under its final-underscore name).
#pragma once

#include <string>
#include <vector>

namespace kxmedium {

// The staged main program name: the main program's name with its last character replaced
// by "_", as the setup expects it in the payload.
std::string StagedMainProgramName();

// Converts a file name to the OEM bytes stored in the archive. Returns an empty string with
// a reason in *why when the setup could not write a file of that name: not representable in
// the OEM code page (the setup's conversion back would give another name), characters
// Windows refuses, a reserved device name, a trailing dot or blank, or longer than 255.
std::string ArchiveNameFor(const std::string& fileName, std::string* why);

// ASCII letters folded to upper case, as Windows compares these names.
std::string FoldCase(const std::string& name);

struct PayloadFile {
  std::string fileName;   // name in the payload folder
  std::string entryName;  // stored name (OEM), the main program staged
};

// Maps the payload folder's file names to entries. Every problem found is appended to
// problems (the list is empty on success): unrepresentable names, names that collide once
// letter case is ignored, both or neither of the main program and its staged form.
std::vector<PayloadFile> PlanPayload(const std::vector<std::string>& fileNames,
                                     std::vector<std::string>* problems);

}  // namespace kxmedium
