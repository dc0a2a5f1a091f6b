// Message texts: chains, the rotating buffers, the length limit, the internal-error boxes and
// the bounded expansion of ShowMessage. The tests replace the string table and the message box
// through the platform's host hooks; the real table is checked against the texts users see.
#include "ui/messages.h"
#include "setup/state.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace {

struct Box {
  platform::WindowHandle owner;
  std::string text;
  std::string caption;  // "<null>" when no caption was given
  unsigned flags;
};

std::map<unsigned, std::string>* g_table = nullptr;
std::vector<Box> g_boxes;

int FakeLoadString(unsigned id, char* buffer, int cap) {
  auto it = g_table->find(id);
  if (it == g_table->end()) return 0;
  std::snprintf(buffer, static_cast<size_t>(cap), "%s", it->second.c_str());
  return static_cast<int>(std::strlen(buffer));
}

int RecordBox(platform::WindowHandle owner, const char* text, const char* caption, unsigned flags) {
  g_boxes.push_back({owner, text, caption ? caption : "<null>", flags});
  return platform::mb::kIdYes;
}

class MessageTextTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_table = &table_;
    g_boxes.clear();
    platform::HostHooks hooks;
    hooks.loadString = FakeLoadString;
    hooks.messageBox = RecordBox;
    platform::SetHostHooks(hooks);
    std::snprintf(g_setup.title, sizeof g_setup.title, "Karvex Setup");
  }
  void TearDown() override { platform::SetHostHooks({}); }
  std::map<unsigned, std::string> table_;
};

TEST_F(MessageTextTest, ChainIsJoinedWithoutItsMarks) {
  table_ = {{10, "!one "}, {11, "!two "}, {12, "!three "}, {13, "four"}, {14, "not read"}};
  EXPECT_STREQ(LoadMessageText(10), "one two three four");
  EXPECT_TRUE(g_boxes.empty());
}

TEST_F(MessageTextTest, PlainEntryAndMarkInsideTextAreKept) {
  table_ = {{20, "a ! in the middle"}, {21, "never"}};
  EXPECT_STREQ(LoadMessageText(20), "a ! in the middle");
}

TEST_F(MessageTextTest, FourthCallReusesTheFirstBuffer) {
  table_ = {{1, "first"}, {2, "second"}, {3, "third"}, {4, "fourth"}};
  const char* a = LoadMessageText(1);
  const char* b = LoadMessageText(2);
  const char* c = LoadMessageText(3);
  EXPECT_STREQ(a, "first");
  EXPECT_STREQ(b, "second");
  EXPECT_STREQ(c, "third");
  EXPECT_NE(a, b);
  EXPECT_NE(b, c);
  EXPECT_NE(a, c);
  const char* d = LoadMessageText(4);
  EXPECT_STREQ(d, "fourth");
  EXPECT_STREQ(a, "fourth");  // the first result has been overwritten
}

// Pieces counted with their marks: the chain below adds up to exactly the limit, or one more.
TEST_F(MessageTextTest, LengthLimitCountsEveryPieceWithItsMark) {
  struct Case {
    size_t lastPiece;
    bool fits;
  };
  for (const Case c : {Case{512 - 200 - 200, true}, Case{512 - 200 - 200 + 1, false}}) {
    SCOPED_TRACE(c.lastPiece);
    g_boxes.clear();
    const std::string first = "!" + std::string(199, 'a');
    const std::string second = "!" + std::string(199, 'b');
    const std::string third(c.lastPiece, 'c');
    table_ = {{30, first}, {31, second}, {32, third}};
    const std::string text = LoadMessageText(30);
    if (c.fits) {
      EXPECT_EQ(text, first.substr(1) + second.substr(1) + third);
      EXPECT_TRUE(g_boxes.empty());
    } else {
      EXPECT_EQ(text, first.substr(1) + second.substr(1));  // joined before the piece
      ASSERT_EQ(g_boxes.size(), 1u);
      EXPECT_EQ(g_boxes[0].text, "Internal error: string resource too long: 32");
      EXPECT_EQ(g_boxes[0].caption, "<null>");
      EXPECT_EQ(g_boxes[0].owner, nullptr);
      EXPECT_EQ(g_boxes[0].flags, platform::mb::kIconError);
    }
  }
}

TEST_F(MessageTextTest, SinglePieceOfExactlyTheLimitIsAcceptedAndOneMoreRefused) {
  table_ = {{40, std::string(512, 'x')}, {41, std::string(513, 'y')}};
  EXPECT_EQ(std::string(LoadMessageText(40)), std::string(512, 'x'));
  EXPECT_TRUE(g_boxes.empty());
  EXPECT_STREQ(LoadMessageText(41), "");
  ASSERT_EQ(g_boxes.size(), 1u);
  EXPECT_EQ(g_boxes[0].text, "Internal error: string resource too long: 41");
}

TEST_F(MessageTextTest, MissingEntryNamesTheNumberAndKeepsTheTextSoFar) {
  table_ = {{50, "!start "}, {51, "!middle "}};
  EXPECT_STREQ(LoadMessageText(50), "start middle ");
  ASSERT_EQ(g_boxes.size(), 1u);
  EXPECT_EQ(g_boxes[0].text, "Internal error: string resource not found: 52");
  EXPECT_EQ(g_boxes[0].caption, "<null>");
  EXPECT_EQ(g_boxes[0].flags, platform::mb::kIconError);

  g_boxes.clear();
  EXPECT_STREQ(LoadMessageText(60), "");
  ASSERT_EQ(g_boxes.size(), 1u);
  EXPECT_EQ(g_boxes[0].text, "Internal error: string resource not found: 60");
}

TEST_F(MessageTextTest, ShowMessageFormatsOneEntryWithTheTitleAsCaption) {
  table_ = {{70, "!Cannot open %s for writing"}, {71, "never joined"}};
  int owner = 0;
  const int answer = ShowMessage(&owner, 70, 0x2040, "C:\\X\\Y.EXE");
  EXPECT_EQ(answer, platform::mb::kIdYes);
  ASSERT_EQ(g_boxes.size(), 1u);
  EXPECT_EQ(g_boxes[0].text, "!Cannot open C:\\X\\Y.EXE for writing");
  EXPECT_EQ(g_boxes[0].caption, "Karvex Setup");
  EXPECT_EQ(g_boxes[0].owner, &owner);
  EXPECT_EQ(g_boxes[0].flags, 0x2040u);
}

TEST_F(MessageTextTest, ShowMessageExpansionIsBoundedToItsBuffer) {
  table_ = {{80, "[%s][%s]"}};
  const std::string huge(5000, 'z');
  ShowMessage(nullptr, 80, 0, huge.c_str(), huge.c_str());
  ASSERT_EQ(g_boxes.size(), 1u);
  EXPECT_EQ(g_boxes[0].text.size(), static_cast<size_t>(kShowMessageOutputSize - 1));
  EXPECT_EQ(g_boxes[0].text.substr(0, 4), "[zzz");
}

TEST_F(MessageTextTest, ShowMessageWithMissingEntryShowsAnEmptyBox) {
  ShowMessage(nullptr, 90, 0x10);
  ASSERT_EQ(g_boxes.size(), 1u);
  EXPECT_EQ(g_boxes[0].text, "");
}

TEST_F(MessageTextTest, WsprintfDialectLongHexTakesThirtyTwoBits) {
  table_ = {{95, "file %s: Bad CRC %08lx (should be %08lx)"}};
  ShowMessage(nullptr, 95, 0, "a.txt", 0x1234u, 0xCBF43926u);
  ASSERT_EQ(g_boxes.size(), 1u);
  EXPECT_EQ(g_boxes[0].text, "file a.txt: Bad CRC 00001234 (should be cbf43926)");
}

// The shipped table, read the way each build reads it (LoadStringA on Windows).
class ShippedTextTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_boxes.clear();
    platform::HostHooks hooks;
    hooks.messageBox = RecordBox;
    platform::SetHostHooks(hooks);
  }
  void TearDown() override { platform::SetHostHooks({}); }
};

TEST_F(ShippedTextTest, ChainedMessagesJoinAsUsersReadThem) {
  struct Case {
    unsigned id;
    const char* text;
  };
  const Case cases[] = {
      {MSG_SHELL_EXTENSION_BUSY,
       "Setup can not close the \"Karvex Shell Extension\" from your existing version of "
       "Karvex.\n\nTo install this new version, you will need to\n\n\t1) Click \"Yes\" to "
       "temporarily turn off the shell extension\n\t2) Shut down and restart Windows, then\n\t3) "
       "Run the installation procedure again\n\nWould you like to continue?\n\nIf you choose "
       "\"No\", Setup will exit and you can continue to use your existing version of Karvex."},
      {MSG_FILE_MANAGER_BUSY,
       "The Karvex installation procedure can not close the \"Karvex File Manager Extension\" "
       "from your existing version of Karvex.\n\nTo install this new version of Karvex, "
       "please\n\n1) Close the File Manager, or, if you are running a \"shell\" like Norton "
       "Desktop, exit and restart Windows, then\n\n2) Run the Karvex installation procedure "
       "again"},
      {MSG_SHELL_EXTENSION_OFF,
       "\nKarvex's Shell Extension has been temporarily turned off.\n\nTo continue installing "
       "Karvex, please\n\n\t1) Shut down and restart Windows, then\n\t2) Run the Karvex "
       "installation procedure again\n\nThe Karvex Shell Extension will automatically be turned "
       "on when you are done.\n"},
      {MSG_SAME_FOLDER,
       "\"Install To\" folder must be different than \"Install From\" folder.  Please specify a "
       "different folder."},
      {MSG_BAD_CRC, "ZIP damaged: file %s: Bad CRC %08lx (should be %08lx)"},
      {MSG_TITLE, "Karvex Setup"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.id);
    EXPECT_STREQ(LoadMessageText(c.id), c.text);
  }
  EXPECT_TRUE(g_boxes.empty());
}

TEST_F(ShippedTextTest, EveryNumberOfTheTableIsPresent) {
  const unsigned ids[] = {1004, 1005, 1006, 1013, 1016, 1018, 1019, 1021, 1022, 1023,
                          1024, 1026, 1029, 1030, 1031, 1032, 1033, 1034, 1035, 1036,
                          1037, 1039, 1040, 1041, 1042, 1044, 1045, 1046, 1047, 1048};
  for (unsigned id : ids) {
    char buffer[kMessagePieceSize];
    EXPECT_GT(platform::LoadStringResource(nullptr, id, buffer, sizeof buffer), 0) << id;
  }
  char buffer[kMessagePieceSize];
  EXPECT_EQ(platform::LoadStringResource(nullptr, 1025, buffer, sizeof buffer), 0);
}

}  // namespace
