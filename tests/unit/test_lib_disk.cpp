// File system helpers and the packed date: existence tests, directory part,
// directory search, directory creation (also under the file's time), and the
// dos_datetime values from the clock and from files.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <utility>

#include "lib/zeb_dsk.h"
#include "platform/platform.h"
#include "test_support.h"

namespace {

// ---- packing
// -----------------------------------------------------------------

struct clock_case {
  const char *tz;
  int64_t utc;  // seconds since 1970
  unsigned year_field, month, day, hour, minute, second;
};

TEST(DosTimeNow, PacksTheProgramClock) {
  const clock_case cases[] = {
      {"UTC0", utc_seconds(1997, 5, 1, 10, 30, 45), 17, 5, 1, 10, 30, 44},
      {"UTC0", utc_seconds(2000, 1, 1, 0, 0, 0), 20, 1, 1, 0, 0, 0},
      {"UTC0", utc_seconds(2079, 12, 31, 23, 59, 59), 99, 12, 31, 23, 59, 58},
      {"UTC0", utc_seconds(2080, 1, 1, 0, 0, 1), 0, 1, 1, 0, 0, 0},
      {"UTC0", utc_seconds(1980, 1, 1, 0, 0, 0), 0, 1, 1, 0, 0, 0},
      // local time, not UTC: 01:30 UTC is 10:30 nine hours east
      {"JST-9", utc_seconds(1997, 5, 1, 1, 30, 45), 17, 5, 1, 10, 30, 44},
      {"JST-9", utc_seconds(1999, 12, 31, 15, 0, 0), 20, 1, 1, 0, 0, 0},
  };
  for (const clock_case &c : cases) {
    tz_guard tz(c.tz);
    set_fake_now(c.utc * 1000 + 999);
    dos_datetime t = 0xFFFFFFFFu;  // every field is overwritten
    dos_time_now(&t);
    restore_real_clock();
    SCOPED_TRACE(testing::Message() << c.tz << " " << c.utc);
    EXPECT_EQ(dos_year_field(t), c.year_field);
    EXPECT_EQ(dos_month(t), c.month);
    EXPECT_EQ(dos_day(t), c.day);
    EXPECT_EQ(dos_hour(t), c.hour);
    EXPECT_EQ(dos_minute(t), c.minute);
    EXPECT_EQ(dos_second(t), c.second);
  }
}

TEST(DosPack, LayoutAndOrder) {
  // 1997-05-01 10:30:45: 17/5/1/10/30/22 in the six fields.
  EXPECT_EQ(dos_pack(1997, 5, 1, 10, 30, 45), (17u << 25) | (5u << 21) |
                                                  (1u << 16) | (10u << 11) |
                                                  (30u << 5) | 22u);
  EXPECT_EQ(dos_pack(1997, 5, 1, 10, 30, 45), 0x22A153D6u);
  // Within 1980 to 2079 the values compare in time order.
  EXPECT_LT(dos_pack(1999, 12, 31, 23, 59, 59), dos_pack(2000, 1, 1, 0, 0, 0));
  EXPECT_LT(dos_pack(2000, 1, 1, 0, 0, 0), dos_pack(2000, 1, 1, 0, 0, 2));
  EXPECT_LT(dos_pack(1980, 1, 1, 0, 0, 0), dos_pack(2079, 12, 31, 0, 0, 0));
  // Out-of-range fields are masked, never spill into the next field.
  EXPECT_EQ(dos_pack(2000, 16 + 3, 32 + 4, 32 + 5, 64 + 6, 64 + 14),
            dos_pack(2000, 3, 4, 5, 6, 14));
}

// ---- scratch fixture
// ----------------------------------------------------------

class DiskTest : public testing::Test {
 protected:
  void TearDown() override {
    // The search state is process-wide: no search may stay open on a folder
    // that is about to be removed.
    dir_search("NO-SUCH-FOLDER\\*", nullptr, 0);
    unsetenv("VELDOR_DRIVE_Q");
    restore_real_clock();
    plat_fail_reset();
  }
  scratch_dir dir;
};

TEST(DosTimeText, ToTheMinuteWithTheFullYear) {
  struct {
    dos_datetime t;
    const char *text;
  } cases[] = {
      {dos_pack(1997, 5, 5, 9, 7, 58), "1997/05/05 09:07"},
      {0, "1980/00/00 00:00"},
      // the widest value: year field 127, every field at its top
      {(127u << 25) | (15u << 21) | (31u << 16) | (31u << 11) | (63u << 5),
       "2107/15/31 31:63"},
  };
  for (const auto &c : cases) {
    char text[DOS_TIME_TEXT_SIZE + 1];
    std::memset(text, 'Z', sizeof text);
    dos_time_text(c.t, text);
    EXPECT_STREQ(text, c.text);
    EXPECT_EQ(text[DOS_TIME_TEXT_SIZE], 'Z');  // nothing past the field
  }
}

TEST_F(DiskTest, DosTimeFileIsLocalLastWriteTime) {
  write_host_file("F.DAT", "x");
  set_host_file_time("F.DAT", utc_seconds(2001, 2, 3, 12, 0, 7));
  {
    tz_guard tz("JST-9");
    dos_datetime t = 0xFFFFFFFFu;
    dos_time_file("F.DAT", &t);
    EXPECT_EQ(t, dos_pack(2001, 2, 3, 21, 0, 7));
    EXPECT_EQ(dos_hour(t), 21u);
  }
  {
    tz_guard tz("UTC0");
    dos_datetime t = 0;
    dos_time_file("F.DAT", &t);
    EXPECT_EQ(t, dos_pack(2001, 2, 3, 12, 0, 6));
  }
  dos_datetime t = 0x12345678u;
  dos_time_file("MISSING.DAT", &t);
  EXPECT_EQ(t, 0u);
}

TEST_F(DiskTest, FileExistsAndDirOrDrive) {
  write_host_file("F.TXT", "x");
  make_host_dir("D");
  struct {
    const char *path;
    int exists, dir_or_drive;
  } cases[] = {
      {"F.TXT", 1, 0}, {"D", 0, 1},     {"MISSING", 0, 0}, {"Q:", 0, 1},
      {"q:", 0, 1},    {"Q:X", 0, 0},   {"1:", 0, 0},      {"", 0, 0},
      {"D\\", 0, 1},   {"D\\NO", 0, 0},
  };
  for (const auto &c : cases) {
    EXPECT_EQ(file_exists(c.path), c.exists) << c.path;
    EXPECT_EQ(is_dir_or_drive(c.path), c.dir_or_drive) << c.path;
  }
}

TEST(PathDirPart, Cases) {
  struct {
    const char *path;
    const char *dir;
    int result;
  } cases[] = {
      {"C:\\A\\B", "C:\\A", 1},
      {"C:\\B", "C:\\", 1},
      {"\\B", "\\", 1},
      {"C:B", "C:", 1},
      {"B", "", 0},
      {"", "", 0},
      {"A\\B\\C\\", "A\\B\\C", 1},
      {"a:b:c", "a:b:", 1},
      // a slash separates as on the host; a trail byte 5C does not
      {"SUB/x.dat", "SUB/", 1},
      {"/tmp/cache/", "/tmp/cache", 1},
      {"D\\\x83\x5C\\F", "D\\\x83\x5C", 1},
      {"\x83\x5C", "", 0},
      // a slash is no trail byte: after a lead byte it still separates
      {"A\\\x83/B", "A\\\x83", 1},
  };
  for (const auto &c : cases) {
    char out[260];
    std::memset(out, 'Z', sizeof out);
    EXPECT_EQ(path_dir_part(c.path, out), c.result) << c.path;
    EXPECT_STREQ(out, c.dir) << c.path;
  }
}

TEST(PathDirPart, LongPathStaysInTheBuffer) {
  std::string p(400, 'x');
  p[50] = '\\';
  p[100] = '\\';
  struct {
    char out[260];
    char guard[32];
  } b;
  std::memset(&b, 'Z', sizeof b);
  EXPECT_EQ(path_dir_part(p.c_str(), b.out), 1);
  EXPECT_EQ(std::strlen(b.out), 100u);
  for (char g : b.guard) EXPECT_EQ(g, 'Z');
}

// ---- directory search
// -----------------------------------------------------------

typedef std::set<std::pair<std::string, int>> entry_set;

// Calls dir_search until it gives -1; the entries it gave, once each.
entry_set search_all(const char *pattern, int flags) {
  entry_set got;
  for (int i = 0; i < 100; i++) {
    char out[260];
    int r = dir_search(pattern, out, flags);
    if (r == -1) {
      EXPECT_STREQ(out, "");
      return got;
    }
    EXPECT_TRUE(got.insert({out, r}).second) << "given twice: " << out;
  }
  ADD_FAILURE() << "search does not end";
  return got;
}

class SearchTest : public DiskTest {
 protected:
  void SetUp() override {
    make_host_dir("DATA/SUB");
    make_host_dir("DATA/.HID");
    write_host_file("DATA/A.DAT", "a");
    write_host_file("DATA/B.DAT", "b");
    write_host_file("DATA/C.TXT", "c");
    write_host_file("DATA/.F", "f");
    write_host_file("R.TXT", "r");
  }
};

TEST_F(SearchTest, EveryMatchOnceThenEndThenAgain) {
  entry_set want = {{"DATA\\A.DAT", 1}, {"DATA\\B.DAT", 1}};
  char first[260];
  ASSERT_EQ(dir_search("DATA\\*.DAT", first, 0), 1);
  entry_set got = {{first, 1}};
  char out[260];
  ASSERT_EQ(dir_search("DATA\\*.DAT", out, 0), 1);
  got.insert({out, 1});
  EXPECT_EQ(got, want);
  std::strcpy(out, "junk");
  EXPECT_EQ(dir_search("DATA\\*.DAT", out, 0), -1);
  EXPECT_STREQ(out, "");
  // The call after the end starts anew.
  EXPECT_EQ(dir_search("DATA\\*.DAT", out, 0), 1);
  EXPECT_STREQ(out, first);
}

TEST_F(SearchTest, DotDirectoriesOnlyWithFlagFour) {
  entry_set plain = {{"DATA\\SUB", 2},
                     {"DATA\\A.DAT", 1},
                     {"DATA\\B.DAT", 1},
                     {"DATA\\C.TXT", 1},
                     {"DATA\\.F", 1}};  // a dot file is a file
  EXPECT_EQ(search_all("DATA\\*", 0), plain);
  EXPECT_EQ(search_all("DATA\\*", 1 | 2 | 8), plain);  // only bit 4 counts
  entry_set dots = plain;
  dots.insert({"DATA\\.", 4});
  dots.insert({"DATA\\..", 4});
  dots.insert({"DATA\\.HID", 4});
  EXPECT_EQ(search_all("DATA\\*", 4), dots);
}

TEST_F(SearchTest, PatternChangeRestarts) {
  char first[260], out[260];
  ASSERT_EQ(dir_search("DATA\\*.DAT", first, 0), 1);
  ASSERT_EQ(dir_search("DATA\\*.TXT", out, 0), 1);
  EXPECT_STREQ(out, "DATA\\C.TXT");
  // Back to the first pattern: its search begins again from the top.
  entry_set got = search_all("DATA\\*.DAT", 0);
  EXPECT_EQ(got, (entry_set{{"DATA\\A.DAT", 1}, {"DATA\\B.DAT", 1}}));
}

TEST_F(SearchTest, PathForms) {
  char out[260];
  EXPECT_EQ(dir_search("*.TXT", out, 0), 1);
  EXPECT_STREQ(out, "R.TXT");  // no directory part: the bare name
  EXPECT_EQ(dir_search("*.TXT", out, 0), -1);
  EXPECT_EQ(dir_search("DATA\\C.TXT", nullptr, 0), 1);  // no output wanted
  EXPECT_EQ(dir_search("DATA\\C.TXT", nullptr, 0), -1);
  std::strcpy(out, "junk");
  EXPECT_EQ(dir_search("NOPE\\*.TXT", out, 0), -1);
  EXPECT_STREQ(out, "");
  EXPECT_EQ(dir_search("DATA\\*.NONE", out, 0), -1);

  // A drive root and a bare drive: the result names the entry and opens.
  setenv("VELDOR_DRIVE_Q", (dir.path() + "/DATA").c_str(), 1);
  EXPECT_EQ(dir_search("Q:\\*.TXT", out, 0), 1);
  EXPECT_STREQ(out, "Q:\\C.TXT");
  EXPECT_EQ(file_exists(out), 1);
  EXPECT_EQ(dir_search("Q:*.TXT", out, 0), 1);
  EXPECT_STREQ(out, "Q:C.TXT");
  EXPECT_EQ(file_exists(out), 1);
}

// ---- directory creation
// ---------------------------------------------------------

TEST_F(DiskTest, MakeDirsCreatesTheChain) {
  make_host_dir("OUT");
  EXPECT_EQ(make_dirs("OUT\\A\\B"), 0);
  EXPECT_TRUE(plat_is_dir("OUT\\A"));
  EXPECT_TRUE(plat_is_dir("OUT\\A\\B"));
  EXPECT_EQ(make_dirs("OUT\\A\\B"), -1);  // nothing left to create
  EXPECT_EQ(make_dirs("X\\Y\\Z"), 0);
  EXPECT_TRUE(plat_is_dir("X\\Y\\Z"));
  EXPECT_EQ(make_dirs("S/T/U"), 0);
  EXPECT_TRUE(plat_is_dir("S\\T\\U"));
  // A double-byte name whose second byte is 5C is one level, not two.
  EXPECT_EQ(make_dirs("OUT\\\x83\x5C\\V"), 0);
  EXPECT_TRUE(host_file_exists("OUT/\x83\x5C/V"));
  EXPECT_FALSE(host_file_exists("OUT/\x83"));
  // A trailing backslash creates the directory at it; the final creation
  // then fails.
  EXPECT_EQ(make_dirs("OUT\\C\\"), -1);
  EXPECT_TRUE(plat_is_dir("OUT\\C"));
  // An absolute path starts with an empty part.
  std::string abs = dir.program_path() + "\\ABS\\D";
  EXPECT_EQ(make_dirs(abs.c_str()), 0);
  EXPECT_TRUE(host_file_exists(dir.path() + "/ABS/D"));
  // A drive is left alone and what is below it made.
  make_host_dir("DRV");
  setenv("VELDOR_DRIVE_Q", (dir.path() + "/DRV").c_str(), 1);
  EXPECT_EQ(make_dirs("Q:\\E\\F"), 0);
  EXPECT_TRUE(host_file_exists(dir.path() + "/DRV/E/F"));
}

TEST_F(DiskTest, MakeDirsWithAFileInTheWay) {
  make_host_dir("OUT");
  write_host_file("OUT/F", "keep");
  EXPECT_EQ(make_dirs("OUT\\F\\X\\Y"), -1);
  EXPECT_EQ(read_host_file("OUT/F"), "keep");
  EXPECT_FALSE(host_file_exists("OUT/F/X"));
  EXPECT_EQ(make_dirs("OUT\\F"), -1);
}

TEST_F(DiskTest, MakeDirsRefusesAPathThatDoesNotFit) {
  std::string p = "LONG\\" + std::string(300, 'x');
  EXPECT_EQ(make_dirs(p.c_str()), -1);
  EXPECT_FALSE(host_file_exists("LONG"));
}

bool same_time(const plat_systime &a, const plat_systime &b) {
  return a.year == b.year && a.month == b.month && a.day == b.day &&
         a.hour == b.hour && a.minute == b.minute && a.second == b.second &&
         a.millisecond == b.millisecond;
}

TEST_F(DiskTest, MakeDirsTimedStampsTheFileTime) {
  tz_guard tz("JST-9");
  const int64_t file_time = utc_seconds(1996, 12, 24, 9, 0, 0);
  const int64_t now = utc_seconds(2005, 6, 7, 8, 9, 10);
  write_host_file("F.DAT", "x");
  set_host_file_time("F.DAT", file_time);
  make_host_dir("OUT");
  set_fake_now(now * 1000 + 250);
  plat_systime before, after;
  plat_local_time(&before);
  make_dirs_timed("OUT\\T\\U", "F.DAT");
  plat_local_time(&after);
  EXPECT_TRUE(plat_is_dir("OUT\\T\\U"));
  EXPECT_EQ(host_file_mtime("OUT/T"), file_time);
  EXPECT_EQ(host_file_mtime("OUT/T/U"), file_time);
  EXPECT_TRUE(same_time(before, after))
      << before.hour << ":" << before.minute << " vs " << after.hour << ":"
      << after.minute;
  // Directories made afterwards get the program's own time again.
  EXPECT_EQ(make_dirs("OUT\\V"), 0);
  EXPECT_NE(host_file_mtime("OUT/V"), file_time);
}

TEST_F(DiskTest, MakeDirsTimedWithoutTheFileLeavesTheClock) {
  tz_guard tz("UTC0");
  const int64_t now = utc_seconds(2005, 6, 7, 8, 9, 10);
  const int64_t set = utc_seconds(2003, 3, 3, 3, 3, 3);
  set_fake_now(now * 1000);
  // The program clock stands away from its source, so that a directory
  // made now bears the program time.
  plat_systime t = {2003, 3, 0, 3, 3, 3, 3, 0};
  ASSERT_EQ(plat_set_system_time(&t), 1);
  plat_systime before, after;
  plat_local_time(&before);
  make_dirs_timed("N\\M", "MISSING.DAT");
  plat_local_time(&after);
  EXPECT_TRUE(plat_is_dir("N\\M"));
  EXPECT_EQ(host_file_mtime("N/M"), set);
  EXPECT_TRUE(same_time(before, after));
}

TEST(VersionTags, NamesItsModule) {
  EXPECT_STREQ(zeb_dsk_version, "ZEB_DSK 1.31");
}

}  // namespace
