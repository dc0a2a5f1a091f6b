// The record walk and entry output on archives built byte by byte: output paths and the
// refusals that keep them inside the output folder, selection, folder and empty entries,
// resynchronisation, damaged and truncated archives, passwords, CRC checks, time stamps.
#include "extract/decrypt.h"
#include "extract/extract.h"
#include "extract/inflate.h"
#include "tests/extract/engine_host.h"
#include "tests/extract/zip_builder.h"
#include "tests/scratch.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <set>

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using zipbuild::Entry;
using zipbuild::Stored;

namespace {

// 2024-01-01 12:00:00, the builder's default stamp, as a FILETIME of local time.
constexpr uint64_t kDefaultStamp = (1704110400ull * 10000000ull) + 116444736000000000ull;

// A path as the engine builds it: every slash turned into a backslash.
std::string EnginePath(std::string path) {
  for (char& c : path)
    if (c == '/') c = '\\';
  return path;
}

class WalkerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    host = &StartHost();
    out = scratch.File("out");
    fs::create_directories(out);
  }

  std::string Archive(const std::vector<Entry>& entries) {
    return archivePath = scratch.Write("a.zip", zipbuild::Archive(entries));
  }
  std::string Raw(const std::string& bytes) { return archivePath = scratch.Write("a.zip", bytes); }

  int32_t Run(ExtractJob job) {
    EXPECT_EQ(ExtractArchive(&job), 1);
    return job.result;
  }
  int32_t Extract(const std::vector<Entry>& entries, int keepPaths = 0) {
    Archive(entries);
    ExtractJob job = MakeJob(archivePath, out.c_str());
    job.keepPaths = keepPaths;
    job.reportCrcErrors = 1;
    return Run(job);
  }

  std::string OutFile(const std::string& relative) const {
    return (fs::path(out) / relative).string();
  }
  bool Exists(const std::string& relative) const { return fs::exists(OutFile(relative)); }
  std::string Content(const std::string& relative) const {
    return ScratchFolder::Read(OutFile(relative));
  }
  // Every file below the scratch folder but the archive, relative to the scratch folder.
  std::set<std::string> FilesWritten() const {
    std::set<std::string> files;
    for (const auto& item : fs::recursive_directory_iterator(scratch.path()))
      if (item.is_regular_file() && item.path().filename() != "a.zip")
        files.insert(fs::relative(item.path(), scratch.path()).generic_string());
    return files;
  }

  ScratchFolder scratch;
  EngineHost* host = nullptr;
  std::string out;
  std::string archivePath;
};

// ---- Output paths ----

struct PathCase {
  const char* stored;
  int keepPaths;
  const char* folderToMake;  // below the output folder, or null
  const char* expected;      // the file below the scratch folder, or null when refused
  unsigned messageId;        // the refusal's message, 0 when extracted
};

void PrintTo(const PathCase& c, std::ostream* os) {
  *os << '"' << c.stored << "\" keepPaths " << c.keepPaths;
}

class OutputPathTest : public WalkerTest, public ::testing::WithParamInterface<PathCase> {};

TEST_P(OutputPathTest, LandsInsideTheOutputFolderOrIsRefused) {
  const PathCase& c = GetParam();
  if (c.folderToMake) fs::create_directories(OutFile(c.folderToMake));
  const int32_t result = Extract({Stored(c.stored, "data")}, c.keepPaths);
  if (c.expected) {
    EXPECT_EQ(result, EXTRACT_OK) << ::testing::PrintToString(host->BoxTexts());
    EXPECT_EQ(FilesWritten(), std::set<std::string>{c.expected});
    EXPECT_EQ(ScratchFolder::Read(scratch.File(c.expected)), "data");
  } else {
    EXPECT_EQ(result, EXTRACT_ERROR);
    EXPECT_TRUE(FilesWritten().empty());
    ASSERT_EQ(host->boxes.size(), 1u);
    const char* prefixes[] = {"Can't create output file: ", "Unsafe file name in archive: "};
    const std::string& text = host->boxes[0].text;
    EXPECT_EQ(text.rfind(prefixes[c.messageId == 1062], 0), 0u) << text;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Names, OutputPathTest,
    ::testing::Values(
        PathCase{"docs/readme.txt", 0, nullptr, "out/readme.txt", 0},
        PathCase{"docs/readme.txt", 1, "docs", "out/docs/readme.txt", 0},
        PathCase{"docs/readme.txt", 1, nullptr, nullptr, 1030},  // folders are not created
        PathCase{"docs\\sub\\b.txt", 1, "docs/sub", "out/docs/sub/b.txt", 0},
        PathCase{"/docs/a.txt", 1, "docs", "out/docs/a.txt", 0},
        PathCase{"/a.txt", 0, nullptr, "out/a.txt", 0},
        PathCase{"..\\..\\evil.txt", 0, nullptr, "out/evil.txt", 0},  // base name only
        // With stored folders kept, nothing may leave the output folder.
        PathCase{"../evil.txt", 1, nullptr, nullptr, 1062},
        PathCase{"docs/../../evil.txt", 1, "docs", nullptr, 1062},
        PathCase{"..\\evil.txt", 1, nullptr, nullptr, 1062},
        PathCase{"//evil.txt", 1, nullptr, nullptr, 1062},
        PathCase{"/\\evil.txt", 1, nullptr, nullptr, 1062},
        PathCase{"C:evil.txt", 1, nullptr, nullptr, 1062},
        PathCase{"C:\\evil.txt", 1, nullptr, nullptr, 1062},
        PathCase{"C:evil.txt", 0, nullptr, nullptr, 1062},
        PathCase{"..", 0, nullptr, nullptr, 1062}, PathCase{"docs/..", 0, nullptr, nullptr, 1062},
        PathCase{"./a.txt", 1, nullptr, "out/a.txt", 0},
        PathCase{"a..b.txt", 1, nullptr, "out/a..b.txt", 0}));

TEST_F(WalkerTest, OutputFolderWithOrWithoutTrailingSeparatorGivesTheSamePath) {
  for (const std::string& folder : {out, out + "/", out + "\\"}) {
    fs::remove_all(out);
    fs::create_directories(out);
    Archive({Stored("x/a.txt", "1")});
    EXPECT_EQ(Run(MakeJob(archivePath, folder.c_str())), EXTRACT_OK) << folder;
    EXPECT_EQ(FilesWritten(), std::set<std::string>{"out/a.txt"}) << folder;
  }
}

TEST_F(WalkerTest, EmptyOutputFolderWritesIntoTheCurrentFolder) {
  Archive({Stored("x/a.txt", "1")});
  const fs::path before = fs::current_path();
  fs::current_path(out);
  const int32_t result = Run(MakeJob(archivePath, ""));
  fs::current_path(before);
  EXPECT_EQ(result, EXTRACT_OK);
  EXPECT_EQ(FilesWritten(), std::set<std::string>{"out/a.txt"});
}

TEST_F(WalkerTest, AnnouncedNameIsTheOutputFilesBaseName) {
  Archive({Stored("docs/readme.txt", "abc")});
  EXPECT_EQ(Run(MakeJob(archivePath, out.c_str())), EXTRACT_OK);
  EXPECT_THAT(host->messages, ElementsAre(Name("readme.txt"), Advance(0)));
}

// ---- Which entries are taken ----

TEST_F(WalkerTest, FolderEntriesCreateNothingEvenWhenSelected) {
  Entry folder = Stored("docs/", "");
  Entry folderWithData = Stored("more\\", "ignored data");
  Archive({folder, folderWithData, Stored("docs/a.txt", "a")});
  SelectionNode nodes[2];
  std::snprintf(nodes[0].name, sizeof nodes[0].name, "docs/");
  std::snprintf(nodes[1].name, sizeof nodes[1].name, "more/");
  nodes[0].next = &nodes[1];
  ExtractJob job = MakeJob(archivePath, out.c_str());
  job.selection = nodes;
  job.keepPaths = 1;
  EXPECT_EQ(Run(job), EXTRACT_OK);
  EXPECT_TRUE(FilesWritten().empty());
  EXPECT_TRUE(host->messages.empty());
}

TEST_F(WalkerTest, EmptyEntryGivesAnEmptyStampedFileUnlessSkipped) {
  Archive({Stored("empty.txt", ""), Stored("full.txt", "x")});
  ExtractJob job = MakeJob(archivePath, out.c_str());
  job.reportCrcErrors = 1;
  EXPECT_EQ(Run(job), EXTRACT_OK);
  ASSERT_TRUE(Exists("empty.txt"));
  EXPECT_EQ(fs::file_size(OutFile("empty.txt")), 0u);
  platform::FindData found;
  ASSERT_TRUE(platform::FindFirst(OutFile("empty.txt").c_str(), &found));
  EXPECT_EQ((uint64_t{found.lastWrite.high} << 32) | found.lastWrite.low,
            LocalTicksToUtc(kDefaultStamp));

  fs::remove_all(out);
  fs::create_directories(out);
  job.skipEmptyEntries = 1;
  EXPECT_EQ(Run(job), EXTRACT_OK);
  EXPECT_EQ(FilesWritten(), std::set<std::string>{"out/full.txt"});
}

TEST_F(WalkerTest, SelectionMatchesWholeStoredNamesWithoutRegardToCase) {
  Archive({Stored("docs\\readme.txt", "r"), Stored("docs/other.txt", "o"),
           Stored("readme.txt", "top"), Stored("docs/b.txt", "b")});
  SelectionNode nodes[3];
  std::snprintf(nodes[0].name, sizeof nodes[0].name, "DOCS/README.TXT");
  std::snprintf(nodes[1].name, sizeof nodes[1].name, "docs\\other.txt");  // never matches
  std::snprintf(nodes[2].name, sizeof nodes[2].name, "docs/B.txt");
  nodes[0].next = &nodes[1];
  nodes[1].next = &nodes[2];
  ExtractJob job = MakeJob(archivePath, out.c_str());
  job.selection = nodes;
  EXPECT_EQ(Run(job), EXTRACT_OK);
  EXPECT_EQ(FilesWritten(), (std::set<std::string>{"out/readme.txt", "out/b.txt"}));
  EXPECT_EQ(Content("readme.txt"), "r");
}

TEST_F(WalkerTest, TestModeWritesNothingIgnoresSelectionAndStillReports) {
  Archive({Stored("docs/a.txt", "aaa"), Stored("b.txt", "bb")});
  SelectionNode node;
  std::snprintf(node.name, sizeof node.name, "b.txt");
  ExtractJob job = MakeJob(archivePath, nullptr);
  job.selection = &node;
  EXPECT_EQ(Run(job), EXTRACT_OK);
  EXPECT_TRUE(FilesWritten().empty());
  EXPECT_THAT(host->messages, ElementsAre(Name("a.txt"), Advance(0), Name("b.txt"), Advance(0)));
}

TEST_F(WalkerTest, TestModeStillChecksTheCrc) {
  Entry bad = Stored("a.txt", "hello");
  bad.crc = 0x12345678;
  Archive({bad});
  ExtractJob job = MakeJob(archivePath, nullptr);
  job.reportCrcErrors = 1;
  EXPECT_EQ(Run(job), EXTRACT_ERROR);
  EXPECT_THAT(host->BoxTexts(),
              ElementsAre("ZIP damaged: file a.txt: Bad CRC 3610a686 (should be 12345678)"));
}

// An empty stored name cannot name a file: the entry is passed over and the walk goes on.
TEST_F(WalkerTest, EmptyStoredNameIsPassedOver) {
  Archive({Stored("", "orphan data"), Stored("b.txt", "b")});
  for (const char* folder : {out.c_str(), static_cast<const char*>(nullptr)}) {
    host->messages.clear();
    EXPECT_EQ(Run(MakeJob(archivePath, folder)), EXTRACT_OK);
    EXPECT_THAT(host->messages, ElementsAre(Name("b.txt"), Advance(0)));
  }
  EXPECT_EQ(FilesWritten(), std::set<std::string>{"out/b.txt"});
}

// ---- Methods and CRC ----

TEST_F(WalkerTest, UnknownCompressionDeletesTheCreatedFileAndKeepsEarlierOnes) {
  Entry odd = Stored("b.txt", "bbbb");
  odd.method = 12;
  EXPECT_EQ(Extract({Stored("a.txt", "aaaa"), odd, Stored("c.txt", "c")}), EXTRACT_ERROR);
  EXPECT_THAT(host->BoxTexts(), ElementsAre("unknown compression"));
  EXPECT_EQ(FilesWritten(), std::set<std::string>{"out/a.txt"});
  EXPECT_EQ(Content("a.txt"), "aaaa");
}

TEST_F(WalkerTest, CrcMismatchIsReportedOnlyWhenAskedWithExactlyOne) {
  Entry bad = Stored("a.txt", "hello");
  bad.crc = 0xDEADBEEF;
  Archive({bad});
  for (uint16_t report : {0, 2, 1}) {
    host->boxes.clear();
    ExtractJob job = MakeJob(archivePath, out.c_str());
    job.reportCrcErrors = report;
    EXPECT_EQ(Run(job), report == 1 ? EXTRACT_ERROR : EXTRACT_OK) << report;
    EXPECT_EQ(Content("a.txt"), "hello");  // the damaged file stays, complete
  }
  const std::string path = (fs::path(out) / "a.txt").string();
  ASSERT_EQ(host->boxes.size(), 1u);
  // The output path as the engine builds it, with a backslash before the name.
  EXPECT_EQ(host->boxes[0].text, "ZIP damaged: file " + EnginePath(out) +
                                     "\\a.txt: Bad CRC 3610a686 (should be deadbeef)");
  EXPECT_EQ(host->boxes[0].owner, TestWindow());
  EXPECT_FALSE(host->boxes[0].hasCaption);
  EXPECT_EQ(host->boxes[0].flags, platform::mb::kIconError);
}

TEST_F(WalkerTest, DescriptorCrcIsCheckedWhenTheLocalHeaderLeavesItZero) {
  for (int size : {12, 16}) {
    Entry streamed = Stored("a.txt", "streamed stored data");
    streamed.flags = 8;
    streamed.crc = 0;
    streamed.descriptor = size;
    host->boxes.clear();
    EXPECT_EQ(Extract({streamed, Stored("b.txt", "b")}), EXTRACT_OK)
        << size << ::testing::PrintToString(host->BoxTexts());
    EXPECT_EQ(Content("a.txt"), "streamed stored data");
    EXPECT_EQ(Content("b.txt"), "b");
  }
}

// Invalid Deflate data for an empty entry decodes to nothing, whose CRC matches: still
// damage for a caller who asked to hear of it, and nothing for one who did not.
TEST_F(WalkerTest, InvalidDeflateDataWithAMatchingCrcIsReportedWhenAsked) {
  Entry empty;
  empty.name = "empty.txt";
  empty.method = 8;
  empty.Data(std::string("\x13\x00", 2));  // a fixed block that starts with an invalid code
  EXPECT_EQ(Extract({empty, Stored("b.txt", "b")}), EXTRACT_ERROR);
  EXPECT_THAT(host->BoxTexts(), ElementsAre("ZIP damaged: file " + EnginePath(out) +
                                            "\\empty.txt: invalid compressed data"));
  EXPECT_EQ(FilesWritten(), std::set<std::string>{"out/empty.txt"});
  Archive({empty, Stored("b.txt", "b")});
  EXPECT_EQ(Run(MakeJob(archivePath, out.c_str())), EXTRACT_OK);
}

// ---- Resynchronisation ----

TEST_F(WalkerTest, BytesBetweenRecordsArePassedOver) {
  const std::string a = zipbuild::LocalRecord(Stored("a.txt", "A"));
  const std::string b = zipbuild::LocalRecord(Stored("b.txt", "B"));
  Raw("leading junk PK\x01" + a + "PK\x03 garbage \x50\x4b" + b + zipbuild::EndRecord(0, 0, 0));
  EXPECT_EQ(Run(MakeJob(archivePath, out.c_str())), EXTRACT_OK);
  EXPECT_EQ(Content("a.txt"), "A");
  EXPECT_EQ(Content("b.txt"), "B");
}

TEST_F(WalkerTest, TwelveByteDescriptorIsFoundPastByTheScan) {
  Entry a = Stored("a.txt", "first entry data");
  a.flags = 8;
  a.descriptor = 12;
  EXPECT_EQ(Extract({a, Stored("b.txt", "second")}), EXTRACT_OK);
  EXPECT_EQ(Content("a.txt"), "first entry data");
  EXPECT_EQ(Content("b.txt"), "second");
}

TEST_F(WalkerTest, NoKnownSignatureIsAnInvalidHeader) {
  Raw(zipbuild::LocalRecord(Stored("a.txt", "A")) + "this is no zip record at all");
  EXPECT_EQ(Run(MakeJob(archivePath, out.c_str())), EXTRACT_ERROR);
  EXPECT_THAT(host->BoxTexts(), ElementsAre("Invalid Zipfile Header"));
  EXPECT_EQ(Content("a.txt"), "A");
}

TEST_F(WalkerTest, ArchiveWithoutEndRecordIsAReadError) {
  Raw(zipbuild::LocalRecord(Stored("a.txt", "A")));
  EXPECT_EQ(Run(MakeJob(archivePath, out.c_str())), EXTRACT_ERROR);
  EXPECT_THAT(host->BoxTexts(),
              ElementsAre("Error reading " + archivePath + ".  Possible cause: bad disk"));
}

// Damaged Deflate data ends early; the rest of the entry's data must not be walked as
// records, even when it holds bytes that look like one.
TEST_F(WalkerTest, DamagedDeflateDataIsNotWalkedAsRecords) {
  Entry damaged;
  damaged.name = "bad.bin";
  damaged.plain = "whatever";
  damaged.method = 8;
  // Block type 3, then more than one input chunk, then something that looks like a record.
  damaged.Data("\x07" + std::string(40000, 'j') +
               zipbuild::LocalRecord(Stored("ghost.txt", "boo")));
  EXPECT_EQ(Extract({damaged, Stored("b.txt", "b")}), EXTRACT_ERROR);  // its CRC is wrong
  host->boxes.clear();
  ExtractJob job = MakeJob(archivePath, out.c_str());
  EXPECT_EQ(Run(job), EXTRACT_OK);
  EXPECT_EQ(FilesWritten(), (std::set<std::string>{"out/bad.bin", "out/b.txt"}));
}

// ---- Damaged and truncated archives ----

// A run abandoned in the middle of a Huffman block (here by a read error at the block's second
// input chunk) jumps over the decoder: its tables must still be released by the cleanup.
TEST_F(WalkerTest, AbortInsideAHuffmanBlockReleasesItsTables) {
  // One fixed-Huffman block of 30000 literals 'a' (code 0x30 + 0x61, eight bits), sent first
  // bit first after the block header 1 (last) and 01 (fixed).
  std::string deflated;
  uint32_t pending = 0b011;
  int count = 3;
  for (int i = 0; i < 30000; ++i) {
    for (int bit = 7; bit >= 0; --bit) pending |= ((0x91u >> bit) & 1u) << count++;
    while (count >= 8) {
      deflated += static_cast<char>(pending & 0xFF);
      pending >>= 8;
      count -= 8;
    }
  }
  Entry entry;
  entry.name = "cut.txt";
  entry.plain = std::string(30000, 'a');
  entry.method = 8;
  entry.Data(deflated);
  entry.compressedSize = 60000;  // the file ends well before that
  Raw(zipbuild::LocalRecord(entry));
  EXPECT_EQ(Run(MakeJob(archivePath, out.c_str())), EXTRACT_ERROR);
  EXPECT_THAT(host->BoxTexts(),
              ElementsAre("Error reading " + archivePath + ".  Possible cause: bad disk"));
  for (const HuffmanEntry* table : g_inflate.blockTables) EXPECT_EQ(table, nullptr);
  EXPECT_FALSE(Exists("cut.txt"));  // the partly written file is deleted
}

TEST_F(WalkerTest, TruncationAnywhereEndsWithAnErrorAndKeepsCompletedFiles) {
  const std::string whole = zipbuild::Archive(
      {Stored("a.txt", std::string(3000, 'a')), Stored("b.txt", std::string(40000, 'b'))});
  const size_t secondEntry = zipbuild::LocalRecord(Stored("a.txt", std::string(3000, 'a'))).size();
  for (size_t cut = 0; cut < whole.size();
       cut += (cut < 200 || cut > whole.size() - 200) ? 1 : 997) {
    fs::remove_all(out);
    fs::create_directories(out);
    host->boxes.clear();
    Raw(whole.substr(0, cut));
    EXPECT_EQ(Run(MakeJob(archivePath, out.c_str())), EXTRACT_ERROR) << cut;
    ASSERT_EQ(host->boxes.size(), 1u) << cut;
    EXPECT_EQ(Exists("a.txt"), cut >= secondEntry) << cut;
    EXPECT_FALSE(Exists("b.txt") && Content("b.txt").size() != 40000) << cut;
  }
}

// A skipped entry's compressed size above 2^31 must move forward, never back over records
// already read (which would walk them forever).
TEST_F(WalkerTest, HugeCompressedSizeOfASkippedEntryDoesNotLoop) {
  for (uint32_t size : {0xFFFFFFFFu, 0xFFFFFFE2u, 0x80000000u}) {
    Entry huge = Stored("huge.txt", "x");
    huge.compressedSize = size;
    Archive({huge});
    SelectionNode node;
    std::snprintf(node.name, sizeof node.name, "other.txt");
    ExtractJob job = MakeJob(archivePath, out.c_str());
    job.selection = &node;
    host->boxes.clear();
    // Where the system cannot move that far, the walk finds the central directory instead.
    const int32_t result = Run(job);
    EXPECT_TRUE(result == EXTRACT_ERROR || result == EXTRACT_OK) << size;
    EXPECT_FALSE(Exists("huge.txt"));
  }
}

TEST_F(WalkerTest, EveryFlippedByteEndsWithOkOrOneErrorAndStaysInside) {
  Entry enc = Stored("e.txt", "encrypted content here");
  enc.password = kBuiltInPassword;
  Entry deflated = Stored("d.txt", std::string(5000, 'd'));
  deflated.method = 8;
  deflated.Data(zipbuild::DeflateStoredBlocks(deflated.plain));
  const std::string whole = zipbuild::Archive({Stored("a.txt", "alpha"), enc, deflated});
  for (size_t at = 0; at < whole.size(); at += at < 400 ? 1 : 131) {
    for (unsigned char flip : {0x01, 0x80, 0xFF}) {
      std::string damaged = whole;
      damaged[at] = static_cast<char>(damaged[at] ^ flip);
      fs::remove_all(out);
      fs::create_directories(out);
      host->boxes.clear();
      Raw(damaged);
      ExtractJob job = MakeJob(archivePath, out.c_str());
      job.reportCrcErrors = 1;
      const int32_t result = Run(job);
      EXPECT_TRUE(result == EXTRACT_OK || result == EXTRACT_ERROR) << at;
      EXPECT_EQ(host->boxes.size(), result == EXTRACT_OK ? 0u : 1u) << at;
      for (const std::string& file : FilesWritten())
        EXPECT_EQ(file.rfind("out/", 0), 0u) << at << " " << file;
    }
  }
}

// ---- Passwords ----

TEST_F(WalkerTest, BuiltInPasswordOpensEncryptedEntries) {
  Entry enc = Stored("e.txt", "secret payload");
  enc.password = kBuiltInPassword;
  EXPECT_EQ(Extract({enc}), EXTRACT_OK) << ::testing::PrintToString(host->BoxTexts());
  EXPECT_EQ(Content("e.txt"), "secret payload");
}

TEST_F(WalkerTest, WrongPasswordStopsAtThatEntryAndKeepsEarlierFiles) {
  Entry enc = Stored("e.txt", "secret payload");
  enc.password = "not the password";
  enc.checkByte = 0x12;  // never the right one for the built-in password's keys
  Entry wrongCheck = Stored("e.txt", "secret payload");
  wrongCheck.password = kBuiltInPassword;
  wrongCheck.checkByte = (zipbuild::Crc32Of("secret payload") >> 24) ^ 0x55;
  for (const Entry& bad : {enc, wrongCheck}) {
    fs::remove_all(out);
    fs::create_directories(out);
    host->boxes.clear();
    EXPECT_EQ(Extract({Stored("a.txt", "a"), bad, Stored("c.txt", "c")}), EXTRACT_ERROR);
    EXPECT_THAT(host->BoxTexts(), ElementsAre("INCORRECT PASSWORD"));
    EXPECT_EQ(FilesWritten(), std::set<std::string>{"out/a.txt"});
  }
}

TEST_F(WalkerTest, NoPasswordInForceIsReportedAsSuch) {
  Entry enc = Stored("e.txt", "x");
  enc.password = "pw";
  Archive({enc});
  g_crypt.ArchivePassword = nullptr;
  const int32_t result = Run(MakeJob(archivePath, out.c_str()));
  g_crypt.ArchivePassword = kBuiltInPassword;
  EXPECT_EQ(result, EXTRACT_ERROR);
  EXPECT_THAT(host->BoxTexts(), ElementsAre("NO PASSWORD"));
  EXPECT_TRUE(FilesWritten().empty());
}

TEST_F(WalkerTest, JobPasswordIncludingTheEmptyOneReplacesTheBuiltInOne) {
  for (const std::string& password : {std::string("pw\xA9 x"), std::string()}) {
    Entry enc = Stored("e.txt", "data for " + password);
    enc.password = password;
    enc.encrypt = true;
    Archive({enc});
    ExtractJob job = MakeJob(archivePath, out.c_str());
    job.hasPassword = 1;
    job.password = password.c_str();
    job.reportCrcErrors = 1;
    host->boxes.clear();
    EXPECT_EQ(Run(job), EXTRACT_OK) << ::testing::PrintToString(host->BoxTexts());
    EXPECT_EQ(Content("e.txt"), "data for " + password);
    // It stays in force for later runs of the process.
    EXPECT_STREQ(g_crypt.ArchivePassword, password.c_str());
  }
}

// With flag bit 3 the check byte is the high byte of the time, even when the CRC is known.
TEST_F(WalkerTest, DescriptorFlagChecksAgainstTheTimeByte) {
  Entry timeChecked = Stored("t.txt", "time checked");
  timeChecked.password = kBuiltInPassword;
  timeChecked.flags = 8;
  timeChecked.descriptor = 16;
  timeChecked.time = 0x7A00;
  EXPECT_EQ(Extract({timeChecked}), EXTRACT_OK) << ::testing::PrintToString(host->BoxTexts());
  EXPECT_EQ(Content("t.txt"), "time checked");

  Entry crcChecked = timeChecked;
  crcChecked.checkByte = static_cast<int>(zipbuild::Crc32Of("time checked") >> 24);
  ASSERT_NE(crcChecked.checkByte, 0x7A);
  host->boxes.clear();
  EXPECT_EQ(Extract({crcChecked}), EXTRACT_ERROR);
  EXPECT_THAT(host->BoxTexts(), ElementsAre("INCORRECT PASSWORD"));
}

// An encrypted entry shorter than its own 12-byte header is damaged: refused before any of
// it is read (the size would otherwise wrap and reading run past the entry).
TEST_F(WalkerTest, EncryptedEntryShorterThanItsHeaderIsRefused) {
  for (int64_t size : {0, 1, 11}) {
    Entry enc = Stored("e.txt", "x");
    enc.password = kBuiltInPassword;
    enc.compressedSize = size;
    enc.Data("");
    fs::remove_all(out);
    fs::create_directories(out);
    host->boxes.clear();
    EXPECT_EQ(Extract({enc, Stored("b.txt", "b")}), EXTRACT_ERROR) << size;
    EXPECT_THAT(host->BoxTexts(), ElementsAre("ZIP damaged: file " + EnginePath(out) +
                                              "\\e.txt: encrypted data too short"));
    EXPECT_TRUE(FilesWritten().empty());
    EXPECT_TRUE(host->messages.empty() || host->messages.back().message != PWM_ENTRYNAME);
  }
}

// ---- Streamed entries: sizes only in the data descriptor ----

TEST_F(WalkerTest, StreamedEntryWithoutSizesIsRefusedNotWrittenEmpty) {
  Entry deflated;
  deflated.name = "d.txt";
  deflated.plain = "streamed";
  deflated.method = 8;
  deflated.Data(zipbuild::DeflateStoredBlocks("streamed"));
  deflated.flags = 8;
  deflated.compressedSize = 0;
  deflated.uncompressedSize = 0;
  deflated.crc = 0;
  deflated.descriptor = 16;
  Entry stored = deflated;
  stored.method = 0;
  stored.Data("streamed");
  Entry encrypted = stored;
  encrypted.password = kBuiltInPassword;
  for (const Entry& e : {deflated, stored, encrypted}) {
    fs::remove_all(out);
    fs::create_directories(out);
    host->boxes.clear();
    EXPECT_EQ(Extract({e}), EXTRACT_ERROR);
    EXPECT_THAT(host->BoxTexts(),
                ElementsAre("Can't extract " + EnginePath(out) +
                            "\\d.txt: its sizes are stored only after its data (streamed "
                            "archive)"));
    EXPECT_TRUE(FilesWritten().empty());
  }
}

TEST_F(WalkerTest, StreamedEmptyStoredEntryIsStillExtracted) {
  for (int size : {12, 16}) {
    Entry empty = Stored("empty.txt", "");
    empty.flags = 8;
    empty.descriptor = size;
    fs::remove_all(out);
    fs::create_directories(out);
    host->boxes.clear();
    EXPECT_EQ(Extract({empty, Stored("b.txt", "b")}), EXTRACT_OK)
        << size << ::testing::PrintToString(host->BoxTexts());
    EXPECT_EQ(FilesWritten(), (std::set<std::string>{"out/empty.txt", "out/b.txt"}));
  }
}

// ---- Length limits ----

TEST_F(WalkerTest, StoredNameLongerThanAPathIsRefusedWhenTaken) {
  const std::string longName = std::string(300, 'n') + ".txt";
  EXPECT_EQ(Extract({Stored(longName, "x")}), EXTRACT_ERROR);
  ASSERT_EQ(host->boxes.size(), 1u);
  EXPECT_EQ(host->boxes[0].text,
            "File name in archive too long: " + longName.substr(0, 259) + "...");
  EXPECT_TRUE(FilesWritten().empty());

  // Not taken (a long folder entry, or not selected): passed over, the walk goes on.
  host->boxes.clear();
  Archive({Stored(std::string(70000 % 65536, 'f') + "/", ""), Stored(longName, "x"),
           Stored("b.txt", "b")});
  SelectionNode node;
  std::snprintf(node.name, sizeof node.name, "b.txt");
  ExtractJob job = MakeJob(archivePath, out.c_str());
  job.selection = &node;
  EXPECT_EQ(Run(job), EXTRACT_OK) << ::testing::PrintToString(host->BoxTexts());
  EXPECT_EQ(FilesWritten(), std::set<std::string>{"out/b.txt"});
}

TEST_F(WalkerTest, NameOfTheLongestLengthIsReadWhole) {
  Archive({Stored(std::string(65534, 'z') + "/", ""), Stored("b.txt", "b")});
  EXPECT_EQ(Run(MakeJob(archivePath, nullptr)), EXTRACT_OK)
      << ::testing::PrintToString(host->BoxTexts());
  EXPECT_THAT(host->messages, ElementsAre(Name("b.txt"), Advance(0)));
}

TEST_F(WalkerTest, OutputPathOverMaxPathIsRefusedNotCut) {
  const std::string folder = out + "/" + std::string(150, 'f');
  const std::string name = std::string(150, 'n');
  fs::create_directories(folder);
  Archive({Stored(name, "x")});
  EXPECT_EQ(Run(MakeJob(archivePath, folder.c_str())), EXTRACT_ERROR);
  EXPECT_THAT(host->BoxTexts(), ElementsAre("Output path too long: " + folder + "\\" + name));
  EXPECT_TRUE(FilesWritten().empty());
}

TEST_F(WalkerTest, OutputPathOfExactlyMaxPathMinusOneFits) {
  const std::string name = "n.txt";
  ASSERT_LT(out.size() + 1 + name.size() + 2, 259u);
  const size_t room = 259 - out.size() - 1 - name.size();
  const std::string folder = out + "/" + std::string(room - 1, 'f');
  ASSERT_EQ(folder.size() + 1 + name.size(), 259u);
  fs::create_directories(folder);
  Archive({Stored(name, "x")});
  EXPECT_EQ(Run(MakeJob(archivePath, folder.c_str())), EXTRACT_OK)
      << ::testing::PrintToString(host->BoxTexts());
  EXPECT_EQ(ScratchFolder::Read(folder + "/" + name), "x");
}

// ---- The archive path ----

TEST_F(WalkerTest, ArchivePathWithoutAnyDotGetsZip) {
  fs::create_directories(scratch.File("data.1"));
  fs::create_directories(scratch.File("data"));
  const std::string bytes = zipbuild::Archive({Stored("a.txt", "A")});
  scratch.Write("data.1/SETUP", bytes);
  scratch.Write("data/SETUP.ZIP", bytes);
  EXPECT_EQ(Run(MakeJob(scratch.File("data.1/SETUP"), out.c_str())), EXTRACT_OK);
  EXPECT_EQ(Run(MakeJob(scratch.File("data/SETUP"), out.c_str())), EXTRACT_OK)
      << ::testing::PrintToString(host->BoxTexts());
  EXPECT_EQ(Run(MakeJob(scratch.File("data/MISSING"), out.c_str())), EXTRACT_ERROR);
  EXPECT_THAT(host->BoxTexts(),
              ElementsAre("Can't open input file: " + scratch.File("data/MISSING") + ".ZIP"));
  EXPECT_EQ(FilesWritten(), (std::set<std::string>{"out/a.txt", "data.1/SETUP", "data/SETUP.ZIP"}));
}

TEST_F(WalkerTest, ArchivePathTooLongIsRefusedNeverCut) {
  // A file exists under the first 259 characters of the path: a cut would open it.
  const std::string base = scratch.File("");
  const std::string cut = base + std::string(259 - base.size(), 'z');
  scratch.Write(fs::path(cut).filename().string(), zipbuild::Archive({Stored("a.txt", "A")}));
  const std::string tooLong = cut + "zzzz.zip";
  EXPECT_EQ(Run(MakeJob(tooLong, out.c_str())), EXTRACT_ERROR);
  EXPECT_THAT(host->BoxTexts(), ElementsAre("Can't open input file: " + tooLong));
  EXPECT_FALSE(Exists("a.txt"));
}

TEST_F(WalkerTest, StartOffsetSkipsAPrefixOrLiesBeyondTheEnd) {
  const std::string prefix(1000, 'S');
  Raw(prefix + zipbuild::Archive({Stored("a.txt", "A")}));
  ExtractJob job = MakeJob(archivePath, out.c_str());
  job.startOffset = 1000;
  EXPECT_EQ(Run(job), EXTRACT_OK);
  EXPECT_EQ(Content("a.txt"), "A");
  job.startOffset = 1000000;
  EXPECT_EQ(Run(job), EXTRACT_ERROR);
  EXPECT_THAT(host->BoxTexts(),
              ElementsAre("Error reading " + archivePath + ".  Possible cause: bad disk"));
}

// ---- The run ----

TEST_F(WalkerTest, CompletedRunLeavesResultAsTheCallerSetIt) {
  Archive({Stored("a.txt", "A")});
  ExtractJob job = MakeJob(archivePath, out.c_str());
  job.result = 7;
  EXPECT_EQ(ExtractArchive(&job), 1);
  EXPECT_EQ(job.result, 7);
}

TEST_F(WalkerTest, NestedCallWhileBusyReturnsZeroAndLeavesItsJobAlone) {
  Archive({Stored("a.txt", "A")});
  static ExtractJob nested;
  static int nestedReturn = -1;
  nested = MakeJob(archivePath, out.c_str());
  nested.result = 42;
  host->answer = [](const SentMessage&) {
    nestedReturn = ExtractArchive(&nested);
    return intptr_t{0};
  };
  ExtractJob job = MakeJob(archivePath, out.c_str());
  EXPECT_EQ(ExtractArchive(&job), 1);
  EXPECT_EQ(job.result, EXTRACT_OK);
  EXPECT_EQ(nestedReturn, 0);
  EXPECT_EQ(nested.result, 42);
  // Idle again afterwards.
  EXPECT_EQ(ExtractArchive(&nested), 1);
}

TEST_F(WalkerTest, StoredTimeStampIsSetAsLocalTime) {
  Entry e = Stored("t.txt", "t");
  e.date = static_cast<uint16_t>(((2001 - 1980) << 9) | (9 << 5) | 9);
  e.time = static_cast<uint16_t>((1 << 11) | (46 << 5) | (40 / 2));
  EXPECT_EQ(Extract({e}), EXTRACT_OK);
  platform::FindData found;
  ASSERT_TRUE(platform::FindFirst(OutFile("t.txt").c_str(), &found));
  // 2001-09-09 01:46:40 is 1000000000 seconds after 1970.
  EXPECT_EQ((uint64_t{found.lastWrite.high} << 32) | found.lastWrite.low,
            LocalTicksToUtc(1000000000ull * 10000000ull + 116444736000000000ull));
}

}  // namespace
