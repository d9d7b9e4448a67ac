// JIS X 0208 to Shift-JIS: the arithmetic against the C library's converter.
#include <gtest/gtest.h>
#include <iconv.h>

#include <cerrno>
#include <cstdio>

#include "lib/zeb_jis.h"

namespace {

struct code_case {
  unsigned jis;
  int sjis;
};

TEST(JisCodeToSjis, Examples) {
  const code_case cases[] = {
      {0x3021, 0x889F}, {0x2422, 0x82A0}, {0x5F21, 0xE040}, {0x7E7E, 0xEFFC},
      {0x2121, 0x8140}, {0x215F, 0x817E}, {0x2160, 0x8180}, {0x5E7E, 0x9FFC},
  };
  for (const code_case &c : cases)
    EXPECT_EQ(jis_code_to_sjis(c.jis) & 0xFFFF, c.sjis)
        << std::hex << "code " << c.jis;
}

TEST(JisCodeToSjis, MalformedCodesFollowTheArithmetic) {
  // Codes that reach the mapping from broken text: escape bytes and a line
  // feed paired with the NUL inside a two-byte mode, and EUC-looking bytes.
  const code_case cases[] = {
      {0x1B28, 0x7E47},  // ESC ( in the old-JIS mode
      {0x4241, 0x91BF},  // B A after it
      {0x0A00, 0x757E},  // line feed and NUL
      {0x2021, 0x809F},  // A0 A1 masked to 7F7F
      {0x3640, 0x8BBE},  // B6 C0 masked
      {0x6021, 0xE09F},  // E0 A1 masked
  };
  for (const code_case &c : cases)
    EXPECT_EQ(jis_code_to_sjis(c.jis) & 0xFFFF, c.sjis)
        << std::hex << "code " << c.jis;
}

// Converts one JIS X 0208 character through iconv; 1 and the two Shift-JIS
// bytes when it converts to exactly one two-byte character.
int iconv_sjis(iconv_t cd, unsigned hi, unsigned lo, unsigned *out) {
  char in[8] = {'\x1b', '$', 'B', static_cast<char>(hi), static_cast<char>(lo),
                '\x1b', '(', 'B'};
  char res[16];
  char *ip = in;
  size_t il = sizeof in;
  char *op = res;
  size_t ol = sizeof res;
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  if (iconv(cd, &ip, &il, &op, &ol) == static_cast<size_t>(-1)) return 0;
  if (il != 0 || op - res != 2) return 0;
  *out = (static_cast<unsigned char>(res[0]) << 8) |
         static_cast<unsigned char>(res[1]);
  return 1;
}

TEST(JisCodeToSjis, AgreesWithIconvOnEveryJisX0208Code) {
  iconv_t cd = iconv_open("SHIFT_JIS", "ISO-2022-JP");
  ASSERT_NE(cd, reinterpret_cast<iconv_t>(-1)) << "no iconv converter";
  long compared = 0, refused = 0, differ = 0;
  for (unsigned hi = 0x21; hi <= 0x7E; hi++) {
    for (unsigned lo = 0x21; lo <= 0x7E; lo++) {
      unsigned want;
      if (!iconv_sjis(cd, hi, lo, &want)) {
        refused++;
        continue;
      }
      compared++;
      int got = jis_code_to_sjis(hi << 8 | lo) & 0xFFFF;
      if (got != static_cast<int>(want)) {
        if (differ++ < 10)
          ADD_FAILURE() << std::hex << "code " << (hi << 8 | lo) << ": got "
                        << got << ", iconv " << want;
      }
    }
  }
  iconv_close(cd);
  std::printf("compared %ld codes with iconv, %ld refused by it\n", compared,
              refused);
  EXPECT_EQ(differ, 0);
  // JIS X 0208 assigns 6879 characters: all of them must have been compared.
  EXPECT_GE(compared, 6879);
}

TEST(VersionTags, NamesItsModule) {
  EXPECT_STREQ(zeb_jis_version, "ZEB_JIS 1.10");
}

}  // namespace
