// Text and console helpers: upper-casing, bounded copies, number reading,
// the line printer and the Escape checks.
#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <cstring>
#include <deque>
#include <string>

#include "lib/zeb_con.h"
#include "lib/zeb_key.h"
#include "lib/zeb_str.h"
#include "platform/platform.h"
#include "test_support.h"

namespace {

struct upper_case {
  const char *in;
  const char *out;
};

TEST(StringUpper, CasesTable) {
  const upper_case cases[] = {
      {"abc.html", "ABC.HTML"},
      {"", ""},
      {"[a]{z}`~@", "[A]{Z}`~@"},  // only a to z change
      // a Shift-JIS character whose trail byte is a lower-case letter code
      {"x\x88\x61y", "X\x88\x61Y"},
      // a half-width character takes the byte after it along unchanged
      {"\xB6"
       "ab",
       "\xB6"
       "aB"},
      // a lead byte in the last place ends the walk
      {"ab\x88", "AB\x88"},
      {"\x82\xA0\x82\xA2z", "\x82\xA0\x82\xA2Z"},
  };
  for (const upper_case &c : cases) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%s", c.in);
    EXPECT_EQ(string_upper(buf), buf);
    EXPECT_STREQ(buf, c.out) << "input: " << c.in;
  }
}

TEST(StringUpper, LeadByteLastReadsNothingBeyond) {
  // The byte after the NUL would be upper-cased if the walk went past it.
  char buf[4] = {'a', '\x88', '\0', 'b'};
  string_upper(buf);
  EXPECT_EQ(buf[0], 'A');
  EXPECT_EQ(buf[1], '\x88');
  EXPECT_EQ(buf[3], 'b');
}

TEST(StringCopy, CutsAndTerminates) {
  char buf[8];
  std::memset(buf, 'Z', sizeof buf);
  EXPECT_EQ(string_copy(buf, 5, "abcdefgh"), 4u);
  EXPECT_STREQ(buf, "abcd");
  EXPECT_EQ(buf[5], 'Z');  // nothing past the size written
  EXPECT_EQ(string_copy(buf, 8, "ab"), 2u);
  EXPECT_STREQ(buf, "ab");
  EXPECT_EQ(string_copy(buf, 1, "ab"), 0u);
  EXPECT_STREQ(buf, "");
}

TEST(StringAppend, ReportsWhetherAllFitted) {
  char buf[8];
  string_copy(buf, sizeof buf, "abc");
  EXPECT_EQ(string_append(buf, sizeof buf, "de"), 1);
  EXPECT_STREQ(buf, "abcde");
  EXPECT_EQ(string_append(buf, sizeof buf, "fg"), 1);
  EXPECT_STREQ(buf, "abcdefg");
  EXPECT_EQ(string_append(buf, sizeof buf, "h"), 0);
  EXPECT_STREQ(buf, "abcdefg");
  string_copy(buf, sizeof buf, "abc");
  EXPECT_EQ(string_append(buf, 6, "wxyz"), 0);
  EXPECT_STREQ(buf, "abcwx");
  EXPECT_EQ(string_append(buf, sizeof buf, ""), 1);
}

struct int_case {
  const char *in;
  int out;
};

TEST(StringToInt, AtoiRulesWithSaturation) {
  const int_case cases[] = {
      {"42", 42},
      {"  \t\n\r\v\f7", 7},
      {"-17", -17},
      {"+8", 8},
      {"12abc", 12},
      {"0x10", 0},
      {"abc", 0},
      {"", 0},
      {"- 5", 0},
      {"--5", 0},
      {"2147483647", INT_MAX},
      {"2147483648", INT_MAX},
      {"-2147483648", INT_MIN},
      {"-2147483649", INT_MIN},
      {"99999999999999999999999999999", INT_MAX},
      {"-99999999999999999999999999999", INT_MIN},
      {"000000000000000000000000000123", 123},
  };
  for (const int_case &c : cases)
    EXPECT_EQ(string_to_int(c.in), c.out) << "input: \"" << c.in << "\"";
}

std::string printed(const std::string &text) {
  stdout_capture out;
  line_print(text.c_str());
  return out.text();
}

TEST(LinePrint, TextLineEndAndEmptyLine) {
  EXPECT_EQ(printed("cache file can't read"), "cache file can't read\n\n");
  EXPECT_EQ(printed("cache file can't read\n"), "cache file can't read\n\n");
  EXPECT_EQ(printed(""), "\n\n");
  EXPECT_EQ(printed("\n"), "\n\n");
}

TEST(LinePrint, LongTextsPrintedWhole) {
  // Around the 510 bytes that fit the buffer, and far beyond it.
  const size_t sizes[] = {509, 510, 511, 512, 2000};
  for (size_t n : sizes) {
    std::string text(n, 'x');
    text[0] = 'A';
    text[n - 1] = 'Z';
    EXPECT_EQ(printed(text), text + "\n\n") << n;
    std::string ended = text.substr(0, n - 1) + "\n";
    EXPECT_EQ(printed(ended), ended + "\n") << n;
  }
}

std::deque<int> keys;
int keys_waiting(void) { return keys.empty() ? 0 : 1; }
int keys_read(void) {
  if (keys.empty()) return 0;
  int k = keys.front();
  keys.pop_front();
  return k;
}

class KeyTest : public testing::Test {
 protected:
  void SetUp() override {
    keys.clear();
    plat_set_key_source(keys_waiting, keys_read);
  }
  void TearDown() override { plat_set_key_source(nullptr, nullptr); }
};

TEST_F(KeyTest, EscapeCheckConsumesOneKey) {
  EXPECT_EQ(key_escape(), 0);  // nothing waiting
  keys = {'a'};
  EXPECT_EQ(key_escape(), 0);
  EXPECT_TRUE(keys.empty());  // the key press is gone
  keys = {27, 'b'};
  EXPECT_EQ(key_escape(), 27);
  EXPECT_EQ(keys.size(), 1u);
}

TEST_F(KeyTest, TwoCodeKeyTakesTwoChecks) {
  keys = {0xE0, 27};
  EXPECT_EQ(key_escape(), 0);
  EXPECT_EQ(keys.size(), 1u);
  EXPECT_EQ(key_escape(), 27);
}

TEST_F(KeyTest, WaitGivesEscapeOrZero) {
  keys = {27, 'x', 0x1B + 1, 0};
  EXPECT_EQ(key_wait(), 27);
  EXPECT_EQ(key_wait(), 0);
  EXPECT_EQ(key_wait(), 0);
  EXPECT_EQ(key_wait(), 0);
  EXPECT_TRUE(keys.empty());
}

TEST(VersionTags, NameTheirModules) {
  EXPECT_STREQ(zeb_str_version, "ZEB_STR 1.49");
  EXPECT_STREQ(zeb_con_version, "ZEB_CON 1.22");
  EXPECT_STREQ(zeb_key_version, "ZEB_KEY 1.03");
}

}  // namespace
