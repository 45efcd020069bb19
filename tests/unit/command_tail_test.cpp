// Cutting the program name off the process command line.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "launcher/command_tail.h"
#include "tests/fakes/fake_host.h"

namespace quenlet {
namespace {

struct TailCase {
  const char* name;
  std::string line;
  std::string tail;
  std::set<unsigned char> leadBytes;
};
void PrintTo(const TailCase& c, std::ostream* out) { *out << c.name; }

const TailCase kTailCases[] = {
    {"Empty", "", "", {}},
    {"NameOnly", "prog.exe", "", {}},
    {"NameAndArguments", "prog.exe a b", "a b", {}},
    {"BlanksAfterNameSkipped", "prog.exe  \t a  b ", "a  b ", {}},
    {"ControlBytesAfterNameSkipped", "prog.exe\x01\x1F\x20x", "x", {}},
    {"NameEndsAtAnyByteUpToSpace", "prog\x01" "a", "a", {}},
    {"HighBytesBelongToTheName", "pr\xE9g\xFF x", "x", {}},
    {"QuotedName", "\"C:\\Program Files\\q.exe\" a", "a", {}},
    {"QuotedNameTailStartsRightAfterQuote", "\"ab\"cd", "cd", {}},
    {"QuotedNameOnly", "\"q.exe\"", "", {}},
    {"UnclosedQuotedName", "\"q.exe a b", "", {}},
    {"EmptyQuotedName", "\"\" a", "a", {}},
    {"QuoteInsideBareName", "tail.exe\"q r\" s", "r\" s", {}},
    {"LeadingBlankRemovesNoName", "  a b", "a b", {}},
    {"LeadingControlByte", "\x01" "a", "a", {}},
    {"OnlyBlanks", " \t ", "", {}},
    {"LeadByteTakesAQuote", "\"a\x81\"b\" c", "c", {0x81}},
    {"LeadByteTakesAnyByte", "\"\x81x\" c", "c", {0x81}},
    {"LeadByteOutsideQuotesHasNoEffect", "a\x81 b", "b", {0x81}},
    {"NoLeadBytesQuoteCloses", "\"a\x81\"b\" c", "b\" c", {}},
    {"LeadByteBeforeTerminatorStops", "\"a\x81", "", {0x81}},
};

class CommandTail : public ::testing::TestWithParam<TailCase> {};

TEST_P(CommandTail, CutsTheProgramName) {
  const TailCase& c = GetParam();
  FakeHost host;
  host.SetLeadBytes(c.leadBytes);
  const char* tail = CutCommandLineTail(host, c.line.c_str());
  // A pointer into the line, never past its terminator.
  ASSERT_GE(tail, c.line.c_str());
  ASSERT_LE(tail, c.line.c_str() + c.line.size());
  EXPECT_EQ(std::string(tail), c.tail);
}

INSTANTIATE_TEST_SUITE_P(Lines, CommandTail, ::testing::ValuesIn(kTailCases),
                         [](const ::testing::TestParamInfo<TailCase>& info) { return info.param.name; });

TEST(CommandTailNull, NullLineGivesAnEmptyTail) {
  FakeHost host;
  EXPECT_STREQ(CutCommandLineTail(host, nullptr), "");
}

}  // namespace
}  // namespace quenlet
