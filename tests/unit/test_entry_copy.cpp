// The file copy: the choice between converted text and bytes, the text-mode
// rules, the block size of the byte copy, failures, times and the title.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/platform.h"
#include "src/entry/entry.h"
#include "src/settings/settings.h"
#include "test_support.h"

namespace {

// "ERROR:ファイルのコピーに失敗しました\n" in Shift-JIS.
const std::string copy_failed =
    "ERROR:\x83\x74\x83\x40\x83\x43\x83\x8b\x82\xcc\x83\x52\x83\x73\x81\x5b"
    "\x82\xc9\x8e\xb8\x94\x73\x82\xb5\x82\xdc\x82\xb5\x82\xbd\n";

// "日本語のページ" in JIS (with its escapes) and in Shift-JIS.
const std::string title_jis =
    "\x1b$B\x46\x7c\x4b\x5c\x38\x6c\x24\x4e\x25\x5a\x21\x3c\x25\x38\x1b(B";
const std::string title_sjis =
    "\x93\xfa\x96\x7b\x8c\xea\x82\xcc\x83\x79\x81\x5b\x83\x57";

const int64_t source_mtime = 857565296;  // 1997-03-05 12:34:56 UTC

class FileCopy : public ::testing::Test {
 protected:
  void SetUp() override {
    settings_reset();
    plat_fail_reset();
    // Traces go to a log of our own, not to the console.
    settings.flg_verbose = 0;
    settings.flg_log_file = 1;
    log_ = std::fopen("trace.log", "wb");
    ASSERT_NE(nullptr, log_);
    settings.log_stream = log_;
  }
  void TearDown() override {
    plat_fail_reset();
    settings.log_stream = nullptr;
    if (log_ != nullptr) std::fclose(log_);
    settings_reset();
  }

  void fresh_log() {
    std::fclose(log_);
    log_ = std::fopen("trace.log", "wb");
    settings.log_stream = log_;
  }

  std::string log_text() {
    std::fflush(log_);
    return read_host_file("trace.log");
  }

  // Writes the source, sets its times and copies it to out.htm.
  int copy(const std::string &source, int graphic = 0, int shiftjis = 1) {
    write_host_file("cache.htm", source);
    set_host_file_time("cache.htm", source_mtime);
    settings.flg_graphic = graphic;
    settings.flg_shiftjis = shiftjis;
    return file_copy("cache.htm", "out.htm");
  }

  scratch_dir dir_;
  FILE *log_ = nullptr;
};

TEST_F(FileCopy, ChoosesTextOrByteCopy) {
  const std::string page =
      "<HTML>\n<TITLE>" + title_jis + "</TITLE>\n<P>" + title_jis + "\n";
  struct row {
    int graphic;
    int shiftjis;
    std::string output;
    std::string title;
  } rows[] = {
      // An HTML page with SHIFTJIS set arrives in Shift-JIS, CR LF ended.
      {0, 1,
       "<HTML>\r\n<TITLE>" + title_sjis + "</TITLE>\r\n<P>" + title_sjis +
           "\r\n",
       title_sjis},
      // Any flg_graphic but 1 counts as a document.
      {2, 1,
       "<HTML>\r\n<TITLE>" + title_sjis + "</TITLE>\r\n<P>" + title_sjis +
           "\r\n",
       title_sjis},
      // An image, and everything under SHIFTJIS 0, goes byte for byte; the
      // title is then the raw bytes.
      {1, 1, page, title_jis},
      {0, 0, page, title_jis},
      {1, 0, page, title_jis},
  };
  for (const row &r : rows) {
    SCOPED_TRACE("graphic " + std::to_string(r.graphic) + " shiftjis " +
                 std::to_string(r.shiftjis));
    EXPECT_EQ(1, copy(page, r.graphic, r.shiftjis));
    EXPECT_EQ(r.output, read_host_file("out.htm"));
    EXPECT_EQ(r.title, std::string(hst_title));
  }
  EXPECT_EQ("", log_text());
}

TEST_F(FileCopy, TextModeRules) {
  const std::string nul(1, '\0');
  struct row {
    const char *what;
    std::string input;
    std::string output;
  } rows[] = {
      {"CR LF arrives as LF and goes out as CR LF", "a\r\nb\r\n", "a\r\nb\r\n"},
      {"a CR without LF stays", "a\rb\n", "a\rb\r\n"},
      {"the last line needs no line end", "a\nbc", "a\r\nbc"},
      {"1A ends the copy",
       "ab\ncd\x1a"
       "ef\ngh\n",
       "ab\r\ncd"},
      {"a NUL drops the rest of its line", "ab" + nul + "cd\nef\n", "abef\r\n"},
      {"an empty source", "", ""},
  };
  for (const row &r : rows) {
    SCOPED_TRACE(r.what);
    EXPECT_EQ(1, copy(r.input));
    EXPECT_EQ(r.output, read_host_file("out.htm"));
  }
}

TEST_F(FileCopy, LongLinesGoInPiecesOf32511Bytes) {
  struct row {
    const char *what;
    std::string input;
    std::string output;
  } rows[] = {
      // The NUL empties only the rest of the first piece: the second
      // piece begins exactly after 32511 bytes.
      {"NUL in the first piece",
       "a" + std::string(1, '\0') + std::string(32509, 'x') + "TAIL\n",
       "aTAIL\r\n"},
      {"a long line joins again", std::string(40000, 'x') + "\n",
       std::string(40000, 'x') + "\r\n"},
      // The first piece ends in a lead byte: the converted piece would be
      // one byte longer than the conversion buffer, and arrives whole.
      {"a piece cut inside a Shift-JIS character",
       std::string(32510, 'x') + "\x88\x9f\n",
       std::string(32510, 'x') + "\x88\x9f\r\n"},
  };
  for (const row &r : rows) {
    SCOPED_TRACE(r.what);
    EXPECT_EQ(1, copy(r.input));
    EXPECT_EQ(r.output, read_host_file("out.htm"));
  }
}

TEST_F(FileCopy, ByteCopyBlocksOf32512Bytes) {
  // A title tag 8 bytes before the end of the first block, its one title
  // byte the block's last: the title shows where the block ended.
  std::string block(COPYBUF_SIZE - 8, 'x');
  block += "<TITLE>Z";
  struct row {
    std::string source;
    std::string title;
  } rows[] = {
      {block, "Z"},        // one block of 32512 bytes
      {block + "Y", "Z"},  // a block of 32512 bytes, then one of 1 byte
  };
  for (const row &r : rows) {
    SCOPED_TRACE(r.source.size());
    EXPECT_EQ(1, copy(r.source, 1));
    EXPECT_EQ(r.source, read_host_file("out.htm"));
    EXPECT_EQ(r.title, std::string(hst_title));
  }
}

TEST_F(FileCopy, EmptySourceGivesEmptyOutputWithTimes) {
  for (int graphic = 0; graphic <= 1; graphic++) {
    SCOPED_TRACE(graphic);
    EXPECT_EQ(1, copy("", graphic));
    EXPECT_TRUE(host_file_exists("out.htm"));
    EXPECT_EQ("", read_host_file("out.htm"));
    EXPECT_EQ(source_mtime, host_file_mtime("out.htm"));
  }
  EXPECT_EQ("", log_text());
}

TEST_F(FileCopy, CopyGetsTheSourceTimes) {
  for (int graphic = 0; graphic <= 1; graphic++) {
    SCOPED_TRACE(graphic);
    write_host_file("cache.htm", "<P>text\n");
    struct timespec ts[2];
    ts[0].tv_sec = 900000000;  // access, distinct from the write time
    ts[0].tv_nsec = 0;
    ts[1].tv_sec = source_mtime;
    ts[1].tv_nsec = 0;
    ASSERT_EQ(0, utimensat(AT_FDCWD, "cache.htm", ts, 0));
    settings.flg_graphic = graphic;
    EXPECT_EQ(1, file_copy("cache.htm", "out.htm"));
    struct stat src, out;
    ASSERT_EQ(0, stat("cache.htm", &src));
    ASSERT_EQ(0, stat("out.htm", &out));
    EXPECT_EQ(source_mtime, static_cast<int64_t>(out.st_mtime));
    // The access time as the source had it after being read.
    EXPECT_EQ(src.st_atime, out.st_atime);
  }
}

TEST_F(FileCopy, Failures) {
  struct row {
    const char *what;
    int graphic;
    const char *out;
    int fail_op;  // PLAT_OP_COUNT for none
    long fail_nth;
    int persist;
    bool creates_output;
  } rows[] = {
      {"output directory missing, text", 0, "nodir\\out.htm", PLAT_OP_COUNT, 0,
       0, false},
      {"output directory missing, bytes", 1, "nodir\\out.htm", PLAT_OP_COUNT, 0,
       0, false},
      {"a block not read", 1, "out.htm", PLAT_OP_READ, 1, 0, true},
      {"a block not written", 1, "out.htm", PLAT_OP_WRITE, 1, 1, true},
  };
  const std::string source(40000, 'x');
  for (const row &r : rows) {
    SCOPED_TRACE(r.what);
    std::remove("out.htm");
    fresh_log();
    write_host_file("cache.htm", source);
    settings.flg_graphic = r.graphic;
    if (r.fail_op != PLAT_OP_COUNT)
      plat_fail_nth(r.fail_op, r.fail_nth, EIO, r.persist);
    EXPECT_EQ(0, file_copy("cache.htm", r.out));
    plat_fail_reset();
    EXPECT_EQ(copy_failed, log_text());
    EXPECT_EQ(r.creates_output, host_file_exists("out.htm"));
  }
}

TEST_F(FileCopy, MissingSourceLeavesAnEmptyOutput) {
  for (int graphic = 0; graphic <= 1; graphic++) {
    SCOPED_TRACE(graphic);
    std::remove("out.htm");
    settings.flg_graphic = graphic;
    EXPECT_EQ(0, file_copy("missing.htm", "out.htm"));
    // Both files are opened before either is tested.
    EXPECT_TRUE(host_file_exists("out.htm"));
    EXPECT_EQ("", read_host_file("out.htm"));
  }
  EXPECT_EQ(copy_failed + copy_failed, log_text());
}

TEST_F(FileCopy, TimeStampFailuresAreSilent) {
  // The third open is the reopening for the times; then the setting itself.
  const int ops[] = {PLAT_OP_OPEN, PLAT_OP_SETTIME};
  const long nth[] = {3, 1};
  for (int i = 0; i < 2; i++) {
    SCOPED_TRACE(i);
    plat_fail_nth(ops[i], nth[i], EACCES, 0);
    EXPECT_EQ(1, copy("<P>text\n", 1));
    plat_fail_reset();
    EXPECT_EQ("<P>text\n", read_host_file("out.htm"));
    EXPECT_NE(source_mtime, host_file_mtime("out.htm"));
  }
  EXPECT_EQ("", log_text());
}

TEST_F(FileCopy, DebugTraces) {
  settings.flg_debug = 3;
  EXPECT_EQ(1, copy("\x1b$B\x30\x21\x1b(B\n"));
  EXPECT_EQ(
      "cache.htm -> out.htm\n"
      "copybuf=\x1b$B\x30\x21\x1b(B\n\n"
      "cache  =\x88\x9f\n\n",
      log_text());
}

TEST_F(FileCopy, TitleCapture) {
  struct row {
    const char *what;
    std::string source;
    std::string title;
    int hst_type;
    int graphic;
  } rows[] = {
      {"capitals", "<HEAD><TITLE>Welcome</TITLE></HEAD>\n", "Welcome", 1, 0},
      {"small letters", "<title>Welcome</title>\n", "Welcome", 3, 0},
      {"mixed capitals not found", "<Title>Welcome</Title>\n", "", 1, 0},
      {"attributes not found", "<TITLE lang=en>Welcome</TITLE>\n", "", 1, 0},
      {"closing tag of the other case ends it too", "<TITLE>A</title>\n", "A",
       1, 0},
      {"mixed closing tag does not end it", "<TITLE>A</Title>\n", "A</Title>\n",
       1, 0},
      {"tag at the end of a line", "<TITLE>\nWelcome</TITLE>\n", "\n", 1, 0},
      {"closing tag on a later line", "<TITLE>Open\nend</TITLE>\n", "Open\n", 1,
       0},
      {"empty title, then Second", "<TITLE></TITLE>\n<TITLE>Second</TITLE>\n",
       "Second", 1, 0},
      {"the first of two wins", "<TITLE>First</TITLE>\n<TITLE>Two</TITLE>\n",
       "First", 1, 0},
      {"tag in the last 7 bytes", "x<TITLE>", "", 1, 0},
      {"cut to 259 bytes", "<TITLE>" + std::string(300, 'a') + "</TITLE>\n",
       std::string(TEXT_SIZE - 1, 'a'), 1, 0},
      {"byte copy takes the chunk across lines", "<TITLE>A\r\nB</TITLE>\r\n",
       "A\r\nB", 1, 1},
      {"HISTORYPUT 2", "<TITLE>Welcome</TITLE>\n", "", 2, 0},
      {"HISTORYPUT 4", "<TITLE>Welcome</TITLE>\n", "", 4, 0},
      {"HISTORYPUT 0", "<TITLE>Welcome</TITLE>\n", "", 0, 1},
  };
  for (const row &r : rows) {
    SCOPED_TRACE(r.what);
    std::strcpy(hst_title, "stale");  // every copy starts afresh
    settings.flg_hst_type = r.hst_type;
    EXPECT_EQ(1, copy(r.source, r.graphic));
    EXPECT_EQ(r.title, std::string(hst_title));
  }
}

TEST_F(FileCopy, ByteCopyOver4GiB) {
  // A sparse source just over 4 GiB: the length is not cut to 32 bits.
  const int64_t size = (int64_t{1} << 32) + 5;
  struct statvfs fs;
  if (statvfs(".", &fs) != 0 ||
      static_cast<int64_t>(fs.f_bavail) * static_cast<int64_t>(fs.f_frsize) <
          size + (int64_t{1} << 30))
    GTEST_SKIP() << "not enough room for the copy";
  int fd = open("big.bin", O_CREAT | O_WRONLY | O_TRUNC, 0644);
  ASSERT_GE(fd, 0);
  bool made = ftruncate(fd, size) == 0 && pwrite(fd, "TAIL!", 5, size - 5) == 5;
  close(fd);
  if (!made) {
    std::remove("big.bin");
    GTEST_SKIP() << "the file system refuses a sparse file";
  }
  settings.flg_graphic = 1;
  int result = file_copy("big.bin", "big.out");
  std::remove("big.bin");
  struct stat st;
  int stat_result = stat("big.out", &st);
  char tail[6] = {0};
  int out = open("big.out", O_RDONLY);
  ssize_t got = out >= 0 ? pread(out, tail, 5, size - 5) : -1;
  if (out >= 0) close(out);
  std::remove("big.out");
  EXPECT_EQ(1, result);
  ASSERT_EQ(0, stat_result);
  EXPECT_EQ(size, static_cast<int64_t>(st.st_size));
  EXPECT_EQ(5, got);
  EXPECT_STREQ("TAIL!", tail);
}

}  // namespace
