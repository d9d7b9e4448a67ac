// The line converter: JIS, EUC and Shift-JIS in, Shift-JIS out, with exact
// output lengths and no access past the buffers (checked under ASan by
// exact-size heap buffers).
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>
#include <string>

#include "src/entry/entry.h"

namespace {

std::string hex(const std::string &bytes) {
  static const char digits[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : bytes) {
    if (!out.empty()) out += ' ';
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}

struct converted {
  std::string bytes;  // the output bytes counted by the length
  unsigned length;
  bool terminated;  // a NUL right after them
};

// Converts input in buffers of exactly the size the contract names: the
// input with its NUL, the output of length+2 bytes.
converted convert(const std::string &input) {
  const size_t n = input.size();
  std::unique_ptr<char[]> in(new char[n + 1]);
  std::memcpy(in.get(), input.data(), n);
  in[n] = '\0';
  std::unique_ptr<char[]> out(new char[n + 2]);
  std::memset(out.get(), 0x55, n + 2);
  unsigned length = static_cast<unsigned>(n);
  jis_to_sjis(in.get(), out.get(), &length);
  converted r;
  r.length = length;
  r.bytes.assign(out.get(), length <= n + 1 ? length : n + 1);
  r.terminated = length <= n + 1 && out[length] == '\0';
  return r;
}

struct jis_case {
  const char *what;
  std::string input;
  std::string output;
};

const std::string NUL(1, '\0');

const jis_case jis_cases[] = {
    {"new JIS closed by ESC ( B", "\x1b$B\x30\x21\x1b(BA",
     "\x88\x9f"
     "A"},
    {"old JIS closed by ESC ( H", "\x1b$@\x30\x21\x1b(HA",
     "\x88\x9f"
     "A"},
    {"ESC ( B does not close old JIS", "\x1b$@\x30\x21\x1b(BA",
     "\x88\x9f\x7e\x47\x91\xbf"},
    {"ESC ( H does not close new JIS", "\x1b$B\x30\x21\x1b(HA",
     "\x88\x9f\x7e\x47\x94\xbf"},
    {"ESC ( J closes new JIS", "\x1b$B\x30\x21\x1b(JA",
     "\x88\x9f"
     "A"},
    {"ESC ( J closes old JIS", "\x1b$@\x30\x21\x1b(JA",
     "\x88\x9f"
     "A"},
    {"last JIS code", "\x1b$B\x7e\x7e", "\xef\xfc"},
    {"EUC character", "\xb0\xa1", "\x88\x9f"},
    {"Shift-JIS character stays", "\x88\x9f", "\x88\x9f"},
    {"half-width then ASCII stays",
     "\xb6"
     "A",
     "\xb6"
     "A"},
    {"two half-width taken for EUC", "\xb6\xc0", "\x8b\xbe"},
    {"half-width DF before A1 taken for EUC", "\xdf\xa1", "\xe0\x40"},
    {"Shift-JIS E0 A1 taken for EUC", "\xe0\xa1", "\xe0\x9f"},
    {"Shift-JIS E0 40 stays", "\xe0\x40", "\xe0\x40"},
    {"EUC half-width stays", "\x8e\xb6", "\x8e\xb6"},
    {"ESC ( B in single-byte mode stays", "\x1b(BA", "\x1b(BA"},
    {"A0 A0 stays",
     "\xa0\xa0"
     "A",
     "\xa0\xa0"
     "A"},
    {"A0 A1 is EUC", "\xa0\xa1", "\x80\x9f"},
    {"80 is a single byte",
     "\x80"
     "A",
     "\x80"
     "A"},
    {"ASCII and line ends stay", "a<b>\r\n", "a<b>\r\n"},
    {"JIS mode open at the line end maps LF with the NUL", "\x1b$B\x30\x21\n",
     "\x88\x9f\x75\x7e"},
    {"lead byte last takes the NUL", "A\x88", "A\x88" + NUL},
    {"E0 lead byte last takes the NUL", "A\xe0", "A\xe0" + NUL},
    {"EUC-range byte last is a single byte", "A\xb0", "A\xb0"},
    {"escape cut at the end is copied", "A\x1b$", "A\x1b$"},
    {"escape at the very end only opens the mode", "A\x1b$B", "A"},
    {"NUL inside the counted bytes is copied", "A" + NUL + "B",
     "A" + NUL + "B"},
    {"empty input", "", ""},
    // "<TITLE>日本語のページ</TITLE>" in the three codings.
    {"JIS sentence",
     "<TITLE>\x1b$B\x46\x7c\x4b\x5c\x38\x6c\x24\x4e\x25\x5a\x21\x3c\x25\x38"
     "\x1b(B</TITLE>",
     "<TITLE>\x93\xfa\x96\x7b\x8c\xea\x82\xcc\x83\x79\x81\x5b\x83\x57"
     "</TITLE>"},
    {"EUC sentence",
     "<TITLE>\xc6\xfc\xcb\xdc\xb8\xec\xa4\xce\xa5\xda\xa1\xbc\xa5\xb8"
     "</TITLE>",
     "<TITLE>\x93\xfa\x96\x7b\x8c\xea\x82\xcc\x83\x79\x81\x5b\x83\x57"
     "</TITLE>"},
    {"Shift-JIS sentence stays",
     "<TITLE>\x93\xfa\x96\x7b\x8c\xea\x82\xcc\x83\x79\x81\x5b\x83\x57"
     "</TITLE>",
     "<TITLE>\x93\xfa\x96\x7b\x8c\xea\x82\xcc\x83\x79\x81\x5b\x83\x57"
     "</TITLE>"},
};

TEST(JisToSjis, CaseTable) {
  for (const jis_case &c : jis_cases) {
    SCOPED_TRACE(c.what);
    converted r = convert(c.input);
    EXPECT_EQ(hex(c.output), hex(r.bytes));
    EXPECT_EQ(c.output.size(), r.length);
    EXPECT_TRUE(r.terminated);
  }
}

TEST(JisToSjis, ModeDoesNotCarryIntoTheNextCall) {
  // A JIS mode left open by one line: the next line starts single-byte.
  converted first = convert("\x1b$B\x30\x21");
  EXPECT_EQ("88 9F", hex(first.bytes));
  converted second = convert("\x30\x21");
  EXPECT_EQ("30 21", hex(second.bytes));
}

TEST(JisToSjis, ConvertsOnlyTheCountedBytes) {
  // The bytes after the length are left alone, but for the one that a
  // two-byte unit in the last counted byte takes.
  char in[] = "A\x1b$B\x30\x21";
  char out[16];
  unsigned length = 1;
  jis_to_sjis(in, out, &length);
  EXPECT_EQ(1u, length);
  EXPECT_STREQ("A", out);
}

TEST(JisToSjis, RandomInputStaysWithinTheBuffers) {
  // Mixed escapes, high bytes and controls: the output is at most one byte
  // longer than the input, always terminated, and ASan sees no access past
  // the exact-size buffers.
  std::mt19937 rng(20240601);
  const unsigned char alphabet[] = {0x1b, '$',  'B',  '@',  '(',  'J',  'H',
                                    0x21, 0x7e, 0x0a, 0x80, 0x81, 0x9f, 0xa0,
                                    0xa1, 0xdf, 0xe0, 0xfc, 0xff};
  for (int round = 0; round < 3000; round++) {
    std::string input(rng() % 40, '\0');
    for (char &ch : input)
      ch = static_cast<char>(alphabet[rng() % sizeof alphabet]);
    converted r = convert(input);
    ASSERT_LE(r.length, input.size() + 1) << hex(input);
    ASSERT_TRUE(r.terminated) << hex(input);
  }
}

struct cut_case {
  const char *what;
  std::string input;
  unsigned size;
  std::string output;
};

TEST(JisToSjisCut, StopsAtTheOutputSize) {
  const cut_case cases[] = {
      {"room for all", "A\x88", 4, "A\x88" + NUL},
      {"the paired NUL cut", "A\x88", 3, "A\x88"},
      {"a mapped pair cut in its middle", "\x1b$B\x30\x21\x30\x21", 4,
       "\x88\x9f\x88"},
      {"one byte of room is only the NUL", "ABC", 1, ""},
  };
  for (const cut_case &c : cases) {
    SCOPED_TRACE(c.what);
    std::unique_ptr<char[]> in(new char[c.input.size() + 1]);
    std::memcpy(in.get(), c.input.data(), c.input.size());
    in[c.input.size()] = '\0';
    std::unique_ptr<char[]> out(new char[c.size]);
    unsigned length = static_cast<unsigned>(c.input.size());
    jis_to_sjis_cut(in.get(), out.get(), &length, c.size);
    EXPECT_EQ(c.output.size(), length);
    EXPECT_EQ(hex(c.output), hex(std::string(out.get(), length)));
    EXPECT_EQ('\0', out[length]);
  }
}

}  // namespace
