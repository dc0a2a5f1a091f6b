// Message texts, one row per case on a string table of the row's own: chains joined without
// their marks, the length limit counted with the marks, the internal-error boxes; the bounded,
// titled ShowMessage; and one chain of the shipped table as users read it.
#include "ui/messages.h"

#include "setup/state.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>

namespace {

std::map<unsigned, std::string> g_table;
std::string g_boxes;  // "text [caption] flags owner;" for each box

int FakeLoadString(unsigned id, char* buffer, int cap) {
  const auto it = g_table.find(id);
  if (it == g_table.end()) return 0;
  std::snprintf(buffer, static_cast<size_t>(cap), "%s", it->second.c_str());
  return static_cast<int>(std::strlen(buffer));
}

int RecordBox(platform::WindowHandle owner, const char* text, const char* caption, unsigned flags) {
  char shown[64];
  std::snprintf(shown, sizeof shown, " [%s] %x %s;", caption ? caption : "-", flags,
                owner ? "owned" : "-");
  g_boxes += text + std::string(shown);
  return platform::mb::kIdYes;
}

void Hooks(bool fakeTable) {
  platform::HostHooks hooks;
  if (fakeTable) hooks.loadString = FakeLoadString;
  hooks.messageBox = RecordBox;
  platform::SetHostHooks(hooks);
  g_boxes.clear();
  std::snprintf(g_setup.title, sizeof g_setup.title, "Karvex Setup");
}

struct Row {
  const char* label;
  std::map<unsigned, std::string> table;
  std::string text, boxes;  // LoadMessageText(1)'s result and the boxes shown
};

TEST(MessageText, EveryRowJoinsItsChainOrShowsItsError) {
  const std::string a199(199, 'a'), b199(199, 'b');
  const std::string tooLong = " [-] 10 -;";
  // clang-format off
  const Row rows[] = {
      {"chain", {{1, "!one "}, {2, "!two "}, {3, "!three "}, {4, "four"}, {5, "never"}}, "one two three four", ""},
      {"plain, mark inside", {{1, "a ! in the middle"}, {2, "never"}}, "a ! in the middle", ""},
      {"chain of exactly the limit", {{1, "!" + a199}, {2, "!" + b199}, {3, std::string(112, 'c')}}, a199 + b199 + std::string(112, 'c'), ""},
      {"chain one past the limit", {{1, "!" + a199}, {2, "!" + b199}, {3, std::string(113, 'c')}}, a199 + b199, "Internal error: string resource too long: 3" + tooLong},
      {"piece of exactly the limit", {{1, std::string(512, 'x')}}, std::string(512, 'x'), ""},
      {"piece one past the limit", {{1, std::string(513, 'y')}}, "", "Internal error: string resource too long: 1" + tooLong},
      {"chain without its end", {{1, "!start "}, {2, "!middle "}}, "start middle ", "Internal error: string resource not found: 3" + tooLong},
      {"missing", {}, "", "Internal error: string resource not found: 1" + tooLong},
  };
  // clang-format on
  for (const Row& row : rows) {
    SCOPED_TRACE(row.label);
    g_table = row.table;
    Hooks(true);
    EXPECT_EQ(LoadMessageText(1), row.text);
    EXPECT_EQ(g_boxes, row.boxes);
  }
}

TEST(MessageText, ResultsRotateThroughThreeBuffers) {
  g_table = {{1, "first"}, {2, "second"}, {3, "third"}, {4, "fourth"}};
  Hooks(true);
  const char* first = LoadMessageText(1);
  const char* second = LoadMessageText(2);
  EXPECT_STREQ(LoadMessageText(3), "third");
  EXPECT_STREQ(first, "first");
  EXPECT_STREQ(second, "second");
  EXPECT_STREQ(LoadMessageText(4), "fourth");
  EXPECT_STREQ(first, "fourth");
}

TEST(MessageText, ShowMessageFormatsOneEntryBoundedWithTheTitleAsCaption) {
  g_table = {{70, "!Cannot open %s for writing"},
             {71, "never joined"},
             {80, "[%s][%s]"},
             {95, "Bad CRC %08lx (should be %08lx)"}};
  Hooks(true);
  int owner = 0;
  EXPECT_EQ(ShowMessage(&owner, 70, 0x2040, "C:\\X\\Y.EXE"), platform::mb::kIdYes);
  ShowMessage(nullptr, 95, 0, 0x1234u, 0xCBF43926u);
  ShowMessage(nullptr, 90, 0x10);
  EXPECT_EQ(g_boxes,
            "!Cannot open C:\\X\\Y.EXE for writing [Karvex Setup] 2040 owned;Bad CRC 00001234 "
            "(should be cbf43926) [Karvex Setup] 0 -; [Karvex Setup] 10 -;");
  g_boxes.clear();
  const std::string huge(5000, 'z');
  ShowMessage(nullptr, 80, 0, huge.c_str(), huge.c_str());
  EXPECT_EQ(g_boxes, "[" + std::string(kShowMessageOutputSize - 2, 'z') + " [Karvex Setup] 0 -;");
}

TEST(MessageText, ShippedChainJoinsAsUsersReadIt) {
  Hooks(false);
  EXPECT_STREQ(
      LoadMessageText(MSG_SHELL_EXTENSION_BUSY),
      "Setup can not close the \"Karvex Shell Extension\" from your existing version of "
      "Karvex.\n\nTo install this new version, you will need to\n\n\t1) Click \"Yes\" to "
      "temporarily turn off the shell extension\n\t2) Shut down and restart Windows, then\n\t3) "
      "Run the installation procedure again\n\nWould you like to continue?\n\nIf you choose "
      "\"No\", Setup will exit and you can continue to use your existing version of Karvex.");
  EXPECT_EQ(g_boxes, "");
  platform::SetHostHooks({});
}

}  // namespace
