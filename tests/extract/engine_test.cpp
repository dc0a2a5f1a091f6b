// The engine run on archives built byte by byte, one table row per case: output paths and
// the refusals that keep them inside the output folder, selection, folder and empty entries,
// resynchronisation, damaged and truncated archives, passwords, CRC checks, progress messages,
// cancels and a nested run; then every cut of one archive.
#include "extract/decrypt.h"
#include "extract/inflate.h"
#include "setup/state.h"
#include "tests/extract/engine_host.h"
#include "tests/extract/zip_builder.h"
#include "tests/scratch.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <sstream>

#ifndef _WIN32
#include <sys/resource.h>
#include <csignal>
#endif

namespace fs = std::filesystem;
using zipbuild::Archive;
using zipbuild::Entry;
using zipbuild::LocalRecord;

// zlib's raw Deflate stream of data, and test data of a kind (inflate_test.cpp).
std::string Deflate(const std::string& data, int level, int strategy, size_t flushEvery);
std::string MakeData(int kind, size_t size, unsigned seed);

namespace {

const auto S = zipbuild::Stored;

std::string Bytes(size_t n) { return MakeData(1, n, 7); }  // text, without record signatures

// A case: the archive, the options of the run (below), the result, the files the run leaves
// below the output folder ("name=content", or "name#size" above 16 bytes, sorted), the boxes
// ('@' for the output folder, '#' for the archive path, "*" for any one box) and the progress
// ("a.txt +0 +2" for a name and two advances; null: not compared).
struct Row {
  std::string label, zip, options;
  int32_t result;
  std::string files, boxes;
  const char* progress = nullptr;
};

class EngineTable : public ::testing::Test {
 protected:
  // Runs a row: its job on its archive with options in kxextract's style: -k keep paths, -c[N]
  // report CRC errors, -t test mode, -e skip empty entries, -sNAME select, -P[PW] password, -n no
  // password in force, -oN start offset, -mDIR make a folder below the output folder, -dDIR
  // output folder (out + DIR, or =PATH), -wFILE -aPATH where the archive is written and where
  // the job looks, -xNAME cancel by answer at NAME's start, -qN cancel at pump N, -fN limit
  // files to N bytes (natively), -r set the job's result to 42 and ask for a second run of the
  // job at every message (refused, its result left alone; a successful run leaves the running
  // job's result as it was set).
  void Run(const Row& row) {
    EngineHost& host = StartHost();
    fs::remove_all(scratch.path());
    fs::create_directories(out);
    std::istringstream in(row.options);
    std::vector<SelectionNode> nodes;
    std::string folder = out, written = "a.zip", looked, password, cancelAt;
    bool test = false, nested = false;
    [[maybe_unused]] unsigned long limit = ~0ul;  // file-size limits exist natively only
    ExtractJob job = MakeJob("", nullptr);
    for (std::string o; in >> o;) {
      const std::string v = o.substr(2);
      // clang-format off
      switch (o[1]) {
        case 'k': job.keepPaths = 1; break;
        case 'c': job.reportCrcErrors = static_cast<uint16_t>(v.empty() ? 1 : std::stoi(v)); break;
        case 't': test = true; break;
        case 'e': job.skipEmptyEntries = 1; break;
        case 's': std::snprintf(nodes.emplace_back().name, kMaxPath, "%s", v.c_str()); break;
        case 'P': job.hasPassword = 1, password = v; break;
        case 'n': g_crypt.ArchivePassword = nullptr; break;
        case 'o': job.startOffset = std::stoi(v); break;
        case 'm': fs::create_directories(out + "/" + v); break;
        case 'd': folder = v[0] == '=' ? v.substr(1) : out + v; break;
        case 'w': written = v; break;
        case 'a': looked = v; break;
        case 'x': cancelAt = v; break;
        case 'q': host.onPump = [&host, n = std::stoi(v)] { g_setup.cancelRequested = host.pumps == n; }; break;
        case 'r': nested = true, job.result = 42; break;
        case 'f': limit = std::stoul(v); break;
        default: ADD_FAILURE() << "unknown option " << o;
      }
      // clang-format on
    }
    for (SelectionNode& node : nodes) node.next = std::exchange(job.selection, &node);
    host.answer = [&host, &job, cancelAt, nested](const SentMessage& m) {
      ExtractJob again = job;
      EXPECT_TRUE(!nested || (ExtractArchive(&again) == 0 && again.result == 42));
      const auto& sent = host.messages;  // a cancel after the name's advance
      return intptr_t{!cancelAt.empty() && m.message == PWM_ADVANCE && sent.size() >= 2 &&
                      sent[sent.size() - 2] == Name(cancelAt)};
    };
    fs::create_directories(fs::path(scratch.File(written)).parent_path());
    scratch.Write(written, row.zip);
    const std::string archive = scratch.File(looked.empty() ? written : looked);
    job.archivePath = archive.c_str();
    job.outputFolder = test ? nullptr : folder.c_str();
    job.password = password.c_str();
    const fs::path before = fs::current_path();
    fs::current_path(out);
#ifndef _WIN32
    rlimit saved{};
    getrlimit(RLIMIT_FSIZE, &saved);
    const rlimit smaller{std::min<rlim_t>(limit, saved.rlim_cur), saved.rlim_max};
    std::signal(SIGXFSZ, SIG_IGN);  // a write past the limit fails instead
    setrlimit(RLIMIT_FSIZE, &smaller);
    const auto open = std::distance(fs::directory_iterator("/proc/self/fd"), {});
#endif
    EXPECT_EQ(ExtractArchive(&job), 1);
#ifndef _WIN32
    setrlimit(RLIMIT_FSIZE, &saved);
    EXPECT_EQ(std::distance(fs::directory_iterator("/proc/self/fd"), {}), open);  // all closed
#endif
    fs::current_path(before);

    // What holds for every run: no block tables left, the boxes are the engine's, a pump
    // follows every advance the window did not answer with a cancel, a job's password stays.
    for (const HuffmanEntry* table : g_inflate.blockTables) EXPECT_EQ(table, nullptr);
    std::string boxes, progress;
    int advances = 0;
    for (const SentMessage& m : host.messages) {
      const bool advance = m.message == PWM_ADVANCE;
      advances += advance;
      progress.append(progress.empty() ? "" : " ").append(advance ? "+" : "");
      progress.append(advance ? std::to_string(m.wParam) : m.name);
    }
    EXPECT_EQ(host.pumps + (!cancelAt.empty() && job.result == EXTRACT_CANCELLED), advances);
    EXPECT_TRUE(!job.hasPassword || password == g_crypt.ArchivePassword);
    for (const std::string& box : host.boxes) boxes.append(boxes.empty() ? "" : " | ").append(box);
    std::string enginePath = out;
    std::replace(enginePath.begin(), enginePath.end(), '/', '\\');
    for (const std::string& path : {enginePath, out, archive})
      for (size_t at; (at = boxes.find(path)) != std::string::npos;)
        boxes.replace(at, path.size(), 1, path == archive ? '#' : '@');
    EXPECT_EQ(job.result, row.result);
    const bool oneBox = !boxes.empty() && boxes.find(" | ") == std::string::npos;
    EXPECT_EQ(row.boxes == "*" && oneBox ? "*" : boxes, row.boxes);
    EXPECT_EQ(progress, row.progress ? row.progress : progress);
    std::set<std::string> files;
    for (const auto& item : fs::recursive_directory_iterator(scratch.path())) {
      if (!item.is_regular_file() || item.path() == fs::path(scratch.File(written))) continue;
      const std::string bytes = ScratchFolder::Read(item.path().string());
      files.insert(fs::relative(item.path(), out)
                       .generic_string()
                       .append(bytes.size() <= 16 ? "=" : "#")
                       .append(bytes.size() <= 16 ? bytes : std::to_string(bytes.size())));
    }
    std::string joined;
    for (const std::string& f : files) joined += (joined.empty() ? "" : " ") + f;
    EXPECT_EQ(joined, row.files);
  }

  ScratchFolder scratch;
  std::string out = scratch.File("out");
};

constexpr int32_t OK = EXTRACT_OK, ERR = EXTRACT_ERROR, CANCEL = EXTRACT_CANCELLED;

TEST_F(EngineTable, EveryRowGivesItsResultFilesBoxesAndProgress) {
  const std::string pw = kBuiltInPassword, base = scratch.File("");
  const std::string unsafe = "Unsafe file name in archive: ",
                    readError = "Error reading #.  Possible cause: bad disk";
  const std::string longName = std::string(300, 'n') + ".txt", f150(150, 'f'), n150(150, 'n');
  const std::string fit(259 - out.size() - 7, 'f'), cut(259 - base.size(), 'z');
  const Entry timed = S("t.txt", "time checked").Encrypted(pw).Streamed(16).Stamp(0x5821, 0x7A00);
  const std::string junk = "leading junk PK\x01" + LocalRecord(S("a.txt", "A")) +
                           "PK\x03 garbage \x50\x4b" + LocalRecord(S("b.txt", "B"));
  // A central header whose comment looks like another central header with the longest name.
  const size_t headerAt = LocalRecord(S("a.txt", "A")).size();
  std::string commented = zipbuild::Damage(Archive({S("a.txt", "A")}), headerAt + 32, 46);
  commented.insert(headerAt + 46 + 5, "PK\x01\x02" + std::string(42, '\xFF'));
  Entry ghost = S("bad.bin", "whatever").Method(8);  // an invalid block, then a local header
  ghost.Data(std::string(1, 7) + std::string(40000, 'j') + LocalRecord(S("ghost.txt", "boo")));
  // clang-format off
  std::vector<Row> rows = {
      // Output paths.
      {"base name only", Archive({S("docs/readme.txt", "data")}), "", OK, "readme.txt=data", "", "readme.txt +0"},
      {"kept folders", Archive({S("docs/readme.txt", "data")}), "-k -mdocs", OK, "docs/readme.txt=data", ""},
      {"kept folder missing", Archive({S("docs/readme.txt", "d")}), "-k", ERR, "", "Can't create output file: @\\docs\\readme.txt"},
      {"backslashes kept", Archive({S("docs\\sub\\b.txt", "d")}), "-k -mdocs/sub", OK, "docs/sub/b.txt=d", ""},
      {"leading slash dropped", Archive({S("/docs/a.txt", "d")}), "-k -mdocs", OK, "docs/a.txt=d", ""},
      {"dots dropped with the folders", Archive({S("..\\..\\evil.txt", "d")}), "", OK, "evil.txt=d", ""},
      {"dot folder", Archive({S("./a.txt", "d")}), "-k", OK, "a.txt=d", ""},
      {"two dots inside a name", Archive({S("a..b.txt", "d")}), "-k", OK, "a..b.txt=d", ""},
      {"parent folder", Archive({S("../evil.txt", "d")}), "-k", ERR, "", unsafe + "../evil.txt"},
      {"parent of a folder", Archive({S("docs/../../evil.txt", "d")}), "-k -mdocs", ERR, "", unsafe + "docs/../../evil.txt"},
      {"two slashes", Archive({S("//evil.txt", "d")}), "-k", ERR, "", unsafe + "//evil.txt"},
      {"drive relative", Archive({S("C:evil.txt", "d")}), "-k", ERR, "", unsafe + "C:evil.txt"},
      {"drive, base name", Archive({S("C:evil.txt", "d")}), "", ERR, "", unsafe + "C:evil.txt"},
      {"base name ..", Archive({S("docs/..", "d")}), "", ERR, "", unsafe + "docs/.."},
      {"folder with slash", Archive({S("x/a.txt", "1")}), "-d/", OK, "a.txt=1", ""},
      {"folder with backslash", Archive({S("x/a.txt", "1")}), "-d\\", OK, "a.txt=1", ""},
#ifndef _WIN32  // through Windows these bytes are ANSI characters, stored on disk in UTF-8
      {"folder's own bytes kept", Archive({S("a.txt", "x")}), "-mcaf\xC3\xA9 -d/caf\xC3\xA9", OK, "caf\xC3\xA9/a.txt=x", ""},
      {"OEM name in UTF-8", Archive({S("caf\x82.txt", "x")}), "", OK, "caf\xC3\xA9.txt=x", ""},
      {"short write", Archive({S("a.bin", Bytes(30000))}), "-f29000", ERR, "", "Error writing to @\\a.bin.  Possible cause: disk full"},
#endif
      {"empty folder: the current one", Archive({S("x/a.txt", "1")}), "-d=", OK, "a.txt=1", ""},
      {"output path too long", Archive({S(n150, "x")}), "-m" + f150 + " -d/" + f150, ERR, "", "Output path too long: @/" + f150 + "\\" + n150},
      {"output path of 259", Archive({S("n.txt", "x")}), "-m" + fit + " -d/" + fit, OK, fit + "/n.txt=x", ""},
      {"stored name of 260", Archive({S(std::string(260, 'n'), "x")}), "", ERR, "", "File name in archive too long: " + std::string(259, 'n') + "..."},
      {"long names not taken", Archive({S(std::string(4464, 'f') + "/", ""), S(longName, "x"), S("b.txt", "b")}), "-sb.txt", OK, "b.txt=b", ""},
      {"longest name", Archive({S(std::string(65534, 'z') + "/", ""), S("b.txt", "b")}), "-t", OK, "", "", "b.txt +0"},
      // Which entries are taken.
      {"folder entries", Archive({S("docs/", ""), S("more\\", "data"), S("docs/a.txt", "a")}), "-k -sdocs/ -smore/", OK, "", "", ""},
      {"empty entry", Archive({S("empty.txt", ""), S("full.txt", "x")}), "-c", OK, "empty.txt= full.txt=x", ""},
      {"empty entry skipped", Archive({S("empty.txt", ""), S("full.txt", "x")}), "-c -e", OK, "full.txt=x", ""},
      {"selection", Archive({S("docs\\readme.txt", "r"), S("docs/other.txt", "o"), S("readme.txt", "top"), S("docs/b.txt", "b")}), "-sDOCS/README.TXT -sdocs\\other.txt -sdocs/B.txt", OK, "b.txt=b readme.txt=r", ""},
      {"test mode takes all", Archive({S("docs/a.txt", "aaa"), S("b.txt", "bb")}), "-t -sb.txt", OK, "", "", "a.txt +0 b.txt +0"},
      {"a name like a central header", Archive({S("PK\x01\x02" + std::string(42, '\xFF'), "x")}), "-t", OK, "", ""},
      {"empty name passed over", Archive({S("", "orphan"), S("b.txt", "b")}), "", OK, "b.txt=b", "", "b.txt +0"},
      // Methods and CRC.
      {"unknown method", Archive({S("a.txt", "aaaa"), S("b.txt", "bbbb").Method(12), S("c.txt", "c")}), "-c", ERR, "a.txt=aaaa", "unknown compression"},
      {"CRC not asked", Archive({S("a.txt", "hello").Crc(0xDEADBEEF)}), "", OK, "a.txt=hello", ""},
      {"CRC asked by 2", Archive({S("a.txt", "hello").Crc(0xDEADBEEF)}), "-c2", OK, "a.txt=hello", ""},
      {"CRC mismatch", Archive({S("a.txt", "hello").Crc(0xDEADBEEF)}), "-c", ERR, "a.txt=hello", "ZIP damaged: file @\\a.txt: Bad CRC 3610a686 (should be deadbeef)"},
      {"CRC mismatch, test mode", Archive({S("a.txt", "hello").Crc(0x12345678)}), "-t -c", ERR, "", "ZIP damaged: file a.txt: Bad CRC 3610a686 (should be 12345678)"},
      {"CRC in a 12-byte descriptor", Archive({S("a.txt", "stored data").Streamed(12).Crc(0), S("b.txt", "b")}), "-c", OK, "a.txt=stored data b.txt=b", ""},
      {"CRC in a 16-byte descriptor", Archive({S("a.txt", "stored data").Streamed(16).Crc(0), S("b.txt", "b")}), "-c", OK, "a.txt=stored data b.txt=b", ""},
      {"deflated", Archive({S("d.bin", Bytes(70000)).Method(8).Data(Deflate(Bytes(70000), 0, 0, 0))}), "-c", OK, "d.bin#70000", "", "d.bin +0 +2 +5 +6"},
      {"invalid Deflate, CRC right", Archive({S("e.txt", "").Method(8).Data("\x13\x00"), S("b.txt", "b")}), "-c", ERR, "e.txt=", "ZIP damaged: file @\\e.txt: invalid compressed data"},
      {"invalid Deflate not asked", Archive({S("e.txt", "").Method(8).Data("\x13\x00"), S("b.txt", "b")}), "", OK, "b.txt=b e.txt=", ""},
      {"damaged Deflate's rest skipped", Archive({ghost, S("b.txt", "b")}), "", OK, "b.txt=b bad.bin=", ""},
      {"damaged Deflate, CRC asked", Archive({ghost, S("b.txt", "b")}), "-c", ERR, "bad.bin=", "ZIP damaged: file @\\bad.bin: Bad CRC 00000000 (should be 4e1143b3)"},
      // Records.
      {"comment of a central header", commented, "-c", OK, "a.txt=A", ""},
      {"bytes between records", junk + zipbuild::EndRecord(0, 0, 0), "", OK, "a.txt=A b.txt=B", ""},
      // Its CRC's first byte is 06: a scan begun a byte early would meet "PK\5\6" there.
      {"scan from the data's end", Archive({S("a.txt", "stored data 58PK\x05").Streamed(12), S("b.txt", "b")}), "-c", OK, "a.txt#17 b.txt=b", ""},
      {"no known signature", LocalRecord(S("a.txt", "A")) + "no record at all", "", ERR, "a.txt=A", "Invalid Zipfile Header"},
      {"no end record", LocalRecord(S("a.txt", "A")), "", ERR, "a.txt=A", readError},
      // 4B 4C 4C ...: a fixed-Huffman block of literals 'a' without its end.
      {"read error in a Huffman block", LocalRecord(S("c.txt", std::string(30000, 'a')).Method(8).Data(std::string("\x4B").append(30000, '\x4C')).Sizes(60000, 30000)), "", ERR, "", readError},
      {"huge size skipped", Archive({S("h.txt", "x").Sizes(0xFFFFFFFF, 1)}), "-sother", ERR, "", readError},
      {"size of 2^31 skipped", Archive({S("h.txt", "x").Sizes(0x80000000, 1)}), "-sother", ERR, "", readError},
      {"start offset", std::string(1000, 'S') + Archive({S("a.txt", "A")}), "-o1000", OK, "a.txt=A", ""},
      {"start offset past the end", Archive({S("a.txt", "A")}), "-o1000000", ERR, "", readError},
      {"archive path gets .ZIP", Archive({S("a.txt", "A")}), "-wdata/SETUP.ZIP -adata/SETUP", OK, "a.txt=A", ""},
      {"dot in a folder", Archive({S("a.txt", "A")}), "-wdata.1/SETUP", OK, "a.txt=A", ""},
      {"missing archive", Archive({S("a.txt", "A")}), "-adata/MISSING", ERR, "", "Can't open input file: #.ZIP"},
#ifndef _WIN32  // natively ANSI is UTF-8
      {"code page 437 name selected in other letters", Archive({S("\x80.txt", "c"), S("b.txt", "b")}), "-s\xC3\xA7.TXT", OK, "\xC3\x87.txt=c", ""},
      {"missing archive, OEM in the box", "", "-acaf\xC3\xA9", ERR, "", "Can't open input file: " + base + "caf\x82.ZIP"},
      {"path too long, OEM in the box", "", "-a" + cut + "\xC3\xA9.zip", ERR, "", "Can't open input file: " + base + cut + "\x82.zip"},
#endif
      {"archive path too long", Archive({S("a.txt", "A")}), "-w" + cut + " -a" + cut + "zzzz.zip", ERR, "", "Can't open input file: #"},
      // Passwords.
      {"built-in password", Archive({S("e.txt", "secret").Encrypted(pw)}), "-c", OK, "e.txt=secret", ""},
      {"wrong check byte", Archive({S("a.txt", "a"), S("e.txt", "s").Encrypted(pw, 0x55), S("c.txt", "c")}), "", ERR, "a.txt=a", "INCORRECT PASSWORD"},
      {"no password in force", Archive({S("e.txt", "x").Encrypted("pw")}), "-n", ERR, "", "NO PASSWORD"},
      {"job password", Archive({S("e.txt", "data").Encrypted("pw\xA9x")}), "-c -Ppw\xA9x", OK, "e.txt=data", ""},
      {"empty job password", Archive({S("e.txt", "data").Encrypted("")}), "-c -P", OK, "e.txt=data", ""},
      {"check byte of the time", Archive({timed}), "-c", OK, "t.txt=time checked", ""},
      {"check byte of the CRC refused", Archive({Entry(timed).Encrypted(pw, zipbuild::Crc32Of("time checked") >> 24)}), "-c", ERR, "", "INCORRECT PASSWORD"},
      {"encrypted, size 11", Archive({S("e.txt", "x").Encrypted(pw).Data("").Sizes(11, 1), S("b.txt", "b")}), "-c", ERR, "", "ZIP damaged: file @\\e.txt: encrypted data too short", ""},
      // Streamed entries: sizes only in the data descriptor.
      {"streamed stored", Archive({S("d.txt", "streamed").Streamed(16).Crc(0).Sizes(0, 0)}), "", ERR, "", "Can't extract @\\d.txt: its sizes are stored only after its data (streamed archive)"},
      {"streamed empty, 12", Archive({S("e.txt", "").Streamed(12), S("b.txt", "b")}), "-c", OK, "b.txt=b e.txt=", ""},
      {"streamed empty, 16", Archive({S("e.txt", "").Streamed(16), S("b.txt", "b")}), "-c", OK, "b.txt=b e.txt=", ""},
      {"streamed empty, descriptor cut", LocalRecord(S("e.txt", "").Streamed(16)).substr(0, 47), "", ERR, "", "Can't extract @\\e.txt: its sizes are stored only after its data (streamed archive)"},
      // Progress: a fill per chunk of at most 28672 bytes, an advance per 10240 bytes read.
      {"10239 bytes", Archive({S("e.bin", Bytes(10239))}), "", OK, "e.bin#10239", "", "e.bin +0"},
      {"10240 bytes", Archive({S("e.bin", Bytes(10240))}), "-t", OK, "", "", "e.bin +0 +1"},
      {"28672 bytes", Archive({S("e.bin", Bytes(28672))}), "", OK, "e.bin#28672", "", "e.bin +0 +2"},
      {"28673 bytes", Archive({S("e.bin", Bytes(28673))}), "-t", OK, "", "", "e.bin +0 +2"},
      {"100000 bytes", Archive({S("e.bin", Bytes(100000))}), "-t", OK, "", "", "e.bin +0 +2 +5 +8 +9"},
      {"counts run on", Archive({S("a.bin", Bytes(28672)), S("dir/", ""), S("skip.bin", Bytes(50000)), S("b.bin", Bytes(28673))}), "-sa.bin -sb.bin", OK, "a.bin#28672 b.bin#28673", "", "a.bin +0 +2 b.bin +2 +5"},
      {"encryption header not counted", Archive({S("e.bin", Bytes(10240)).Encrypted(pw)}), "", OK, "e.bin#10240", "", "e.bin +0 +1"},
      {"encryption header, 10239", Archive({S("e.bin", Bytes(10239)).Encrypted(pw)}), "", OK, "e.bin#10239", "", "e.bin +0"},
      {"cancel at a start", Archive({S("a.bin", Bytes(20000)), S("b.bin", Bytes(5000)), S("c.bin", "c")}), "-xb.bin", CANCEL, "a.bin#20000", "", "a.bin +0 +1 b.bin +1"},
      {"cancel after a fill", Archive({S("a.bin", Bytes(100000)), S("b.bin", "b")}), "-q2", CANCEL, "", "", "a.bin +0 +2"},
      {"nested run refused, result left", Archive({S("a.txt", "A")}), "-t -r", 42, "", "", "a.txt +0"},
      {"cancel in test mode", Archive({S("a.bin", Bytes(100000))}), "-t -q1", CANCEL, "", "", "a.bin +0"},
  };
  // clang-format on
  // Cut anywhere, an archive ends with one error ('*': any one box) and keeps only whole files.
  const std::string whole = Archive({S("a.txt", Bytes(3000)), S("b.txt", Bytes(40000))});
  const size_t second = LocalRecord(S("a.txt", Bytes(3000))).size(), central = whole.size() - 124;
  for (size_t at = 0; at < whole.size(); at += at < 200 || at > central - 100 ? 1 : 997)
    rows.push_back({"cut at " + std::to_string(at), whole.substr(0, at), "", ERR,
                    at < second    ? ""
                    : at < central ? "a.txt#3000"
                                   : "a.txt#3000 b.txt#40000",
                    "*"});
  for (const Row& row : rows) {
    SCOPED_TRACE(row.label);
    Run(row);
  }
}

}  // namespace
