// Progress and cancel as the job's window sees them: PWM_ENTRYNAME and PWM_ADVANCE with their
// counts for entries around the input chunk size, and a cancel at an entry's start or after
// a fill, which deletes the file being written and keeps the ones before it.
#include "extract/decrypt.h"
#include "extract/extract.h"
#include "setup/state.h"
#include "tests/extract/engine_host.h"
#include "tests/extract/zip_builder.h"
#include "tests/scratch.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using zipbuild::Entry;
using zipbuild::Stored;

namespace {

class ProgressTest : public ::testing::Test {
 protected:
  void SetUp() override {
    host = &StartHost();
    out = scratch.File("out");
    fs::create_directories(out);
  }
  int32_t Run(const std::vector<Entry>& entries, const char* folder) {
    archive = scratch.Write("a.zip", zipbuild::Archive(entries));
    ExtractJob job = MakeJob(archive, folder);
    EXPECT_EQ(ExtractArchive(&job), 1);
    return job.result;
  }
  bool Exists(const std::string& name) const { return fs::exists(fs::path(out) / name); }

  ScratchFolder scratch;
  EngineHost* host = nullptr;
  std::string out;
  std::string archive;
};

std::string Bytes(size_t n) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 7919) >> 3);
  return s;
}

struct CountCase {
  size_t size;
  std::vector<SentMessage> expected;
};

void PrintTo(const CountCase& c, std::ostream* os) { *os << c.size << " bytes"; }

class ProgressCountTest : public ProgressTest, public ::testing::WithParamInterface<CountCase> {};

// One fill per chunk of at most 28672 bytes; PWM_ADVANCE when 10240 more have been read.
TEST_P(ProgressCountTest, OneEntrysMessagesFollowTheFills) {
  const CountCase& c = GetParam();
  for (const char* folder : {out.c_str(), static_cast<const char*>(nullptr)}) {
    host->messages.clear();
    EXPECT_EQ(Run({Stored("e.bin", Bytes(c.size))}, folder), EXTRACT_OK);
    EXPECT_THAT(host->messages, ElementsAreArray(c.expected)) << c.size;
    EXPECT_EQ(host->pumps, static_cast<int>(c.expected.size()) - 1) << "a pump per advance";
    host->pumps = 0;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, ProgressCountTest,
    ::testing::Values(
        CountCase{0, {Name("e.bin"), Advance(0)}}, CountCase{10239, {Name("e.bin"), Advance(0)}},
        CountCase{10240, {Name("e.bin"), Advance(0), Advance(1)}},
        CountCase{28672, {Name("e.bin"), Advance(0), Advance(2)}},
        CountCase{28673, {Name("e.bin"), Advance(0), Advance(2)}},
        CountCase{30000, {Name("e.bin"), Advance(0), Advance(2)}},
        CountCase{38912, {Name("e.bin"), Advance(0), Advance(2), Advance(3)}},
        CountCase{100000,
                  {Name("e.bin"), Advance(0), Advance(2), Advance(5), Advance(8), Advance(9)}}));

TEST_F(ProgressTest, CountsRunOnAcrossEntriesAndSkipsWhatIsNotRead) {
  Entry folder = Stored("dir/", "");
  Entry skipped = Stored("skip.bin", Bytes(50000));
  SelectionNode nodes[2];
  std::snprintf(nodes[0].name, sizeof nodes[0].name, "a.bin");
  std::snprintf(nodes[1].name, sizeof nodes[1].name, "b.bin");
  nodes[0].next = &nodes[1];
  archive = scratch.Write("a.zip", zipbuild::Archive({Stored("a.bin", Bytes(28672)), folder,
                                                      skipped, Stored("b.bin", Bytes(28673))}));
  ExtractJob job = MakeJob(archive, out.c_str());
  job.selection = nodes;
  EXPECT_EQ(ExtractArchive(&job), 1);
  EXPECT_EQ(job.result, EXTRACT_OK);
  EXPECT_THAT(host->messages, ElementsAre(Name("a.bin"), Advance(0), Advance(2), Name("b.bin"),
                                          Advance(2), Advance(5)));
}

// The 12 header bytes of an encrypted entry are read directly and not counted.
TEST_F(ProgressTest, EncryptionHeaderIsNotCounted) {
  Entry enc = Stored("e.bin", Bytes(10240));
  enc.password = kBuiltInPassword;
  EXPECT_EQ(Run({enc}, out.c_str()), EXTRACT_OK);
  EXPECT_THAT(host->messages, ElementsAre(Name("e.bin"), Advance(0), Advance(1)));
  Entry enc2 = Stored("e.bin", Bytes(10239));
  enc2.password = kBuiltInPassword;
  host->messages.clear();
  EXPECT_EQ(Run({enc2}, out.c_str()), EXTRACT_OK);
  EXPECT_THAT(host->messages, ElementsAre(Name("e.bin"), Advance(0)));
}

TEST_F(ProgressTest, DeflatedEntryCountsCompressedBytes) {
  Entry deflated = Stored("d.bin", Bytes(60000));
  deflated.method = 8;
  deflated.Data(zipbuild::DeflateStoredBlocks(deflated.plain));  // 60005 bytes
  EXPECT_EQ(Run({deflated}, out.c_str()), EXTRACT_OK);
  EXPECT_THAT(host->messages, ElementsAre(Name("d.bin"), Advance(0), Advance(2), Advance(5)));
  EXPECT_EQ(ScratchFolder::Read((fs::path(out) / "d.bin").string()), Bytes(60000));
}

// A nonzero answer to the forced PWM_ADVANCE of an entry: its file already exists and is
// deleted; files completed before stay.
TEST_F(ProgressTest, CancelAtAnEntrysStartDeletesItsFileOnly) {
  // Cancels at the advance that follows b.bin's name.
  host->answer = [this](const SentMessage& m) {
    const auto& sent = host->messages;
    const bool atStartOfB =
        m.message == PWM_ADVANCE && sent.size() >= 2 && sent[sent.size() - 2] == Name("b.bin");
    return intptr_t{atStartOfB ? 1 : 0};
  };
  EXPECT_EQ(Run({Stored("a.bin", Bytes(20000)), Stored("b.bin", Bytes(5000)),
                 Stored("c.bin", Bytes(5000))},
                out.c_str()),
            EXTRACT_CANCELLED);
  EXPECT_TRUE(host->boxes.empty());
  EXPECT_EQ(ScratchFolder::Read((fs::path(out) / "a.bin").string()), Bytes(20000));
  EXPECT_FALSE(Exists("b.bin"));
  EXPECT_FALSE(Exists("c.bin"));
  EXPECT_THAT(host->messages,
              ElementsAre(Name("a.bin"), Advance(0), Advance(1), Name("b.bin"), Advance(1)));
}

// The answer is 0 but the cancel flag is set by the time the pump returns.
TEST_F(ProgressTest, CancelFlagSeenAfterAFillDeletesThePartlyWrittenFile) {
  int pumpsBeforeCancel = 2;  // the forced advance of a.bin's start, then its first fill
  host->onPump = [&pumpsBeforeCancel] {
    if (--pumpsBeforeCancel == 0) g_setup.cancelRequested = 1;
  };
  EXPECT_EQ(Run({Stored("a.bin", Bytes(100000)), Stored("b.bin", Bytes(10))}, out.c_str()),
            EXTRACT_CANCELLED);
  g_setup.cancelRequested = 0;
  EXPECT_TRUE(host->boxes.empty());
  EXPECT_FALSE(Exists("a.bin"));
  EXPECT_FALSE(Exists("b.bin"));
  EXPECT_THAT(host->messages, ElementsAre(Name("a.bin"), Advance(0), Advance(2)));
}

TEST_F(ProgressTest, CancelAfterEarlierFilesKeepsThemComplete) {
  host->onPump = [this] {
    if (Exists("b.bin")) g_setup.cancelRequested = 1;
  };
  EXPECT_EQ(Run({Stored("a.bin", Bytes(3000)), Stored("b.bin", Bytes(50000))}, out.c_str()),
            EXTRACT_CANCELLED);
  g_setup.cancelRequested = 0;
  EXPECT_EQ(ScratchFolder::Read((fs::path(out) / "a.bin").string()), Bytes(3000));
  EXPECT_FALSE(Exists("b.bin"));
}

}  // namespace
