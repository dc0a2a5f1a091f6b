// kxmedium: builds an installation medium for the setup (SETUP.EXE, the companion texts with
// its exact time stamp, and the encrypted payload archive setup.kx) and verifies one the way
// the setup will check it.
#include "tools/kxmedium_build.h"
#include "tools/kxmedium_deflate.h"
#include "tools/kxmedium_verify.h"

#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

void Usage(FILE* out = stderr) {
  std::fprintf(
      out,
      "usage: kxmedium build --setup SETUP.EXE --companions DIR --payload DIR --out MEDIUM\n"
      "                      [--store] [--password PASSWORD]\n"
      "       kxmedium verify MEDIUM\n"
      "\n"
      "build   copies SETUP.EXE and the seven companion files into MEDIUM, stamps every\n"
      "        companion file with exactly SETUP.EXE's last-write time, and writes\n"
      "        MEDIUM/setup.kx from every file of the payload folder (no subfolders):\n"
      "        deflated (%s) unless stored is smaller, each entry encrypted with\n"
      "        the setup's built-in password. The payload's KARVEX32.EXE is stored as\n"
      "        KARVEX32.EX_ (a KARVEX32.EX_ is taken as it is); one of them is required.\n"
      "  --store               store every entry\n"
      "  --password PASSWORD   encrypt with PASSWORD instead (for kxextract -P; the setup\n"
      "                        itself cannot read such a medium)\n"
      "verify  checks SETUP.EXE, the companion files and their time stamps, and setup.kx\n"
      "        (every entry encrypted with the built-in password, KARVEX32.EX_ present, a\n"
      "        test extraction with CRC checks), prints the total size and the meter range\n"
      "        as the setup computes them, and names every problem.\n"
      "\n"
      "kxmedium -h | --help | --version\n"
      "\n"
      "exit status: 0 success, 1 usage error, 2 build refused or failed, or problems found\n",
      kxmedium::DeflateLibraryName());
}

int Build(int argc, char** argv) {
  kxmedium::BuildOptions options;
  for (int i = 2; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool hasValue = i + 1 < argc;
    if (arg == "--store") {
      options.storeOnly = true;
    } else if (arg == "--setup" && hasValue) {
      options.setupProgram = argv[++i];
    } else if (arg == "--companions" && hasValue) {
      options.companionsDir = argv[++i];
    } else if (arg == "--payload" && hasValue) {
      options.payloadDir = argv[++i];
    } else if (arg == "--out" && hasValue) {
      options.mediumDir = argv[++i];
    } else if (arg == "--password" && hasValue) {
      options.hasPassword = true;
      options.password = argv[++i];
    } else {
      std::fprintf(stderr, "kxmedium: unexpected argument %s\n", arg.c_str());
      Usage();
      return 1;
    }
  }
  if (options.setupProgram.empty() || options.companionsDir.empty() || options.payloadDir.empty() ||
      options.mediumDir.empty()) {
    std::fprintf(stderr, "kxmedium: build needs --setup, --companions, --payload and --out\n");
    Usage();
    return 1;
  }
  return kxmedium::BuildMedium(options);
}

}  // namespace

int main(int argc, char** argv) {
#ifdef SIGXFSZ
  // A file-size limit then fails the write (EFBIG) like a full disk: reported, cleaned up.
  std::signal(SIGXFSZ, SIG_IGN);
#endif
  if (argc == 2 && (!std::strcmp(argv[1], "-h") || !std::strcmp(argv[1], "--help"))) {
    Usage(stdout);
    return 0;
  }
  if (argc == 2 && !std::strcmp(argv[1], "--version")) {
    std::printf("kxmedium %s\n", KX_VERSION);
    return 0;
  }
  if (argc >= 2 && !std::strcmp(argv[1], "build")) return Build(argc, argv);
  if (argc == 3 && !std::strcmp(argv[1], "verify")) return kxmedium::VerifyMedium(argv[2]);
  Usage();
  return 1;
}
