// The engine on Windows itself (run under Wine): names in the OEM code page and in UTF-8 become
// the ANSI names Windows creates (or are refused), selections compare as the system compares,
// entries past 2 GiB are skipped through the 32-bit seeks, and the archive is read denying
// others write access.
#include <windows.h>

#include "extract/extract.h"
#include "tests/extract/engine_host.h"
#include "tests/extract/zip_builder.h"
#include "tests/scratch.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

namespace {

// An archive of one entry "x" with the given name and flags, written to the scratch folder.
std::string OneEntry(const ScratchFolder& scratch, const std::string& name, uint16_t flags) {
  zipbuild::Entry e = zipbuild::Stored(name, "x");
  e.flags = flags;
  static int count = 0;
  return scratch.Write(std::to_string(++count) + ".zip", zipbuild::Archive({e}));
}

TEST(Win32Engine, NamesBecomeAnsiOrAreRefusedSelectionsCompareAsTheSystemAndSeeksPass2GiB) {
  ScratchFolder scratch;
  const char* oem = "\201ber\204.txt";
  char ansi[16];
  OemToCharA(oem, ansi);
  ASSERT_STRNE(ansi, oem) << "the OEM and ANSI code pages differ here";
  const std::string out = scratch.File("out");
  const struct {
    std::string archive;
    const char* select;  // "": every entry
    int keepPaths;
    std::string written, text;  // the file written and its contents; "": the one box's text
  } cases[] = {
      {OneEntry(scratch, std::string("docs/") + oem, 0), "", 0, ansi, "x"},
      {OneEntry(scratch, "\xC3\x84pfel.txt", 0x800), "", 0, "\xC4pfel.txt", "x"},
      {OneEntry(scratch, "\xE6\x97\xA5.txt", 0x800), "", 0, "",
       "Can't extract ?.txt: its name has characters this system's code page cannot hold"},
      {OneEntry(scratch, "\xE4/a.txt", 0), "\xC4/A.TXT", 0, "a.txt", "x"},
      {OneEntry(scratch, "missing/\x81.txt", 0), "", 1, "",
       "Can't create output file: " + out + "\\missing\\\x81.txt"},  // the name as stored
      {zipbuild::WriteSparseArchive(scratch.File("big1.zip"), 0x80000010u), "small.txt", 0,
       "small.txt", "hello"},
      {zipbuild::WriteSparseArchive(scratch.File("big2.zip"), 0xF0000000u), "small.txt", 0,
       "small.txt", "hello"},
  };
  for (const auto& c : cases) {
    std::filesystem::remove_all(out);
    std::filesystem::create_directories(out);
    EngineHost& host = StartHost();
    ExtractJob job = MakeJob(c.archive, out.c_str());
    SelectionNode node;
    std::strcpy(node.name, c.select);
    job.selection = *c.select ? &node : nullptr;
    job.keepPaths = c.keepPaths;
    EXPECT_EQ(ExtractArchive(&job), 1);
    EXPECT_EQ(host.BoxTexts(), std::vector<std::string>(c.written.empty(), c.text)) << c.text;
    EXPECT_EQ(c.written.empty() ? c.text : ScratchFolder::Read(out + "\\" + c.written), c.text);
  }
}

TEST(Win32Engine, ArchiveIsReadDenyingOthersWriteOnlyWhileItIsOpen) {
  ScratchFolder scratch;
  const std::string path = scratch.Write("a.zip", "bytes");
  const auto opens = [&](DWORD access) {
    const HANDLE h = CreateFileA(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                 OPEN_EXISTING, 0, nullptr);
    return h != INVALID_HANDLE_VALUE && CloseHandle(h);
  };
  const int file = platform::FileOpenRead(path.c_str());
  EXPECT_FALSE(opens(GENERIC_WRITE));
  EXPECT_TRUE(opens(GENERIC_READ));
  platform::FileClose(file);
  EXPECT_TRUE(opens(GENERIC_WRITE));
}

}  // namespace
