// Profile access: reading one key, rewriting one key, and the rewrite's
// safety when any step of it fails.
#include <dirent.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <set>
#include <string>

#include "lib/zeb_con.h"
#include "platform/platform.h"
#include "test_support.h"

namespace {


std::set<std::string> list_dir(const std::string &path) {
  std::set<std::string> names;
  DIR *d = opendir(path.c_str());
  if (d == nullptr) return names;
  while (struct dirent *e = readdir(d)) {
    std::string n = e->d_name;
    if (n != "." && n != "..") names.insert(n);
  }
  closedir(d);
  return names;
}

class ProfileTest : public testing::Test {
 protected:
  void TearDown() override { plat_fail_reset(); }
  scratch_dir dir;
};

// ---- reading
// -----------------------------------------------------------------

struct get_case {
  const char *name;
  const char *text;  // NULL: no file
  const char *section;
  const char *key;
  int result;
  const char *value;
};

const std::string long_line(79, 'x');

TEST_F(ProfileTest, GetCases) {
  const std::string pieces =
      "[DIR]\n" + long_line + "K=piece\n";  // the second piece is a key line
  const std::string long_value = "[DIR]\nK=" + std::string(76, 'v') + "\n";
  const get_case cases[] = {
      {"no file", nullptr, "DIR", "K", 0, ""},
      {"plain", "[DIR]\nA=1\nK=v\n", "DIR", "K", 1, "v"},
      {"empty value", "[DIR]\nLOG=\n", "DIR", "LOG", 1, ""},
      {"further =", "[DIR]\nK=a=b=\n", "DIR", "K", 1, "a=b="},
      {"blanks not trimmed", "[DIR]\nLOG = x\n", "DIR", "LOG", 0, ""},
      {"blank key", "[DIR]\nLOG = x\n", "DIR", "LOG ", 1, " x"},
      {"case counts", "[Dir]\nK=v\n", "DIR", "K", 0, ""},
      {"key case counts", "[DIR]\nk=v\n", "DIR", "K", 0, ""},
      {"no section", "[OPT]\nK=v\n", "DIR", "K", 0, ""},
      {"before any header", "K=v\n[DIR]\n", "DIR", "K", 0, ""},
      {"header with trailer", "[DIR] ; paths\nK=v\n", "DIR", "K", 1, "v"},
      {"first section only", "[DIR]\nA=1\n[X]\n[DIR]\nK=v\n", "DIR", "K", 0,
       ""},
      {"first key only", "[DIR]\nK=1\nK=2\n", "DIR", "K", 1, "1"},
      {"comment keeps section", "[DIR]\n;[OPTION]\nK=v\n", "DIR", "K", 1, "v"},
      {"comment key", "[DIR]\n;K=c\nK=v\n", "DIR", "K", 1, "v"},
      {"comment header", ";[DIR]\nK=c\n[DIR]\nK=v\n", "DIR", "K", 1, "v"},
      {"broken header ends", "[DIR]\n[broken\nK=v\n", "DIR", "K", 0, ""},
      {"broken header outside", "[broken\n[DIR]\nK=v\n", "DIR", "K", 1, "v"},
      {"last line unended", "[DIR]\nLAST_TIME=1997/05/01 10:30", "DIR",
       "LAST_TIME", 1, "1997/05/01 10:30"},
      {"bare LF lines", "[DIR]\nK=v\n", "DIR", "K", 1, "v"},
      {"long line in pieces", pieces.c_str(), "DIR", "K", 1, "piece"},
      {"value filling a line", long_value.c_str(), "DIR", "K", 1,
       long_value.c_str() + 8},
      {"empty section name", "[]\nK=v\n", "", "K", 1, "v"},
  };
  for (const get_case &c : cases) {
    SCOPED_TRACE(c.name);
    if (c.text != nullptr) {
      std::string t = c.text;
      bool lf = std::strcmp(c.name, "bare LF lines") == 0;
      write_host_file("P.INI", lf ? t : crlf(t));
    } else {
      remove("P.INI");
    }
    char value[80];
    std::strcpy(value, "default");  // lost whenever the key is absent
    EXPECT_EQ(profile_get("P.INI", c.section, c.key, value), c.result);
    std::string want = c.value;
    if (!want.empty() && want.back() == '\n') want.pop_back();
    EXPECT_EQ(std::string(value), want);
  }
}

TEST_F(ProfileTest, GetStopsAtControlZ) {
  write_host_file("P.INI",
                  "[DIR]\r\n\x1a"
                  "K=v\r\n");
  char value[80];
  EXPECT_EQ(profile_get("P.INI", "DIR", "K", value), 0);
}

// ---- rewriting
// -----------------------------------------------------------------

struct put_case {
  const char *name;
  const char *before;  // NULL: no file
  const char *section;
  const char *key;
  const char *value;
  const char *after;
};

const put_case put_cases[] = {
    {"no file", nullptr, "DIR", "K", "v", "[DIR]\nK=v\n"},
    {"other value in place", "[DIR]\nA=1\nK=old\nB=2\n", "DIR", "K", "new",
     "[DIR]\nA=1\nK=new\nB=2\n"},
    {"empty value in place", "[DIR]\nLOG=\nX=1\n", "DIR", "LOG", "1",
     "[DIR]\nLOG=1\nX=1\n"},
    {"second key line kept", "[DIR]\nK=1\nK=2\n", "DIR", "K", "x",
     "[DIR]\nK=x\nK=2\n"},
    {"before next header",
     "[DOS32]\nDIR=DIR\n[DIR]\nOUTDIR=D:\\WEB\n\n[OPTION]\nSHIFTJIS=1\n", "DIR",
     "LAST_TIME", "1997/05/01 10:30",
     "[DOS32]\nDIR=DIR\n[DIR]\nOUTDIR=D:\\WEB\n\nLAST_TIME=1997/05/01 "
     "10:30\n[OPTION]\nSHIFTJIS=1\n"},
    {"section to the end", "[X]\nA=1\n[DIR]\nA=1\n", "DIR", "K", "v",
     "[X]\nA=1\n[DIR]\nA=1\nK=v\n"},
    {"no such section", "[X]\nA=1\n", "DIR", "K", "v",
     "[X]\nA=1\n\n[DIR]\nK=v\n"},
    {"no section, last line empty", "[X]\nA=1\n\n", "DIR", "K", "v",
     "[X]\nA=1\n\n\n[DIR]\nK=v\n"},
    {"empty file", "", "DIR", "K", "v", "\n[DIR]\nK=v\n"},
    {"section twice", "[DIR]\nA=1\n[OPT]\n[DIR]\nK=old\n", "DIR", "K", "new",
     "[DIR]\nA=1\nK=new\n[OPT]\n[DIR]\nK=old\n"},
    {"header right after header", "[DIR]\n[DIR2]\nA=1\n", "DIR", "K", "v",
     "[DIR]\nK=v\n[DIR2]\nA=1\n"},
    {"comment header inside", "[DIR]\n;[OPTION]\nA=1\n", "DIR", "K", "v",
     "[DIR]\n;[OPTION]\nA=1\nK=v\n"},
    {"comment key inside", "[DIR]\n;K=1\n[X]\n", "DIR", "K", "v",
     "[DIR]\n;K=1\nK=v\n[X]\n"},
    {"broken header ends section", "[DIR]\nA=1\n[broken\nK=1\n", "DIR", "K",
     "v", "[DIR]\nA=1\nK=v\n[broken\nK=1\n"},
    {"broken header outside", "[broken\n[DIR]\nK=1\n", "DIR", "K", "v",
     "[broken\n[DIR]\nK=v\n"},
    {"blanks around =", "[DIR]\nK = 1\n", "DIR", "K", "v",
     "[DIR]\nK = 1\nK=v\n"},
    {"case of section", "[Dir]\nK=1\n", "DIR", "K", "v",
     "[Dir]\nK=1\n\n[DIR]\nK=v\n"},
    {"key before any header", "K=1\n[DIR]\n", "DIR", "K", "v",
     "K=1\n[DIR]\nK=v\n"},
    {"header with trailer", "[DIR] ; paths\nA=1\n", "DIR", "K", "v",
     "[DIR] ; paths\nA=1\nK=v\n"},
    // A last line without its line end gets one before the key line.
    {"unended last line, section", "[DIR]\nA=1", "DIR", "K", "v",
     "[DIR]\nA=1\nK=v\n"},
    {"unended last line, no section", "[X]\nA=1", "DIR", "K", "v",
     "[X]\nA=1\n\n[DIR]\nK=v\n"},
    {"unended key line replaced", "[DIR]\nK=1", "DIR", "K", "v",
     "[DIR]\nK=v\n"},
    {"unended header after section", "[DIR]\nA=1\n[X]", "DIR", "K", "v",
     "[DIR]\nA=1\nK=v\n[X]"},
    {"unended header of the section", "[DIR]", "DIR", "K", "v", "[DIR]\nK=v\n"},
};

TEST_F(ProfileTest, PutCases) {
  for (const put_case &c : put_cases) {
    SCOPED_TRACE(c.name);
    remove("P.INI");
    if (c.before != nullptr) write_host_file("P.INI", crlf(c.before));
    profile_put("P.INI", c.section, c.key, c.value);
    EXPECT_EQ(read_host_file("P.INI"), crlf(c.after));
    EXPECT_EQ(list_dir("."), std::set<std::string>{"P.INI"});
    // What was written reads back.
    char value[80];
    EXPECT_EQ(profile_get("P.INI", c.section, c.key, value), 1);
    EXPECT_STREQ(value, c.value);
  }
}

TEST_F(ProfileTest, PutCarriesLongLinesWhole) {
  const std::string comment = ";" + std::string(150, 'c');
  const std::string other = "X=" + std::string(200, 'y');
  write_host_file("P.INI", crlf("[DIR]\n" + comment + "\nK=1\n" + other +
                                "\n[OPT]\n" + other + "\n"));
  profile_put("P.INI", "DIR", "K", "2");
  EXPECT_EQ(read_host_file("P.INI"), crlf("[DIR]\n" + comment + "\nK=2\n" +
                                          other + "\n[OPT]\n" + other + "\n"));
  // The section runs on past the long line: the new key goes before [OPT].
  profile_put("P.INI", "DIR", "NEW", "n");
  EXPECT_EQ(read_host_file("P.INI"),
            crlf("[DIR]\n" + comment + "\nK=2\n" + other + "\nNEW=n\n[OPT]\n" +
                 other + "\n"));
}

TEST_F(ProfileTest, PutReadsBareLineFeeds) {
  write_host_file("P.INI", "[DIR]\nK=1\n[OPT]\nA=2\n");
  profile_put("P.INI", "DIR", "K", "3");
  EXPECT_EQ(read_host_file("P.INI"), crlf("[DIR]\nK=3\n[OPT]\nA=2\n"));
}

TEST_F(ProfileTest, SameValueWritesNothing) {
  const std::string bytes = crlf("[DIR]\nA=1\nK=v\n");
  write_host_file("P.INI", bytes);
  const int64_t old_time = utc_seconds(1999, 1, 2, 3, 4, 5);
  set_host_file_time("P.INI", old_time);
  plat_fail_reset();
  profile_put("P.INI", "DIR", "K", "v");
  EXPECT_EQ(read_host_file("P.INI"), bytes);
  EXPECT_EQ(host_file_mtime("P.INI"), old_time);
  EXPECT_EQ(list_dir("."), std::set<std::string>{"P.INI"});
  EXPECT_EQ(plat_op_count(PLAT_OP_WRITE), 0);
  EXPECT_EQ(plat_op_count(PLAT_OP_RENAME), 0);
}

TEST_F(ProfileTest, TemporaryFileBesideTheProfile) {
  make_host_dir("SUB");
  write_host_file("SUB/P.INI", crlf("[DIR]\nK=1\n"));
  // A leftover of the old temporary file in the current directory goes.
  write_host_file("ZEB_LIB.TMP", "old run");
  plat_fail_reset();
  profile_put("SUB\\P.INI", "DIR", "K", "2");
  EXPECT_EQ(read_host_file("SUB/P.INI"), crlf("[DIR]\nK=2\n"));
  EXPECT_EQ(list_dir("."), std::set<std::string>{"SUB"});
  EXPECT_EQ(list_dir("SUB"), std::set<std::string>{"P.INI"});
  // The new content was put in place whole, by one rename in SUB.
  EXPECT_EQ(plat_op_count(PLAT_OP_RENAME), 1);
}

TEST_F(ProfileTest, UnreadableProfileLeftAlone) {
  // A directory in the profile's place exists but does not open as a file.
  make_host_dir("P.INI");
  profile_put("P.INI", "DIR", "K", "v");
  EXPECT_EQ(list_dir("P.INI"), std::set<std::string>{});
  EXPECT_EQ(list_dir("."), std::set<std::string>{"P.INI"});
}

// ---- failures at every step
// ----------------------------------------------------

struct fault_kind {
  const char *name;
  int op;
  int persist;
};

const fault_kind fault_kinds[] = {
    {"open", PLAT_OP_OPEN, 0},           {"open from n on", PLAT_OP_OPEN, 1},
    {"write", PLAT_OP_WRITE, 0},         {"write from n on", PLAT_OP_WRITE, 1},
    {"rename", PLAT_OP_RENAME, 0},       {"read", PLAT_OP_READ, 0},
    {"read from n on", PLAT_OP_READ, 1},
};

TEST_F(ProfileTest, FailureLeavesOldOrNewProfile) {
  // A profile big enough to need several writes, and one without a file.
  std::string big = "[DOS32]\nDIR=DIR\n[DIR]\nK=old\n[OPTION]\n";
  for (int i = 0; i < 400; i++) big += "KEY" + std::to_string(i) + "=1\n";
  const char *befores[] = {"[DIR]\nA=1\nK=old\n[OPT]\nB=2\n", big.c_str(),
                           nullptr};
  for (const char *before : befores) {
    remove("P.INI");
    if (before != nullptr) write_host_file("P.INI", crlf(before));
    profile_put("P.INI", "DIR", "K", "new");
    const std::string new_bytes = read_host_file("P.INI");
    const std::string old_bytes = before ? crlf(before) : "";
    ASSERT_NE(new_bytes, old_bytes);

    for (const fault_kind &k : fault_kinds) {
      int kept_old = 0;
      for (long n = 1; n < 100; n++) {
        SCOPED_TRACE(
            testing::Message()
            << k.name << " n=" << n << " file "
            << (before ? std::to_string(std::strlen(before)) : "none"));
        remove("P.INI");
        if (before != nullptr) write_host_file("P.INI", old_bytes);
        plat_fail_reset();
        plat_fail_nth(k.op, n, EIO, k.persist);
        profile_put("P.INI", "DIR", "K", "new");
        long calls = plat_op_count(k.op);
        plat_fail_reset();
        const bool present = host_file_exists("P.INI");
        const std::string now = read_host_file("P.INI");
        if (before == nullptr && !present) {
          kept_old++;
        } else if (now == old_bytes && present) {
          kept_old++;
        } else {
          EXPECT_EQ(now, new_bytes);
        }
        std::set<std::string> left = list_dir(".");
        left.erase("P.INI");
        EXPECT_EQ(left, std::set<std::string>{});
        if (calls < n) break;  // the fault was never reached
      }
      // Every kind of fault must have stopped the rewrite at least once;
      // without a profile there is nothing to read.
      if (k.op != PLAT_OP_READ || before != nullptr) {
        EXPECT_GT(kept_old, 0) << k.name;
      }
    }
  }
}

TEST(VersionTags, NamesItsModule) {
  EXPECT_STREQ(zeb_con_version, "ZEB_CON 1.22");
}

}  // namespace
