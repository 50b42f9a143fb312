#include "services/fixed_field.h"

#include <array>
#include <string>

#include <gtest/gtest.h>

namespace pageout::services {
namespace {

using std::string_literals::operator""s;

TEST(FixedFieldTest, AssignTruncatesAndBlankFills) {
  struct Case {
    std::string text;
    std::string field;  // the 5-character field afterwards
  };
  const Case cases[] = {
      {"", "     "}, {"ab", "ab   "}, {"abcde", "abcde"}, {"abcdefg", "abcde"}, {" a b", " a b "},
      {"\t", "\t    "},
  };
  for (const Case& c : cases) {
    std::array<char, 5> field;
    field.fill('x');
    AssignField(field, c.text);
    EXPECT_EQ(std::string(field.data(), field.size()), c.field) << "text '" << c.text << "'";
  }
}

TEST(FixedFieldTest, AssignIntoARangeLeavesTheRestAlone) {
  std::array<char, 8> field;
  field.fill('.');
  AssignField(std::span(field).subspan(2, 4), "xy");
  EXPECT_EQ(std::string(field.data(), field.size()), "..xy  ..");
}

TEST(FixedFieldTest, ComparisonExtendsTheShorterWithBlanks) {
  struct Case {
    std::string a, b;
    bool equal;
  };
  const Case cases[] = {
      {"abc", "abc   ", true},  {"abc   ", "abc", true},  {"", "    ", true},
      {"", "", true},           {"abc", "abd", false},     {"abc", "abc  x", false},
      {" abc", "abc", false},   {"abc\t", "abc", false},   {"abc", "abc\0"s, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FieldsEqual(c.a, c.b), c.equal) << "'" << c.a << "' vs '" << c.b << "'";
  }
}

TEST(FixedFieldTest, OnlyTheBlankCountsForTrimmingAndBlankness) {
  struct Case {
    std::string field;
    std::size_t trimmed;
  };
  const Case cases[] = {
      {"", 0},          {"     ", 0},        {"a    ", 1},     {"  a b  ", 5},
      {"abc", 3},       {"ab\t  ", 3},       {"ab\0 "s, 3},    {"\t", 1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(TrimmedLength(c.field), c.trimmed) << "'" << c.field << "'";
    EXPECT_EQ(IsBlank(c.field), c.trimmed == 0) << "'" << c.field << "'";
  }
}

}  // namespace
}  // namespace pageout::services
