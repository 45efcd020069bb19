// Splitting command-line tails into arguments, and handing them on as C strings.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "launcher/argument_list.h"

namespace quenlet {
namespace {

struct SplitCase {
  const char* name;
  std::string tail;
  std::vector<std::string> arguments;
};
void PrintTo(const SplitCase& c, std::ostream* out) { *out << c.name; }

const std::vector<std::string> kNone;

const SplitCase kSplitCases[] = {
    {"Empty", "", kNone},
    {"SpacesOnly", "   ", kNone},
    {"RepeatedWhiteSpace", "  a \t  b  ", {"a", "b"}},
    {"AllSixWhiteSpaceBytes", "a\tb\nc\vd\fe\rf", {"a", "b", "c", "d", "e", "f"}},
    {"VerticalTabFormFeedOnly", "\v\f", kNone},
    {"EmptyQuotes", "\"\"", {""}},
    {"EmptyQuotesFirst", "\"\" a", {"", "a"}},
    {"EmptyQuotesBetween", "a \"\" b", {"a", "", "b"}},
    {"EmptyQuotesLast", "a \"\"", {"a", ""}},
    {"TwoEmptyQuotes", "\"\"\"\"", {"", ""}},
    {"EmptyQuotesThenBare", "\"\"a", {"", "a"}},
    {"EmptyQuotesAfterBareOnlyClose", "a\"\"", {"a"}},
    {"QuoteInsideBare", "ab\"c d\"", {"abc d"}},
    {"UnclosedQuoteInsideBare", "a\" b", {"a b"}},
    {"ClosingQuoteEndsArgument", "a\"b c\"d", {"ab c", "d"}},
    {"BytesAfterClosingQuote", "\"ab\"cd", {"ab", "cd"}},
    {"QuotedThenBareQuoted", "\"a\"b\"c d\"", {"a", "bc d"}},
    {"AdjacentQuotedArguments", "\"a\"\"b\"", {"a", "b"}},
    {"QuotedThenEmptyQuotes", "\"a\"\"\"", {"a", ""}},
    {"UnclosedQuote", "\"a b", {"a b"}},
    {"UnclosedQuoteSecond", "a \"b c", {"a", "b c"}},
    {"UnclosedQuoteKeepsTrailingSpace", "\"a ", {"a "}},
    {"LoneQuote", "\"", kNone},
    {"TrailingLoneQuote", "a \"", {"a"}},
    {"QuotedSpaceOnly", "\" ", {" "}},
    {"QuotedTab", "\"a\tb\"", {"a\tb"}},
    {"QuotedMixedWhiteSpace", "\"a \t b\"", {"a \t b"}},
    {"BackslashBeforeQuoteInBare", "a\\\"b c\"", {"a\\b c"}},
    {"BackslashBeforeQuoteInQuoted", "\"a\\\" b\"", {"a\\", "b"}},
    {"BackslashesAroundQuotes", "\\\"a b\\\"", {"\\a b\\"}},
    {"TrailingBackslashInQuotes", "\"C:\\Program Files\\\"", {"C:\\Program Files\\"}},
    {"UncPath", "\\\\server\\share x", {"\\\\server\\share", "x"}},
    {"QuotedValue", "key=\"a b\"", {"key=a b"}},
    {"QuotedPair", "\"key=a b\" y", {"key=a b", "y"}},
    {"HighByteE9", "a\xE9" "b", {"a\xE9" "b"}},
    {"HighByteFF", "a\xFF" "b", {"a\xFF" "b"}},
    {"OtherControlBytesAreOrdinary", "\x01 \x7F", {"\x01", "\x7F"}},
};

class ArgumentSplit : public ::testing::TestWithParam<SplitCase> {};

TEST_P(ArgumentSplit, GivesTheArgumentsInOrder) {
  const SplitCase& c = GetParam();
  ArgumentList list(c.tail.c_str());
  EXPECT_EQ(list.Arguments(), c.arguments);
  EXPECT_EQ(list.Count(), static_cast<int>(c.arguments.size()));
}

INSTANTIATE_TEST_SUITE_P(Tails, ArgumentSplit, ::testing::ValuesIn(kSplitCases),
                         [](const ::testing::TestParamInfo<SplitCase>& info) { return info.param.name; });

void FreeArray(char** array, int count) {
  for (int i = 0; i < count; ++i) delete[] array[i];
  delete[] array;
}

TEST(ArgumentListConversion, BlocksAreSeparateTerminatedCopiesThatOutliveTheList) {
  char** array = nullptr;
  {
    ArgumentList list("ab \"\" cde");
    ASSERT_EQ(list.Count(), 3);
    array = list.ToCStringArray();
    ASSERT_NE(array, nullptr);
    char** second = list.ToCStringArray();  // each call makes a new array
    ASSERT_NE(second, nullptr);
    EXPECT_NE(second, array);
    EXPECT_NE(second[0], array[0]);
    FreeArray(second, 3);
  }
  // Blocks of 3, 1 and 4 bytes: the bytes and one zero each.
  EXPECT_EQ(std::memcmp(array[0], "ab", 3), 0);
  EXPECT_EQ(array[1][0], '\0');
  EXPECT_EQ(std::memcmp(array[2], "cde", 4), 0);
  EXPECT_NE(array[0], array[1]);
  EXPECT_NE(array[1], array[2]);
  FreeArray(array, 3);
}

TEST(ArgumentListConversion, EmptyListGivesAValidArrayOfNoEntries) {
  ArgumentList list("");
  EXPECT_EQ(list.Count(), 0);
  char** array = list.ToCStringArray();
  EXPECT_NE(array, nullptr);
  FreeArray(array, 0);
}

TEST(ArgumentListConversion, NullTailIsAnEmptyList) {
  ArgumentList list(nullptr);
  EXPECT_EQ(list.Count(), 0);
}

TEST(ArgumentListFromArgv, KeepsQuotesAndWhiteSpaceAsGiven) {
  const char* argv[] = {"a b", "\"quoted\"", "", "x\"y", " \t"};
  ArgumentList list(5, argv);
  EXPECT_EQ(list.Arguments(), (std::vector<std::string>{"a b", "\"quoted\"", "", "x\"y", " \t"}));
  char** array = list.ToCStringArray();
  ASSERT_NE(array, nullptr);
  EXPECT_STREQ(array[1], "\"quoted\"");
  EXPECT_STREQ(array[4], " \t");
  FreeArray(array, 5);
}

TEST(ArgumentListFromArgv, NoArgumentsOrNullArrayGiveAnEmptyList) {
  const char* argv[] = {"x"};
  EXPECT_EQ(ArgumentList(0, argv).Count(), 0);
  EXPECT_EQ(ArgumentList(-1, argv).Count(), 0);
  EXPECT_EQ(ArgumentList(3, nullptr).Count(), 0);
}

}  // namespace
}  // namespace quenlet
