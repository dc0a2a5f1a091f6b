// Verifying a medium: SETUP.EXE, the companion files with exactly its time stamp, setup.kx;
// the archive's directory (every entry encrypted, the staged main program present), and a test
// run of the engine over the whole archive with the built-in password and CRC errors reported.
// The engine's message boxes are caught through the platform's host hooks and printed.
#include "tools/kxmedium_verify.h"

#include "tools/kxmedium_names.h"
#include "tools/kxmedium_os.h"
#include "tools/kxmedium_totals.h"
#include "tools/kxmedium_zipdir.h"

#include "extract/extract.h"
#include "platform/platform.h"
#include "res/companions.h"

#include <cstdio>
#include <map>
#include <set>

namespace kxmedium {

namespace {

// What the engine said during the test run, gathered by the host hooks.
struct EngineTranscript {
  std::vector<std::string> boxes;
  std::set<std::string> entryNames;  // folded base names, as the setup would write them
};
EngineTranscript g_transcript;

int CatchMessageBox(platform::WindowHandle, const char* text, const char*, unsigned) {
  g_transcript.boxes.emplace_back(text ? text : "");
  return platform::mb::kIdOk;
}

intptr_t CatchMessage(platform::WindowHandle, unsigned message, uintptr_t, intptr_t lParam) {
  if (message == PWM_ENTRYNAME && lParam)
    g_transcript.entryNames.insert(FoldCase(reinterpret_cast<const char*>(lParam)));
  return 0;  // never cancel
}

void CatchPump() {}

class Findings {
 public:
  void Problem(const std::string& text) {
    std::fprintf(stderr, "kxmedium: problem: %s\n", text.c_str());
    ++count_;
  }
  int count() const { return count_; }

 private:
  int count_ = 0;
};

std::string DescribeOffset(const platform::FileTime& a, const platform::FileTime& b) {
  const int64_t ta = static_cast<int64_t>((static_cast<uint64_t>(a.high) << 32) | a.low);
  const int64_t tb = static_cast<int64_t>((static_cast<uint64_t>(b.high) << 32) | b.low);
  const int64_t diff = ta - tb;
  const uint64_t magnitude = static_cast<uint64_t>(diff < 0 ? -diff : diff);
  char text[64];
  std::snprintf(text, sizeof text, "%llu.%07llu s %s", magnitude / 10000000ull,
                magnitude % 10000000ull, diff < 0 ? "older" : "newer");
  return text;
}

std::string BaseName(const std::string& stored) {
  const size_t cut = stored.find_last_of("/\\");
  return cut == std::string::npos ? stored : stored.substr(cut + 1);
}

void CheckDirectory(const std::string& archive, Findings* findings) {
  std::vector<DirectoryEntry> entries;
  std::string error;
  if (!ReadZipDirectory(archive, &entries, &error)) {
    findings->Problem(std::string(kPayloadName) + ": " + error);
    return;
  }
  const std::string staged = StagedMainProgramName();
  bool haveMain = false;
  std::map<std::string, std::string> seen;
  for (const DirectoryEntry& entry : entries) {
    const bool folder = !entry.name.empty() && entry.name.back() == '/';
    if (!(entry.flags & 1) && !folder)
      findings->Problem(std::string(kPayloadName) + ": entry " + entry.name + " is not encrypted");
    if (!entry.localHeaderMatches)
      findings->Problem(std::string(kPayloadName) + ": the local header of entry " + entry.name +
                        " does not match the central directory");
    if (folder) continue;
    const std::string folded = FoldCase(BaseName(entry.name));
    if (folded == staged) haveMain = true;
    const auto [it, inserted] = seen.emplace(folded, entry.name);
    if (!inserted)
      findings->Problem(std::string(kPayloadName) + ": entries " + it->second + " and " +
                        entry.name + " are written to the same file by the setup");
  }
  if (!haveMain)
    findings->Problem(std::string(kPayloadName) + " does not hold the main program " + staged);
}

void TestWithEngine(const std::string& archive, Findings* findings) {
  g_transcript = {};
  platform::HostHooks hooks;
  hooks.messageBox = CatchMessageBox;
  hooks.sendMessage = CatchMessage;
  hooks.pumpMessages = CatchPump;
  const platform::HostHooks saved = platform::CurrentHostHooks();
  platform::SetHostHooks(hooks);

  static int token;  // the job's window: only ever handed back to the hooks
  ExtractJob job{};
  job.archivePath = archive.c_str();
  job.outputFolder = nullptr;  // test mode
  job.reportCrcErrors = 1;
  job.notifyWindow = &token;
  const int ran = ExtractArchive(&job);
  platform::SetHostHooks(saved);

  for (const std::string& box : g_transcript.boxes)
    findings->Problem(std::string(kPayloadName) + ": the setup would show \"" + box + "\"");
  if (!ran) {
    findings->Problem("the extraction engine was busy");
  } else if (job.result != EXTRACT_OK) {
    findings->Problem(std::string(kPayloadName) + ": the test extraction failed (result " +
                      std::to_string(job.result) + ")");
  } else if (!g_transcript.entryNames.count(StagedMainProgramName())) {
    findings->Problem(std::string(kPayloadName) + ": the setup's walk through the archive " +
                      "does not reach " + StagedMainProgramName());
  }
}

}  // namespace

int VerifyMedium(const std::string& mediumDir) {
  Findings findings;
  MediumTotal total;
  platform::FindData setup;
  const std::string setupPath = JoinPath(mediumDir, kSetupProgramName);
  const bool haveSetup = platform::FindFirst(setupPath.c_str(), &setup) && !setup.isFolder;
  if (!haveSetup) findings.Problem(std::string(kSetupProgramName) + " is missing");

  for (const CompanionFile* c = CompanionFiles; c->name; ++c) {
    const std::string path = JoinPath(mediumDir, c->name);
    platform::FindData data;
    if (!platform::FindFirst(path.c_str(), &data) || data.isFolder) {
      findings.Problem(std::string("companion file ") + c->name + " is missing");
      continue;
    }
    if (haveSetup && !(data.lastWrite == setup.lastWrite))
      findings.Problem(std::string("the time stamp of ") + c->name +
                       " does not match the time stamp of " + kSetupProgramName + " (" +
                       DescribeOffset(data.lastWrite, setup.lastWrite) + ")");
    total.bytes += ExpandedFileSize(path, data.sizeLow);
  }

  const std::string archive = JoinPath(mediumDir, kPayloadName);
  platform::FindData payload;
  if (!platform::FindFirst(archive.c_str(), &payload) || payload.isFolder) {
    findings.Problem(std::string(kPayloadName) + " is missing");
  } else {
    total.bytes += payload.sizeLow;
    CheckDirectory(archive, &findings);
    TestWithEngine(archive, &findings);
  }

  std::printf("%s: %s\n", mediumDir.c_str(), DescribeTotal(total).c_str());
  if (!total.fitsSetup())
    findings.Problem("the medium's total size passes 4 GiB: the setup's meter would be wrong");
  if (findings.count() == 0) {
    std::printf("%s: good medium\n", mediumDir.c_str());
    return 0;
  }
  std::fprintf(stderr, "kxmedium: %s: %d problem%s found\n", mediumDir.c_str(), findings.count(),
               findings.count() == 1 ? "" : "s");
  return 2;
}

}  // namespace kxmedium
