// kxextract: runs the extraction engine on one archive from the command line. It fills one
// ExtractJob from its arguments, prints the engine's messages on standard error, shows a
// progress line on a terminal, and turns Ctrl-C into the engine's cancel.
#include "extract/extract.h"
#include "platform/platform.h"
#include "setup/state.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#include <csignal>
#endif

namespace {

constexpr int kExitUsage = 1;

constexpr const char kUsage[] =
    "usage: kxextract [-t] [-d DIR] [-k] [-P PASSWORD] [-c] [-e] [-s OFFSET] ARCHIVE [NAME ...]\n"
    "       kxextract -l [-e] [-s OFFSET] ARCHIVE [NAME ...]\n"
    "       kxextract -h | --help | --version\n"
    "  -l           list the entries extraction would take, as unzip -l does (encrypted ones\n"
    "               marked); nothing is decrypted or written\n"
    "  -t           test: read, decrypt and decode every entry and check its CRC-32\n"
    "               (implies -c); write nothing\n"
    "  -d DIR       extract into DIR (default: the current folder)\n"
    "  -k           keep the stored folder names below DIR (the folders must exist)\n"
    "  -P PASSWORD  password of encrypted entries (default: the built-in payload password)\n"
    "  -c           report CRC-32 mismatches as errors\n"
    "  -e           skip empty entries\n"
    "  -s OFFSET    read the first record at byte OFFSET of the archive\n"
    "  NAME ...     extract only these entries (stored names, \"/\" between folders)\n"
    "Archives written by streaming zippers, whose entries carry their sizes only in a data\n"
    "descriptor after the data (no sizes in the local header), are not supported.\n"
    "Exit status: 0 success, 2 error (reported), 99 cancelled, 1 usage error.\n";

// What the hooks need to draw the progress line.
struct ProgressDisplay {
  bool enabled = false;  // standard error is a terminal
  bool shown = false;    // a progress line is on the screen
  uint32_t archiveSize = 0;
  char entryName[kMaxPath] = {};
};
ProgressDisplay g_progress;

// Totals of a listing.
struct Listing {
  uint64_t bytes = 0;
  unsigned entries = 0;
};
Listing g_listing;

void PrintListedEntry(const ListedEntry& entry) {
  std::printf("%9lu  %04u-%02u-%02u %02u:%02u   %s%s\n",
              static_cast<unsigned long>(entry.uncompressedSize), (entry.date >> 9) + 1980u,
              (entry.date >> 5) & 0x0Fu, entry.date & 0x1Fu, entry.time >> 11,
              (entry.time >> 5) & 0x3Fu, entry.name, entry.encrypted ? "  (encrypted)" : "");
  g_listing.bytes += entry.uncompressedSize;
  ++g_listing.entries;
}

void ClearProgressLine() {
  if (!g_progress.shown) return;
  std::fprintf(stderr, "\r%79s\r", "");
  g_progress.shown = false;
}

int PrintMessage(platform::WindowHandle, const char* text, const char*, unsigned) {
  ClearProgressLine();
  std::fputs("kxextract: ", stderr);
  for (const char* p = text; *p; ++p) std::fputc(*p == '\n' ? ' ' : *p, stderr);
  std::fputc('\n', stderr);
  return platform::mb::kIdOk;
}

intptr_t ReceiveMessage(platform::WindowHandle, unsigned message, uintptr_t wParam,
                        intptr_t lParam) {
  if (message == PWM_LISTENTRY) PrintListedEntry(*reinterpret_cast<const ListedEntry*>(lParam));
  if (message == PWM_ENTRYNAME) {
    std::snprintf(g_progress.entryName, sizeof g_progress.entryName, "%s",
                  reinterpret_cast<const char*>(lParam));
  }
  if (g_progress.enabled && (message == PWM_ENTRYNAME || message == PWM_ADVANCE)) {
    unsigned percent = 0;
    if (message == PWM_ADVANCE && g_progress.archiveSize > 0) {
      const uint64_t bytes = static_cast<uint64_t>(wParam) * PROGRESS_UNIT;
      percent = static_cast<unsigned>(bytes * 100 / g_progress.archiveSize);
      if (percent > 100) percent = 100;
    }
    std::fprintf(stderr, "\r%-72.72s %3u%%", g_progress.entryName, percent);
    std::fflush(stderr);
    g_progress.shown = true;
  }
  return 0;  // never cancels: Ctrl-C works through the cancel flag
}

void NoPump() {}

#ifdef _WIN32
BOOL WINAPI OnConsoleControl(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
  g_setup.cancelRequested = 1;
  return TRUE;
}
void InstallCancelHandler() { SetConsoleCtrlHandler(OnConsoleControl, TRUE); }
bool StandardErrorIsTerminal() { return _isatty(_fileno(stderr)) != 0; }
#else
void OnInterrupt(int) { g_setup.cancelRequested = 1; }
void InstallCancelHandler() {
  // A file-size limit then fails the write (EFBIG) like a full disk: the engine reports it and
  // deletes the partial file, where the signal would have killed the program mid-write.
  signal(SIGXFSZ, SIG_IGN);
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESETHAND;  // a second Ctrl-C ends the program at once
  sigaction(SIGINT, &action, nullptr);
}
bool StandardErrorIsTerminal() { return isatty(STDERR_FILENO) != 0; }
#endif

int UsageError(const char* problem, const char* detail = nullptr) {
  if (problem) std::fprintf(stderr, "kxextract: %s%s\n", problem, detail ? detail : "");
  std::fputs(kUsage, stderr);
  return kExitUsage;
}

// Size of the archive the engine will open (".ZIP" appended as the engine does), for the
// percentage of the progress line.
uint32_t ArchiveSize(const char* path) {
  char name[kMaxPath + 8];
  if (std::strlen(path) >= kMaxPath) return 0;
  std::snprintf(name, sizeof name, "%s%s", path, std::strchr(path, '.') ? "" : ".ZIP");
  platform::FindData found;
  return platform::FindFirst(name, &found) ? found.sizeLow : 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && (!std::strcmp(argv[1], "-h") || !std::strcmp(argv[1], "--help"))) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (argc == 2 && !std::strcmp(argv[1], "--version")) {
    std::printf("kxextract %s\n", KX_VERSION);
    return 0;
  }
  ExtractJob job;
  const char* folder = "";
  bool testMode = false;
  int i = 1;
  for (; i < argc && argv[i][0] == '-' && argv[i][1] != '\0'; ++i) {
    const char* option = argv[i];
    if (!std::strcmp(option, "--")) {
      ++i;
      break;
    }
    if (option[2] != '\0') return UsageError("unknown option ", option);
    const char letter = option[1];
    const char* value = nullptr;
    if (std::strchr("dPs", letter)) {
      if (i + 1 >= argc) return UsageError("missing value for ", option);
      value = argv[++i];
    }
    switch (letter) {
      case 't':
        testMode = true;
        break;
      case 'l':
        job.listOnly = 1;
        break;
      case 'd':
        folder = value;
        break;
      case 'k':
        job.keepPaths = 1;
        break;
      case 'P':
        job.hasPassword = 1;
        job.password = value;
        break;
      case 'c':
        job.reportCrcErrors = 1;
        break;
      case 'e':
        job.skipEmptyEntries = 1;
        break;
      case 's': {
        char* end = nullptr;
        errno = 0;
        const long offset = std::strtol(value, &end, 10);
        if (*value == '\0' || *end != '\0' || errno != 0 || offset < 0 || offset > INT32_MAX)
          return UsageError("invalid offset ", value);
        job.startOffset = static_cast<int32_t>(offset);
        break;
      }
      default:
        return UsageError("unknown option ", option);
    }
  }
  if (i >= argc) return UsageError("no archive given");
  job.archivePath = argv[i++];

  // The selection list, in the order given.
  std::vector<SelectionNode> nodes(static_cast<size_t>(argc - i));
  for (size_t n = 0; n < nodes.size(); ++n) {
    const char* name = argv[i + static_cast<int>(n)];
    if (std::strlen(name) >= sizeof nodes[n].name) return UsageError("name too long: ", name);
    std::strcpy(nodes[n].name, name);
    if (n + 1 < nodes.size()) nodes[n].next = &nodes[n + 1];
  }
  job.selection = nodes.empty() ? nullptr : nodes.data();
  job.outputFolder = testMode || job.listOnly ? nullptr : folder;
  // A test that let CRC-32 mismatches pass would call a damaged archive intact.
  if (testMode) job.reportCrcErrors = 1;
  job.callerFlag = 1;

  g_progress.enabled = StandardErrorIsTerminal();
  if (g_progress.enabled) g_progress.archiveSize = ArchiveSize(job.archivePath);
  platform::HostHooks hooks;
  hooks.messageBox = PrintMessage;
  hooks.sendMessage = ReceiveMessage;
  hooks.pumpMessages = NoPump;
  platform::SetHostHooks(hooks);
  InstallCancelHandler();

  if (job.listOnly) {
    g_progress.enabled = false;
    std::printf(
        "Archive:  %s\n  Length      Date    Time    Name\n"
        "---------  ---------- -----   ----\n",
        job.archivePath);
  }
  job.result = EXTRACT_OK;
  ExtractArchive(&job);
  ClearProgressLine();
  if (job.listOnly && job.result == EXTRACT_OK)
    std::printf("---------                     -------\n%9llu                     %u file%s\n",
                static_cast<unsigned long long>(g_listing.bytes), g_listing.entries,
                g_listing.entries == 1 ? "" : "s");
  switch (job.result) {
    case EXTRACT_OK:
      return 0;
    case EXTRACT_CANCELLED:
      return 99;
    default:
      return 2;
  }
}
