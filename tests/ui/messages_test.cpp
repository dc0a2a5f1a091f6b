// Message texts, one row per case on a string table of the row's own: chains joined without
// their marks, the length limit counted with the marks, the internal-error boxes; the three
// rotating results; the bounded, titled ShowMessage; and one chain of the shipped table.
#include "ui/messages.h"

#include "setup/state.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <tuple>

namespace {

std::map<unsigned, std::string> g_table;
std::string g_boxes;  // "text [caption] flags owner;" for each box, the flags in decimal

int FakeLoadString(unsigned id, char* buffer, int cap) {
  if (!g_table.count(id)) return 0;  // the buffer left as it was
  std::snprintf(buffer, static_cast<size_t>(cap), "%s", g_table[id].c_str());
  return static_cast<int>(std::strlen(buffer));
}

int RecordBox(platform::WindowHandle owner, const char* text, const char* caption, unsigned flags) {
  g_boxes += text + (" [" + std::string(caption ? caption : "-") + "] ") + std::to_string(flags) +
             (owner ? " owned;" : " -;");
  return platform::mb::kIdYes;
}

void Hooks(std::map<unsigned, std::string> table, bool shipped = false) {
  platform::SetHostHooks(
      {.messageBox = RecordBox, .loadString = shipped ? nullptr : FakeLoadString});
  g_table = std::move(table);
  g_boxes.clear();
  std::strcpy(g_setup.title, "Karvex Setup");
}

TEST(MessageText, EveryRowJoinsItsChainOrShowsItsErrorAndResultsRotate) {
  const std::string a(199, 'a'), b(199, 'b'), c112(112, 'c'), c113(113, 'c');
  const std::string notFound = "Internal error: string resource not found: ",
                    tooLong = "Internal error: string resource too long: ", box = " [-] 16 -;";
  // The string table, LoadMessageText(1)'s result and the boxes shown.
  const std::tuple<std::map<unsigned, std::string>, std::string, std::string> rows[] = {
      {{{1, "!one "}, {2, "!two "}, {3, "three"}, {4, "no"}}, "one two three", ""},
      {{{1, "!" + a}, {2, "!" + b}, {3, c112}}, a + b + c112, ""},  // exactly the limit
      {{{1, "!" + a}, {2, "!" + b}, {3, c113}}, a + b, tooLong + "3" + box},
      {{{1, "!start "}, {2, "!middle "}}, "start middle ", notFound + "3" + box},
  };
  for (const auto& [table, text, boxes] : rows) {
    Hooks(table);
    EXPECT_EQ(LoadMessageText(1), text);
    EXPECT_EQ(g_boxes, boxes) << text;
  }
  // The results rotate through three buffers.
  Hooks({{1, "first"}, {2, "second"}, {3, "third"}, {4, "fourth"}});
  const char* first = LoadMessageText(1);
  const std::string three = std::string(LoadMessageText(2)) + LoadMessageText(3) + first;
  EXPECT_EQ(three + (LoadMessageText(4) == first ? first : "elsewhere"), "secondthirdfirstfourth");
}

TEST(MessageText, ShowMessageFormatsOneEntryBoundedWithTheTitleAsCaption) {
  Hooks({{70, "!Open %s"}, {71, "never joined"}, {80, "[%s][%s]"}, {95, "%08lx (not %08lx)"}});
  int owner = 0;
  EXPECT_EQ(ShowMessage(&owner, 70, 0x2040, "C:\\X\\Y.EXE"), platform::mb::kIdYes);
  ShowMessage(nullptr, 95, 0, 0x1234u, 0xCBF43926u);
  ShowMessage(nullptr, 90, 0x10);
  const std::string huge(5000, 'z');
  ShowMessage(nullptr, 80, 0, huge.c_str(), huge.c_str());
  EXPECT_EQ(g_boxes,
            "!Open C:\\X\\Y.EXE [Karvex Setup] 8256 owned;00001234 (not cbf43926) [Karvex "
            "Setup] 0 -; [Karvex Setup] 16 -;[" +
                std::string(kShowMessageOutputSize - 2, 'z') + " [Karvex Setup] 0 -;");
}

// The shipped table joins; natively its built-in copy answers as LoadStringA does.
TEST(MessageText, ShippedChainJoinsAsUsersReadIt) {
  Hooks({}, true);
  const std::string text = LoadMessageText(MSG_SHELL_EXTENSION_BUSY);
  EXPECT_EQ(text.substr(0, 40) + "|" + text.substr(text.size() - 20) + "|" + g_boxes,
            "Setup can not close the \"Karvex Shell Ex|g version of Karvex.|");
  EXPECT_NE(text.find("Karvex.\n\nTo install this new version"), std::string::npos) << text;
#ifndef _WIN32
  char none[4] = "xyz";
  EXPECT_EQ(platform::LoadStringResource(nullptr, MSG_TITLE, none, 0), 0);  // no room at all
  EXPECT_EQ(platform::LoadStringResource(nullptr, 1025, none + 1, 3), 0);   // not in the table
  EXPECT_EQ(std::string(none, 3), std::string("x\0z", 3));
#endif
  platform::SetHostHooks({});
}

}  // namespace
