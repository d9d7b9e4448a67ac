// The POSIX platform layer: text streams, path mapping, the program clock,
// file and directory times, the directory search, the console, the keyboard
// and the fault hooks.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>

#include "platform/platform.h"
#include "test_support.h"

namespace {

// Sets (or, with NULL, unsets) an environment variable for a scope.
class env_guard {
 public:
  env_guard(const char *name, const char *value) : name_(name) {
    const char *old = getenv(name);
    had_ = old != nullptr;
    if (had_) old_ = old;
    if (value)
      setenv(name, value, 1);
    else
      unsetenv(name);
  }
  ~env_guard() {
    if (had_)
      setenv(name_.c_str(), old_.c_str(), 1);
    else
      unsetenv(name_.c_str());
  }

 private:
  std::string name_, old_;
  bool had_;
};

class PlatTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // The keyboard cases move fd 0 around: have it open, even when the test
    // program was started with stdin closed.
    if (fcntl(0, F_GETFD) < 0) open("/dev/null", O_RDONLY);
  }
  void TearDown() override {
    plat_fail_reset();
    restore_real_clock();
    plat_set_key_source(nullptr, nullptr);
  }
  scratch_dir dir_;
};

std::string read_stream(FILE *f, size_t chunk) {
  std::string s;
  char buf[8192];
  size_t n;
  while ((n = fread(buf, 1, chunk, f)) > 0) s.append(buf, n);
  return s;
}

std::string read_via_plat(const std::string &path, const char *mode,
                          size_t chunk = 8192) {
  FILE *f = plat_fopen(path.c_str(), mode);
  if (f == nullptr) return "<open failed>";
  std::string s = read_stream(f, chunk);
  fclose(f);
  return s;
}

bool write_via_plat(const std::string &path, const char *mode,
                    const std::string &bytes) {
  FILE *f = plat_fopen(path.c_str(), mode);
  if (f == nullptr) return false;
  bool ok = fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return fclose(f) == 0 && ok;
}

// The reading rules of a text stream, done the plain way.
std::string text_reference(const std::string &raw) {
  std::string out;
  for (size_t i = 0; i < raw.size(); i++) {
    if (raw[i] == 0x1A) break;
    if (raw[i] == '\r' && i + 1 < raw.size() && raw[i + 1] == '\n') continue;
    out += raw[i];
  }
  return out;
}

// ---- text and binary streams -----------------------------------------------

TEST_F(PlatTest, TextReadRules) {
  struct {
    const char *name;
    std::string raw, text;
  } cases[] = {
      {"crlf", "a\r\nb\r\n", "a\nb\n"},
      {"lone cr stays", "a\rb", "a\rb"},
      {"cr at end", "ab\r", "ab\r"},
      {"cr cr lf", "\r\r\n", "\r\n"},
      {"lf alone", "x\ny", "x\ny"},
      {"1a ends input", std::string("ab\x1a\r\ncd", 7), "ab"},
      {"1a first",
       std::string("\x1a"
                   "abc",
                   4),
       ""},
      {"empty", "", ""},
  };
  for (const auto &c : cases) {
    write_host_file("t.txt", c.raw);
    EXPECT_EQ(read_via_plat("t.txt", "r"), c.text) << c.name;
    EXPECT_EQ(read_via_plat("t.txt", "rb"), c.raw) << c.name << " (binary)";
  }
}

TEST_F(PlatTest, TextReadAcrossBufferBoundaries) {
  // A CR LF split at the boundaries of the layer's and stdio's buffers.
  for (size_t at : {4095u, 4096u, 8191u, 8192u, 12287u}) {
    std::string raw(at, 'x');
    raw += "\r\nyy\r\n";
    write_host_file("b.txt", raw);
    EXPECT_EQ(read_via_plat("b.txt", "r"), text_reference(raw)) << at;
  }
  // Mixed CR, LF and letters, read in chunks of several sizes.
  std::string raw;
  uint32_t seed = 12345;
  for (int i = 0; i < 30000; i++) {
    seed = seed * 1103515245u + 12345u;
    raw += "a\r\n"[(seed >> 16) % 3];
  }
  write_host_file("mix.txt", raw);
  for (size_t chunk : {1u, 7u, 4096u, 8192u})
    EXPECT_EQ(read_via_plat("mix.txt", "r", chunk), text_reference(raw))
        << chunk;
}

TEST_F(PlatTest, TextReadLines) {
  write_host_file("l.txt", "one\r\ntwo\rx\r\nthree");
  FILE *f = plat_fopen("l.txt", "r");
  ASSERT_NE(f, nullptr);
  char line[64];
  ASSERT_NE(fgets(line, sizeof line, f), nullptr);
  EXPECT_STREQ(line, "one\n");
  ASSERT_NE(fgets(line, sizeof line, f), nullptr);
  EXPECT_STREQ(line, "two\rx\n");
  ASSERT_NE(fgets(line, sizeof line, f), nullptr);
  EXPECT_STREQ(line, "three");
  EXPECT_EQ(fgets(line, sizeof line, f), nullptr);
  fclose(f);
}

TEST_F(PlatTest, TextWriteAndBinaryWrite) {
  ASSERT_TRUE(write_via_plat("w.txt", "w", "a\nb\r\n\n"));
  EXPECT_EQ(read_host_file("w.txt"), "a\r\nb\r\r\n\r\n");
  ASSERT_TRUE(write_via_plat("w.bin", "wb", "a\nb\r\n\x1a"));
  EXPECT_EQ(read_host_file("w.bin"), "a\nb\r\n\x1a");
  // Many line feeds: more than one block of the translation.
  std::string big, want;
  for (int i = 0; i < 10000; i++) {
    big += "ab\n";
    want += "ab\r\n";
  }
  ASSERT_TRUE(write_via_plat("big.txt", "w", big));
  EXPECT_EQ(read_host_file("big.txt"), want);
  // "w" truncates, "a" and "ab" append.
  ASSERT_TRUE(write_via_plat("w.txt", "w", "x\n"));
  ASSERT_TRUE(write_via_plat("w.txt", "a", "y\n"));
  ASSERT_TRUE(write_via_plat("w.txt", "ab", "z\n"));
  EXPECT_EQ(read_host_file("w.txt"), "x\r\ny\r\nz\n");
  ASSERT_TRUE(write_via_plat("new.txt", "a", "n"));
  EXPECT_EQ(read_host_file("new.txt"), "n");
}

TEST_F(PlatTest, OpenFailures) {
  make_host_dir("adir");
  for (const char *mode : {"r", "rb", "w", "a", "ab"}) {
    errno = 0;
    EXPECT_EQ(plat_fopen("adir", mode), nullptr) << mode;
    EXPECT_EQ(errno, EISDIR) << mode;
  }
  errno = 0;
  EXPECT_EQ(plat_fopen("missing.txt", "r"), nullptr);
  EXPECT_EQ(errno, ENOENT);
  errno = 0;
  EXPECT_EQ(plat_fopen("nodir\\x.txt", "w"), nullptr);
  EXPECT_EQ(errno, ENOENT);
  std::string long_path(5000, 'a');
  errno = 0;
  EXPECT_EQ(plat_fopen(long_path.c_str(), "w"), nullptr);
  EXPECT_EQ(errno, ENAMETOOLONG);
  EXPECT_EQ(plat_exists(long_path.c_str()), 0);
}

TEST_F(PlatTest, StreamSizeIs64Bit) {
  write_host_file("small.bin", "12345");
  FILE *f = plat_fopen("small.bin", "r");
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(plat_stream_size(f), 5);
  fclose(f);
  EXPECT_EQ(plat_stream_size(stdout), -1);  // not a stream of the layer

  const int64_t big = (int64_t)5 << 30;
  int fd = open("sparse.bin", O_CREAT | O_WRONLY, 0644);
  ASSERT_GE(fd, 0);
  int r = ftruncate(fd, (off_t)big);
  close(fd);
  if (r != 0) GTEST_SKIP() << "the file system refuses a sparse 5 GiB file";
  f = plat_fopen("sparse.bin", "rb");
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(plat_stream_size(f), big);
  fclose(f);
}

// ---- paths -----------------------------------------------------------------

TEST_F(PlatTest, SeparatorsAndShiftJisNames) {
  make_host_dir("sub");
  ASSERT_TRUE(write_via_plat("sub\\a.txt", "wb", "A"));
  ASSERT_TRUE(write_via_plat("sub/b.txt", "wb", "B"));
  EXPECT_EQ(read_host_file("sub/a.txt"), "A");
  EXPECT_EQ(read_host_file("sub/b.txt"), "B");
  // Absolute program form of the scratch folder.
  std::string abs = dir_.program_path() + "\\sub\\a.txt";
  EXPECT_EQ(read_via_plat(abs, "rb"), "A");

  // 83 5C is one character: its 5C is no separator.
  const std::string so = "\x83\x5C.txt";
  ASSERT_TRUE(write_via_plat("sub\\" + so, "wb", "SO"));
  EXPECT_TRUE(host_file_exists("sub/" + so));
  EXPECT_EQ(plat_exists(("sub\\" + so).c_str()), 1);
  EXPECT_EQ(read_via_plat("sub/" + so, "rb"), "SO");
  plat_find f;
  ASSERT_EQ(plat_find_first("sub\\\x83\x5C.*", &f), 1);
  EXPECT_EQ(std::string(f.name), so);
  plat_find_close(&f);

  // 2F is no trail byte: after a lead byte it still separates.
  make_host_dir("\x83");
  ASSERT_TRUE(write_via_plat("\x83/x.txt", "wb", "X"));
  EXPECT_EQ(read_host_file("\x83/x.txt"), "X");
}

TEST_F(PlatTest, CaseInsensitiveResolution) {
  make_host_dir("cache1");
  write_host_file("cache1/mm256.dat", "INDEX");
  EXPECT_EQ(read_via_plat("CACHE1\\MM256.DAT", "rb"), "INDEX");
  EXPECT_EQ(plat_exists("Cache1\\Mm256.Dat"), 1);
  EXPECT_EQ(plat_is_dir("CACHE1"), 1);
  EXPECT_EQ(plat_is_dir("CACHE1\\MM256.DAT"), 0);
  plat_systime t;
  EXPECT_EQ(plat_file_write_time("CACHE1\\MM256.DAT", &t, nullptr), 1);

  // New files are created under the given name, in the existing parent.
  ASSERT_TRUE(write_via_plat("CACHE1\\New.TXT", "w", "n"));
  EXPECT_TRUE(host_file_exists("cache1/New.TXT"));
  EXPECT_FALSE(host_file_exists("CACHE1"));
  // An existing file is written under its own name, not duplicated.
  ASSERT_TRUE(write_via_plat("CACHE1\\MM256.DAT", "wb", "NEW"));
  EXPECT_EQ(read_host_file("cache1/mm256.dat"), "NEW");
  EXPECT_FALSE(host_file_exists("cache1/MM256.DAT"));
  // A directory that exists in another case is not made again.
  EXPECT_EQ(plat_mkdir("CACHE1"), -1);
  EXPECT_EQ(plat_mkdir("CACHE1\\Sub"), 0);
  EXPECT_TRUE(host_file_exists("cache1/Sub"));
  EXPECT_EQ(plat_chdir("CACHE1\\SUB"), 0);
  char cwd[4096];
  ASSERT_EQ(plat_getcwd(cwd, sizeof cwd), 1);
  EXPECT_EQ(std::string(cwd), dir_.program_path() + "\\cache1\\Sub");
  ASSERT_EQ(plat_chdir(".."), 0);
  ASSERT_EQ(plat_chdir(".."), 0);

  // Several variants: the byte-wise smallest name wins, whatever the order
  // of the directory (all case forms of "abcd" but the one asked for).
  make_host_dir("v");
  for (int bits = 1; bits < 16; bits++) {
    std::string name = "abcd";
    for (int i = 0; i < 4; i++)
      if (!(bits & (1 << i))) name[i] = (char)(name[i] - 32);
    write_host_file("v/" + name, name);
  }
  EXPECT_FALSE(host_file_exists("v/ABCD"));
  EXPECT_EQ(read_via_plat("V\\ABCD", "rb"), "ABCd");

  // Only single-byte letters fold: 83 61 is not 83 41.
  write_host_file("\x83\x61.txt", "x");
  EXPECT_EQ(plat_exists("\x83\x41.txt"), 0);
  EXPECT_EQ(plat_exists("\x83\x61.TXT"), 1);

  // Rename and remove resolve too; the target's existing variant is replaced.
  write_host_file("cache1/old.tmp", "fresh");
  ASSERT_EQ(plat_rename("CACHE1\\OLD.TMP", "CACHE1\\MM256.DAT"), 0);
  EXPECT_EQ(read_host_file("cache1/mm256.dat"), "fresh");
  EXPECT_FALSE(host_file_exists("cache1/old.tmp"));
  EXPECT_FALSE(host_file_exists("cache1/MM256.DAT"));
  // Renaming a file to another case of its own name changes the case.
  ASSERT_EQ(plat_rename("CACHE1\\MM256.DAT", "CACHE1\\Mm256.dat"), 0);
  EXPECT_TRUE(host_file_exists("cache1/Mm256.dat"));
  EXPECT_FALSE(host_file_exists("cache1/mm256.dat"));
  EXPECT_EQ(plat_remove("CACHE1\\mm256.DAT"), 0);
  EXPECT_FALSE(host_file_exists("cache1/mm256.dat"));
  EXPECT_EQ(plat_remove("CACHE1\\mm256.DAT"), -1);
  EXPECT_EQ(plat_remove("CACHE1\\SUB"), -1);  // files only
}

TEST_F(PlatTest, DriveMapping) {
  make_host_dir("qroot/OUT");
  env_guard q("VELDOR_DRIVE_Q", (dir_.path() + "/qroot").c_str());
  env_guard r("VELDOR_DRIVE_R", nullptr);
  ASSERT_TRUE(write_via_plat("Q:\\OUT\\a.txt", "wb", "a"));
  ASSERT_TRUE(write_via_plat("q:OUT\\b.txt", "wb", "b"));
  EXPECT_EQ(read_host_file("qroot/OUT/a.txt"), "a");
  EXPECT_EQ(read_host_file("qroot/OUT/b.txt"), "b");
  EXPECT_EQ(plat_is_dir("Q:\\"), 1);
  EXPECT_EQ(plat_is_dir("Q:"), 1);
  EXPECT_EQ(plat_mkdir("Q:\\OUT\\NEW"), 0);
  EXPECT_TRUE(host_file_exists("qroot/OUT/NEW"));

  // An unmapped drive names nothing.
  errno = 0;
  EXPECT_EQ(plat_fopen("R:\\x.txt", "w"), nullptr);
  EXPECT_EQ(errno, ENOENT);
  EXPECT_EQ(plat_exists("R:\\"), 0);
  errno = 0;
  EXPECT_EQ(plat_mkdir("R:\\D"), -1);
  EXPECT_EQ(errno, ENOENT);
  plat_find f;
  EXPECT_EQ(plat_find_first("R:\\*", &f), 0);
}

TEST_F(PlatTest, ProgramPath) {
  struct {
    const char *argv0;
    size_t size;
    const char *want;
  } cases[] = {
      {"./build/veldor", 260, ".\\build\\veldor"},
      {"veldor", 260, "veldor"},
      {"/usr/bin/veldor", 260, "\\usr\\bin\\veldor"},
      {"a\\b/c", 260, "a\\b\\c"},
      {"d/\x83\x5C/v", 260, "d\\\x83\x5C\\v"},
      {"\x83/v", 260, "\x83\\v"},
      {"./build/veldor", 5, ".\\bu"},
      {"abc", 1, ""},
  };
  for (const auto &c : cases) {
    char out[260];
    memset(out, 'Z', sizeof out);
    plat_program_path(c.argv0, out, c.size);
    EXPECT_STREQ(out, c.want) << c.argv0 << " size " << c.size;
  }
}

TEST_F(PlatTest, GetcwdBounds) {
  std::string want = dir_.program_path();
  std::string buf(want.size() + 1, 'Z');
  EXPECT_EQ(plat_getcwd(&buf[0], buf.size()), 1);
  EXPECT_EQ(std::string(buf.c_str()), want);
  EXPECT_EQ(plat_getcwd(&buf[0], want.size()), 0);  // no room for the NUL
}

// ---- clock -----------------------------------------------------------------

bool same_fields(const plat_systime &a, const plat_systime &b) {
  return a.year == b.year && a.month == b.month && a.day == b.day &&
         a.hour == b.hour && a.minute == b.minute && a.second == b.second &&
         a.millisecond == b.millisecond;
}

plat_systime fields(int y, int mo, int d, int h, int mi, int s, int ms) {
  plat_systime t;
  memset(&t, 0, sizeof t);
  t.year = (uint16_t)y;
  t.month = (uint16_t)mo;
  t.day = (uint16_t)d;
  t.hour = (uint16_t)h;
  t.minute = (uint16_t)mi;
  t.second = (uint16_t)s;
  t.millisecond = (uint16_t)ms;
  return t;
}

TEST_F(PlatTest, ClockReadsTheSourceInLocalAndUtc) {
  tz_guard tz("JST-9");
  set_fake_now(utc_seconds(2001, 2, 3, 20, 5, 6) * 1000 + 789, 4242);
  plat_systime u, l;
  plat_system_time(&u);
  plat_local_time(&l);
  EXPECT_TRUE(same_fields(u, fields(2001, 2, 3, 20, 5, 6, 789)));
  EXPECT_EQ(u.day_of_week, 6);  // Saturday
  EXPECT_TRUE(same_fields(l, fields(2001, 2, 4, 5, 5, 6, 789)));
  EXPECT_EQ(l.day_of_week, 0);
  EXPECT_EQ(plat_tick_count(), 4242u);
  advance_fake_time(1500);
  plat_system_time(&u);
  EXPECT_TRUE(same_fields(u, fields(2001, 2, 3, 20, 5, 8, 289)));
  EXPECT_EQ(plat_tick_count(), 5742u);
}

TEST_F(PlatTest, SetLocalTimeMovesOnlyTheOffset) {
  tz_guard tz("JST-9");
  set_fake_now(utc_seconds(2001, 1, 1, 0, 0, 0) * 1000);
  plat_systime want = fields(1997, 5, 1, 10, 30, 45, 500);
  ASSERT_EQ(plat_set_local_time(&want), 1);
  plat_systime l, u;
  plat_local_time(&l);
  EXPECT_TRUE(same_fields(l, want));
  plat_system_time(&u);
  EXPECT_TRUE(same_fields(u, fields(1997, 5, 1, 1, 30, 45, 500)));
  // The clock runs on with its source.
  advance_fake_time(60000);
  plat_local_time(&l);
  EXPECT_TRUE(same_fields(l, fields(1997, 5, 1, 10, 31, 45, 500)));
  // Reset: the source's own time again.
  plat_clock_reset();
  plat_system_time(&u);
  EXPECT_TRUE(same_fields(u, fields(2001, 1, 1, 0, 1, 0, 0)));
}

TEST_F(PlatTest, SetSystemTimeTakesUtc) {
  tz_guard tz("JST-9");
  set_fake_now(utc_seconds(2001, 1, 1, 0, 0, 0) * 1000);
  plat_systime want = fields(1996, 12, 24, 9, 0, 0, 250);
  ASSERT_EQ(plat_set_system_time(&want), 1);
  plat_systime u, l;
  plat_system_time(&u);
  plat_local_time(&l);
  EXPECT_TRUE(same_fields(u, want));
  EXPECT_TRUE(same_fields(l, fields(1996, 12, 24, 18, 0, 0, 250)));
}

TEST_F(PlatTest, ImpossibleTimesAreRefused) {
  tz_guard tz("UTC0");
  set_fake_now(utc_seconds(2001, 1, 1, 0, 0, 0) * 1000);
  plat_systime bad[] = {
      fields(1997, 5, 32, 0, 0, 0, 0),  fields(1997, 4, 31, 0, 0, 0, 0),
      fields(1999, 2, 29, 0, 0, 0, 0),  fields(2100, 2, 29, 0, 0, 0, 0),
      fields(2000, 2, 30, 0, 0, 0, 0),  fields(1997, 13, 1, 0, 0, 0, 0),
      fields(1997, 0, 1, 0, 0, 0, 0),   fields(1997, 1, 0, 0, 0, 0, 0),
      fields(1997, 1, 1, 24, 0, 0, 0),  fields(1997, 1, 1, 0, 60, 0, 0),
      fields(1997, 1, 1, 0, 0, 60, 0),  fields(1997, 1, 1, 0, 0, 0, 1000),
      fields(1600, 12, 31, 0, 0, 0, 0), fields(30828, 1, 1, 0, 0, 0, 0),
  };
  for (const auto &t : bad) {
    EXPECT_EQ(plat_set_local_time(&t), 0)
        << t.year << "-" << t.month << "-" << t.day;
    EXPECT_EQ(plat_set_system_time(&t), 0);
    plat_systime u;
    plat_system_time(&u);
    EXPECT_TRUE(same_fields(u, fields(2001, 1, 1, 0, 0, 0, 0)));
  }
  plat_systime good[] = {
      fields(2000, 2, 29, 23, 59, 59, 999), fields(1996, 2, 29, 0, 0, 0, 0),
      fields(1601, 1, 1, 0, 0, 0, 0), fields(30827, 12, 31, 23, 59, 59, 999)};
  for (const auto &t : good) {
    EXPECT_EQ(plat_set_system_time(&t), 1) << t.year;
    plat_systime u;
    plat_system_time(&u);
    EXPECT_TRUE(same_fields(u, t)) << t.year;
  }
}

// ---- file and directory times ----------------------------------------------

TEST_F(PlatTest, MkdirUnderSetClockStampsNewDirAndParent) {
  tz_guard tz("UTC0");
  set_fake_now(utc_seconds(2001, 1, 1, 0, 0, 0) * 1000);
  make_host_dir("parent");
  const int64_t old_time = utc_seconds(1990, 1, 1, 0, 0, 0);
  set_host_file_time("parent", old_time);

  // Offset 0: the layer leaves the times to the host.
  ASSERT_EQ(plat_mkdir("parent\\plain"), 0);
  EXPECT_EQ(plat_op_count(PLAT_OP_SETTIME), 0);
  EXPECT_NE(host_file_mtime("parent/plain"), utc_seconds(2001, 1, 1, 0, 0, 0));
  EXPECT_NE(host_file_mtime("parent"), old_time);  // the host's own stamp

  set_host_file_time("parent", old_time);
  plat_systime t = fields(1996, 12, 24, 9, 0, 0, 0);
  ASSERT_EQ(plat_set_system_time(&t), 1);
  const int64_t want = utc_seconds(1996, 12, 24, 9, 0, 0);
  ASSERT_EQ(plat_mkdir("parent\\timed"), 0);
  EXPECT_EQ(host_file_mtime("parent/timed"), want);
  EXPECT_EQ(host_file_mtime("parent"), want);
  EXPECT_EQ(plat_op_count(PLAT_OP_SETTIME), 2);

  // Relative to the current folder too.
  set_host_file_time(".", old_time);
  ASSERT_EQ(plat_mkdir("top"), 0);
  EXPECT_EQ(host_file_mtime("top"), want);
  EXPECT_EQ(host_file_mtime("."), want);

  // A failed creation stamps nothing.
  set_host_file_time("parent", old_time);
  EXPECT_EQ(plat_mkdir("parent\\timed"), -1);
  EXPECT_EQ(host_file_mtime("parent"), old_time);
}

TEST_F(PlatTest, FileWriteTimeLocalAndUtc) {
  tz_guard tz("JST-9");
  write_host_file("f.txt", "x");
  set_host_file_time("f.txt", utc_seconds(1997, 5, 1, 12, 0, 0));
  plat_systime l, u;
  memset(&l, 0xFF, sizeof l);
  memset(&u, 0xFF, sizeof u);
  ASSERT_EQ(plat_file_write_time("f.txt", &l, &u), 1);
  EXPECT_TRUE(same_fields(u, fields(1997, 5, 1, 12, 0, 0, 0)));
  EXPECT_TRUE(same_fields(l, fields(1997, 5, 1, 21, 0, 0, 0)));
  EXPECT_EQ(plat_file_write_time("f.txt", nullptr, &u), 1);
  EXPECT_EQ(plat_file_write_time("missing.txt", &l, &u), 0);
}

TEST_F(PlatTest, CopyTimes) {
  write_host_file("src.bin", "source");
  write_host_file("dst.bin", "d");
  struct timespec ts[2];
  ts[0].tv_sec = (time_t)utc_seconds(1998, 3, 4, 5, 6, 7);
  ts[0].tv_nsec = 123456789;
  ts[1].tv_sec = (time_t)utc_seconds(1997, 1, 2, 3, 4, 5);
  ts[1].tv_nsec = 987654321;
  ASSERT_EQ(utimensat(AT_FDCWD, "src.bin", ts, 0), 0);
  FILE *src = plat_fopen("src.bin", "rb");
  FILE *dst = plat_fopen("dst.bin", "ab");
  ASSERT_NE(src, nullptr);
  ASSERT_NE(dst, nullptr);
  EXPECT_EQ(plat_stream_copy_times(src, dst), 1);
  EXPECT_EQ(plat_op_count(PLAT_OP_SETTIME), 1);
  fclose(dst);
  fclose(src);
  struct stat st;
  ASSERT_EQ(stat("dst.bin", &st), 0);
  EXPECT_EQ(st.st_atim.tv_sec, ts[0].tv_sec);
  EXPECT_EQ(st.st_atim.tv_nsec, 0);
  EXPECT_EQ(st.st_mtim.tv_sec, ts[1].tv_sec);
  EXPECT_EQ(st.st_mtim.tv_nsec, 0);
  EXPECT_EQ(plat_stream_copy_times(stdin, stdout), 0);
}

// ---- directory search ------------------------------------------------------

std::set<std::string> find_all(const char *pattern) {
  std::set<std::string> names;
  plat_find f;
  for (int r = plat_find_first(pattern, &f); r; r = plat_find_next(&f))
    names.insert(std::string(f.name) + (f.is_dir ? "/" : ""));
  plat_find_close(&f);
  plat_find_close(&f);  // harmless on a closed search
  return names;
}

TEST_F(PlatTest, FindWithWildcards) {
  make_host_dir("d/SUB");
  for (const char *n : {"A.DAT", "b.dat", "C.TXT", ".hidden", "noext",
                        "\x83\x5C.txt", "ab.dat.bak"})
    write_host_file(std::string("d/") + n, "x");
  ASSERT_EQ(symlink("SUB", "d/link"), 0);
  using names = std::set<std::string>;
  struct {
    const char *pattern;
    names want;
  } cases[] = {
      {"d\\*.DAT", {"A.DAT", "b.dat"}},
      {"d\\?.dat", {"A.DAT", "b.dat"}},
      {"d\\?.txt", {"C.TXT", "\x83\x5C.txt"}},
      {"d\\*.*",
       {"./", "../", "A.DAT", "b.dat", "C.TXT", ".hidden", "noext",
        "\x83\x5C.txt", "ab.dat.bak", "SUB/", "link/"}},
      {"d\\*",
       {"./", "../", "A.DAT", "b.dat", "C.TXT", ".hidden", "noext",
        "\x83\x5C.txt", "ab.dat.bak", "SUB/", "link/"}},
      {"d\\.*", {"./", "../", ".hidden"}},
      {"d\\noext.*", {"noext"}},
      {"d\\sub", {"SUB/"}},
      {"D\\*.BAK", {"ab.dat.bak"}},
      {"d\\*.xyz", {}},
      {"nodir\\*", {}},
  };
  for (const auto &c : cases)
    EXPECT_EQ(find_all(c.pattern), c.want) << c.pattern;

  ASSERT_EQ(chdir("d"), 0);
  EXPECT_EQ(find_all("*.dat"), (names{"A.DAT", "b.dat"}));
  ASSERT_EQ(chdir(".."), 0);
}

// ---- console ---------------------------------------------------------------

// Everything written to standard output while fn runs.
template <class F>
std::string capture_stdout(F fn) {
  fflush(stdout);
  int saved = dup(1);
  int fd = open("stdout.cap", O_CREAT | O_TRUNC | O_WRONLY, 0644);
  dup2(fd, 1);
  close(fd);
  fn();
  fflush(stdout);
  dup2(saved, 1);
  close(saved);
  return read_host_file("stdout.cap");
}

TEST_F(PlatTest, ConsoleConversion) {
  // "ソ" 83 5C, "ｱ" B1, "\" 5C, an unassigned 85 40, a cut lead byte.
  const std::string sjis = "\x83\x5C\xB1 C:\\x \x85\x40!\x83";
  struct {
    const char *lc_all, *lc_ctype, *lang;
    std::string want;
  } cases[] = {
      {nullptr, nullptr, "C.UTF-8", "\xE3\x82\xBD\xEF\xBD\xB1 C:\\x ?!?"},
      {nullptr, "ja_JP.utf8", "C", "\xE3\x82\xBD\xEF\xBD\xB1 C:\\x ?!?"},
      {"", "", "en_US.Utf-8", "\xE3\x82\xBD\xEF\xBD\xB1 C:\\x ?!?"},
      {nullptr, nullptr, "C", sjis},
      {"C", nullptr, "C.UTF-8", sjis},
      {nullptr, nullptr, nullptr, sjis},
  };
  for (const auto &c : cases) {
    env_guard a("LC_ALL", c.lc_all), b("LC_CTYPE", c.lc_ctype),
        l("LANG", c.lang);
    std::string out = capture_stdout([&] {
      printf("<");
      plat_console_write(sjis.data(), sjis.size());
      printf(">");
    });
    EXPECT_EQ(out, "<" + c.want + ">") << (c.lang ? c.lang : "(no LANG)");
  }
}

// ---- keyboard --------------------------------------------------------------

// A pseudo-terminal on fd 0 for the test's life.
class pty_stdin {
 public:
  pty_stdin() {
    ok = openpty(&master, &slave, nullptr, nullptr, nullptr) == 0;
    saved = dup(0);
    if (ok) dup2(slave, 0);
  }
  ~pty_stdin() {
    dup2(saved, 0);
    close(saved);
    if (ok) {
      close(master);
      close(slave);
    }
  }
  void type(const std::string &s) {
    ASSERT_EQ(write(master, s.data(), s.size()), (ssize_t)s.size());
  }
  int master = -1, slave = -1, saved = -1;
  bool ok;
};

// The pty hands typed bytes on asynchronously: wait up to two seconds.
bool key_arrives() {
  for (int i = 0; i < 200; i++) {
    if (plat_key_waiting()) return true;
    usleep(10000);
  }
  return false;
}

bool same_termios(const termios &a, const termios &b) {
  return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag &&
         a.c_cflag == b.c_cflag && a.c_lflag == b.c_lflag &&
         memcmp(a.c_cc, b.c_cc, sizeof a.c_cc) == 0;
}

TEST_F(PlatTest, KeyboardFromTerminal) {
  pty_stdin pty;
  ASSERT_TRUE(pty.ok);
  termios before, after;
  ASSERT_EQ(tcgetattr(0, &before), 0);
  ASSERT_TRUE(before.c_lflag & ICANON);

  EXPECT_EQ(plat_key_waiting(), 0);
  struct {
    const char *typed;
    int want;
  } cases[] = {
      {"a", 'a'},
      {"\x1b", 27},
      {"\x1b[A", 0},
      {"\x1b[15~", 0},
      {"\x1bOP", 0},
      {"\x1b"
       "x",
       27},
  };
  for (const auto &c : cases) {
    pty.type(c.typed);
    ASSERT_TRUE(key_arrives()) << c.typed + 1;
    EXPECT_EQ(plat_key_read(), c.want) << c.typed + 1;
    ASSERT_EQ(tcgetattr(0, &after), 0);
    EXPECT_TRUE(same_termios(before, after));
    if (strcmp(c.typed,
               "\x1b"
               "x") == 0) {
      // The byte after a lone Escape is a key of its own.
      EXPECT_EQ(plat_key_waiting(), 1);
      EXPECT_EQ(plat_key_read(), 'x');
    }
    usleep(20000);
    EXPECT_EQ(plat_key_waiting(), 0) << "left over from " << c.typed + 1;
  }
  ASSERT_EQ(tcgetattr(0, &after), 0);
  EXPECT_TRUE(same_termios(before, after));
}

TEST_F(PlatTest, TerminalRestoredOnSignal) {
  int master, slave;
  ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    dup2(slave, 0);
    plat_init();
    plat_key_read();  // waits in the raw mode
    _exit(3);
  }
  termios t;
  bool raw = false;
  for (int i = 0; i < 300 && !raw; i++) {
    usleep(10000);
    raw = tcgetattr(slave, &t) == 0 && !(t.c_lflag & ICANON);
  }
  EXPECT_TRUE(raw);
  kill(pid, SIGTERM);
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM);
  ASSERT_EQ(tcgetattr(slave, &t), 0);
  EXPECT_TRUE(t.c_lflag & ICANON);
  EXPECT_TRUE(t.c_lflag & ECHO);
  close(master);
  close(slave);
}

TEST_F(PlatTest, KeyboardWithoutTerminal) {
  int saved = dup(0);
  int null_fd = open("/dev/null", O_RDONLY);
  dup2(null_fd, 0);
  close(null_fd);
  EXPECT_EQ(plat_key_waiting(), 0);
  EXPECT_EQ(plat_key_read(), 0);

  int p[2];
  ASSERT_EQ(pipe(p), 0);
  ASSERT_EQ(write(p[1], "k\x1b", 2), 2);
  close(p[1]);
  dup2(p[0], 0);
  close(p[0]);
  EXPECT_EQ(plat_key_waiting(), 0);
  EXPECT_EQ(plat_key_read(), 'k');
  EXPECT_EQ(plat_key_read(), 27);
  EXPECT_EQ(plat_key_read(), 0);

  close(0);
  EXPECT_EQ(plat_key_waiting(), 0);
  EXPECT_EQ(plat_key_read(), 0);
  dup2(saved, 0);
  close(saved);
}

int hook_waiting() { return 1; }
int hook_read() { return 'h'; }

TEST_F(PlatTest, KeySourceHooks) {
  plat_set_key_source(hook_waiting, hook_read);
  EXPECT_EQ(plat_key_waiting(), 1);
  EXPECT_EQ(plat_key_read(), 'h');
  plat_set_key_source(nullptr, nullptr);
  int saved = dup(0);
  int null_fd = open("/dev/null", O_RDONLY);
  dup2(null_fd, 0);
  close(null_fd);
  EXPECT_EQ(plat_key_waiting(), 0);
  dup2(saved, 0);
  close(saved);
}

// ---- test seams ------------------------------------------------------------

class SeamTest : public PlatTest {
 protected:
  void TearDown() override {
    for (const char *n : {"VELDOR_TEST_CLOCK", "VELDOR_TEST_TICK",
                          "VELDOR_TEST_KEYS", "VELDOR_TEST_FAIL"})
      unsetenv(n);
    plat_init();
    PlatTest::TearDown();
  }
};

TEST_F(SeamTest, FrozenClockAndTicks) {
  tz_guard tz("JST-9");
  setenv("VELDOR_TEST_CLOCK", "2003-04-05 06:07:08", 1);
  plat_init();
  plat_systime l, u, again;
  plat_local_time(&l);
  plat_system_time(&u);
  EXPECT_TRUE(same_fields(l, fields(2003, 4, 5, 6, 7, 8, 0)));
  EXPECT_TRUE(same_fields(u, fields(2003, 4, 4, 21, 7, 8, 0)));
  usleep(2000);
  plat_local_time(&again);
  EXPECT_TRUE(same_fields(l, again));
  EXPECT_EQ(plat_tick_count(), 1000u);
  // The set clock runs from the frozen instant.
  plat_systime t = fields(2003, 4, 6, 0, 0, 0, 0);
  ASSERT_EQ(plat_set_local_time(&t), 1);
  plat_local_time(&l);
  EXPECT_TRUE(same_fields(l, t));

  setenv("VELDOR_TEST_TICK", "42", 1);
  plat_init();
  EXPECT_EQ(plat_tick_count(), 42u);
  plat_local_time(&l);
  EXPECT_TRUE(same_fields(l, fields(2003, 4, 5, 6, 7, 8, 0)));  // offset gone

  // An impossible date leaves the real clock in place.
  setenv("VELDOR_TEST_CLOCK", "2003-02-30 00:00:00", 1);
  unsetenv("VELDOR_TEST_TICK");
  plat_init();
  plat_local_time(&l);
  EXPECT_NE(l.year, 2003);
}

TEST_F(SeamTest, KeyScript) {
  setenv("VELDOR_TEST_KEYS", "a.e", 1);
  plat_init();
  EXPECT_EQ(plat_key_waiting(), 1);
  EXPECT_EQ(plat_key_read(), 'a');
  EXPECT_EQ(plat_key_waiting(), 0);
  EXPECT_EQ(plat_key_waiting(), 1);
  EXPECT_EQ(plat_key_read(), 27);
  EXPECT_EQ(plat_key_waiting(), 0);
  EXPECT_EQ(plat_key_read(), 0);

  // A read without a check takes the next key of the script.
  setenv("VELDOR_TEST_KEYS", "..q", 1);
  plat_init();
  EXPECT_EQ(plat_key_read(), 'q');
  EXPECT_EQ(plat_key_read(), 0);
}

TEST_F(SeamTest, FailSpec) {
  setenv("VELDOR_TEST_FAIL", "open:2:ENOSPC,write:1+,mkdir:1:13,bogus:1", 1);
  plat_init();
  FILE *f = plat_fopen("a.txt", "w");
  ASSERT_NE(f, nullptr);
  errno = 0;
  EXPECT_EQ(plat_fopen("b.txt", "w"), nullptr);
  EXPECT_EQ(errno, ENOSPC);
  fputs("x\n", f);
  EXPECT_NE(fflush(f), 0);
  clearerr(f);
  fputs("y\n", f);
  EXPECT_NE(fflush(f), 0);  // still failing
  EXPECT_EQ(plat_op_count(PLAT_OP_WRITE), 2);
  fclose(f);
  EXPECT_EQ(read_host_file("a.txt"), "");
  errno = 0;
  EXPECT_EQ(plat_mkdir("d"), -1);
  EXPECT_EQ(errno, EACCES);
  EXPECT_EQ(plat_mkdir("d"), 0);
}

// ---- fault hooks -----------------------------------------------------------

TEST_F(PlatTest, NthOpenFailsWithTheChosenError) {
  write_host_file("f.txt", "x");
  plat_fail_nth(PLAT_OP_OPEN, 2, EACCES, 0);
  FILE *f1 = plat_fopen("f.txt", "r");
  errno = 0;
  FILE *f2 = plat_fopen("f.txt", "r");
  int e = errno;
  FILE *f3 = plat_fopen("f.txt", "r");
  EXPECT_NE(f1, nullptr);
  EXPECT_EQ(f2, nullptr);
  EXPECT_EQ(e, EACCES);
  EXPECT_NE(f3, nullptr);
  EXPECT_EQ(plat_op_count(PLAT_OP_OPEN), 3);
  if (f1) fclose(f1);
  if (f3) fclose(f3);

  plat_fail_nth(PLAT_OP_OPEN, 2, EMFILE, 1);
  EXPECT_EQ(plat_op_count(PLAT_OP_OPEN), 0);  // counted from the setting
  plat_find fd;
  EXPECT_EQ(plat_find_first("*", &fd), 1);  // opendir counts as an open
  plat_find_close(&fd);
  for (int i = 0; i < 3; i++) EXPECT_EQ(plat_fopen("f.txt", "r"), nullptr);
  EXPECT_EQ(plat_op_count(PLAT_OP_OPEN), 4);
  plat_fail_nth(PLAT_OP_OPEN, 0, 0, 0);
  f1 = plat_fopen("f.txt", "r");
  EXPECT_NE(f1, nullptr);
  if (f1) fclose(f1);
  plat_fail_nth(PLAT_OP_OPEN, 1, ENOENT, 0);
  EXPECT_EQ(plat_find_first("*", &fd), 0);
}

TEST_F(PlatTest, FaultsOfEachKind) {
  write_host_file("src.txt", "source\n");
  make_host_dir("dir");
  struct {
    int op;
    const char *name;
    bool (*call)();
    const char *host_left;  // a file that must not have changed
  } cases[] = {
      {PLAT_OP_READ, "read",
       [] {
         FILE *f = plat_fopen("src.txt", "rb");
         char b[16];
         size_t n = fread(b, 1, sizeof b, f);
         bool ok = n > 0 && !ferror(f);
         fclose(f);
         return ok;
       },
       nullptr},
      {PLAT_OP_WRITE, "write",
       [] { return write_via_plat("out.txt", "w", "x\n"); }, nullptr},
      {PLAT_OP_MKDIR, "mkdir", [] { return plat_mkdir("newdir") == 0; },
       nullptr},
      {PLAT_OP_RENAME, "rename",
       [] { return plat_rename("src.txt", "moved.txt") == 0; }, "src.txt"},
      {PLAT_OP_REMOVE, "remove", [] { return plat_remove("src.txt") == 0; },
       "src.txt"},
      {PLAT_OP_SETTIME, "settime",
       [] {
         FILE *a = plat_fopen("src.txt", "rb");
         FILE *b = plat_fopen("dir/t.bin", "ab");
         bool ok = plat_stream_copy_times(a, b) == 1;
         fclose(a);
         fclose(b);
         return ok;
       },
       nullptr},
  };
  for (const auto &c : cases) {
    plat_fail_reset();
    plat_fail_nth(c.op, 1, EIO, 0);
    errno = 0;
    EXPECT_FALSE(c.call()) << c.name;
    EXPECT_EQ(plat_op_count(c.op), 1) << c.name;
    if (c.host_left) {
      EXPECT_TRUE(host_file_exists(c.host_left)) << c.name;
    }
  }
  EXPECT_FALSE(host_file_exists("newdir"));
  EXPECT_EQ(read_host_file("out.txt"), "");
}

}  // namespace
