// The engine on Windows itself (run under Wine): UTF-8 names become the ANSI names Windows
// creates (or are refused), selections compare as the system compares, entries past 2 GiB are
// reached through the 32-bit seeks, and a seek back too far for them is refused.
#include <windows.h>

#include "extract/extract.h"
#include "tests/extract/engine_host.h"
#include "tests/extract/zip_builder.h"
#include "tests/scratch.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <tuple>

namespace {

// An archive of one entry "x" with the given name and flags, written to the scratch folder.
std::string OneEntry(const ScratchFolder& scratch, const std::string& name, uint16_t flags) {
  zipbuild::Entry e = zipbuild::Stored(name, "x");
  e.flags = flags;
  static int count = 0;
  return scratch.Write(std::to_string(++count) + ".zip", zipbuild::Archive({e}));
}

TEST(Win32Engine, Utf8NamesBecomeAnsiOrAreRefusedSelectionsCompareAsTheSystemSeeksPass2GiB) {
  ScratchFolder scratch;
  const std::string out = scratch.File("out");
  // The archive, the entry selected ("": every one), the file written ("": none) and its
  // contents or else the one box's text.
  const std::tuple<std::string, const char*, std::string, std::string> cases[] = {
      {OneEntry(scratch, "\xC3\x84pfel.txt", 0x800), "", "\xC4pfel.txt", "x"},
      {OneEntry(scratch, "\xE6\x97\xA5.txt", 0x800), "", "",
       "Can't extract ?.txt: its name has characters this system's code page cannot hold"},
      {OneEntry(scratch, "\xE4/a.txt", 0), "\xC4/A.TXT", "a.txt", "x"},
      {OneEntry(scratch, "\xE6\x97\xA5.txt", 0x800), "x", "x", ""},
      {zipbuild::WriteSparseArchive(scratch.File("big1.zip"), 0x80000010u), "small.txt",
       "small.txt", "hello"},
  };
  std::filesystem::create_directories(out);  // every row writes a name of its own
  for (const auto& [archive, select, written, text] : cases) {
    EngineHost& host = StartHost();
    ExtractJob job = MakeJob(archive, out.c_str());
    SelectionNode node;
    std::strcpy(node.name, select);
    job.selection = *select ? &node : nullptr;
    EXPECT_EQ(ExtractArchive(&job), 1);
    EXPECT_EQ(host.BoxTexts(), std::vector<std::string>(written.empty(), text)) << text;
    EXPECT_EQ(written.empty() ? text : ScratchFolder::Read(out + "\\" + written), text);
  }
  // Cut to 32 bits, a seek back this far would become a seek forward.
  const int file = platform::FileOpenRead(std::get<0>(cases[0]).c_str());
  EXPECT_EQ(platform::FileSeek(file, -3000000000LL, platform::SeekFrom::Current), -1);
  platform::FileClose(file);
  char name[16] = "\xC3\x84pfel";  // five characters in the ANSI code page: its buffer is filled
  EXPECT_TRUE(platform::Utf8TextToAnsi(name, 6));
}

}  // namespace
