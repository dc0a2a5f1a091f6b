// Runs a program with an exact argument vector (bytes passed through unchanged, so that a
// password byte such as 0xA9 reaches the program raw) and captures its output and exit status.
// POSIX only: the tool tests run in the native build.
#pragma once

#include <map>
#include <string>
#include <vector>

struct ProgramResult {
  int status = -1;  // exit status, or -1 when the program did not exit normally
  std::string out;  // standard output
  std::string err;  // standard error
};

ProgramResult RunProgram(const std::vector<std::string>& argv);

// Runs a command line split at blanks: the words kxextract and kxmedium name the built
// programs, words found in `words` are replaced by their values, and a first word "@tty" runs
// the rest on a terminal (standard output and error then arrive together in `out`). Standard
// error comes back with `root` (with either separator) shown as '~'.
ProgramResult RunLine(const std::string& line, const std::map<std::string, std::string>& words,
                      const std::string& root);

// The program's path at the top of the build folder.
std::string BuiltProgram(const std::string& name);

// The top of the source tree.
std::string SourceFolder();
