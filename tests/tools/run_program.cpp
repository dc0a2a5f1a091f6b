// fork and execvp with standard output and error sent to temporary files, read back once the
// child has ended (no pipe to fill up and block the child).
#include "tests/tools/run_program.h"

#include "tests/scratch.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>

// The whole of a temporary file, read through a second opening; the file closed.
static std::string Slurp(std::FILE* file) {
  const std::string text = ScratchFolder::Read("/dev/fd/" + std::to_string(::fileno(file)));
  std::fclose(file);
  return text;
}

ProgramResult RunProgram(const std::vector<std::string>& argv) {
  ProgramResult result;
  std::FILE* out = std::tmpfile();
  std::FILE* err = std::tmpfile();
  if (!out || !err || argv.empty()) return result;
  std::fflush(nullptr);
  const pid_t child = ::fork();
  if (child == 0) {
    ::dup2(::fileno(out), 1);
    ::dup2(::fileno(err), 2);
    std::vector<char*> args;
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    ::execvp(args[0], args.data());
    std::fprintf(stderr, "cannot run %s\n", args[0]);
    ::_exit(127);
  }
  int status = 0;
  if (child > 0 && ::waitpid(child, &status, 0) == child && WIFEXITED(status))
    result.status = WEXITSTATUS(status);
  result.out = Slurp(out);
  result.err = Slurp(err);
  return result;
}

ProgramResult RunLine(const std::string& line, const std::map<std::string, std::string>& words,
                      const std::string& root) {
  std::vector<std::string> argv;
  std::string command;  // the words quoted for a shell
  std::istringstream in(line);
  for (std::string word; in >> word;) {
    const auto found = words.find(word);
    argv.push_back(found != words.end()                        ? found->second
                   : word == "kxextract" || word == "kxmedium" ? BuiltProgram(word)
                                                               : word);
    command += argv.size() > 1 ? " '" + argv.back() + "'" : "";
  }
  if (argv[0] == "@tty") argv = {"script", "-qec", command, "/dev/null"};
  ProgramResult result = RunProgram(argv);
  std::string backslashed = root;
  for (char& c : backslashed)
    if (c == '/') c = '\\';
  for (const std::string& path : {backslashed, root})
    for (size_t at; !path.empty() && (at = result.err.find(path)) != std::string::npos;)
      result.err.replace(at, path.size(), 1, '~');
  return result;
}

std::string BuiltProgram(const std::string& name) {
  const char* binary = std::getenv("KX_BINARY_DIR");
  return std::string(binary ? binary : KX_TEST_BINARY_DIR) + "/" + name;
}

std::string SourceFolder() {
  const char* source = std::getenv("KX_SOURCE_DIR");
  return source ? source : KX_TEST_SOURCE_DIR;
}
