// The cache index reader, and the fixture tool that writes the caches the
// tests read.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "src/cache/cache.h"
#include "src/settings/settings.h"
#include "test_support.h"

namespace {

// Runs mkcache on the manifest text; returns its exit code, stderr in err.
int run_mkcache(const std::string &manifest, const std::string &outdir,
                std::string *err = nullptr) {
  write_host_file("manifest.txt", manifest);
  std::string cmd = std::string("'") + MKCACHE_BINARY + "' manifest.txt '" +
                    outdir + "' 2>mkcache.err";
  int status = std::system(cmd.c_str());
  if (err) *err = read_host_file("mkcache.err");
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Everything written to standard output while it is alive.
class stdout_capture {
 public:
  stdout_capture() {
    std::fflush(stdout);
    saved_ = dup(1);
    int fd = open("stdout.txt", O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(fd, 1);
    close(fd);
  }
  ~stdout_capture() { stop(); }
  std::string stop() {
    if (saved_ >= 0) {
      std::fflush(stdout);
      dup2(saved_, 1);
      close(saved_);
      saved_ = -1;
      text_ = read_host_file("stdout.txt");
    }
    return text_;
  }

 private:
  int saved_ = -1;
  std::string text_;
};

int no_key_waiting() { return 0; }
int escape_waiting() { return 1; }
int read_escape() { return 27; }

class CacheTest : public ::testing::Test {
 protected:
  void SetUp() override {
    settings_reset();
    cache_reset();
    plat_fail_reset();
    plat_set_key_source(no_key_waiting, read_escape);
    std::snprintf(settings.fat_filename, TEXT_SIZE, "c\\");
  }
  void TearDown() override {
    cache_reset();
    plat_set_key_source(nullptr, nullptr);
  }

  void make_cache(const std::string &manifest) {
    std::string err;
    ASSERT_EQ(run_mkcache(manifest, "c", &err), 0) << err;
  }

  struct read_entry {
    uint32_t number;
    uint32_t recsize;
    std::string directory;
    std::string http;
    std::string file;
  };
  // The run loop's reading: proc_read and proc_conv until one returns 0.
  std::vector<read_entry> read_all() {
    std::vector<read_entry> out;
    for (int guard = 0; guard < 1000 && proc_read(); ++guard) {
      EXPECT_EQ(proc_conv(), 1);
      EXPECT_EQ(cache_entry.count, 1u);
      out.push_back({fat_number, fat_recsize, settings.fat_directory,
                     cache_entry.item[0].http, cache_entry.item[0].file});
    }
    return out;
  }
  static std::vector<std::string> urls(const std::vector<read_entry> &v) {
    std::vector<std::string> out;
    for (const read_entry &e : v) out.push_back(e.http);
    return out;
  }

  scratch_dir dir_;
};

// One record in each of the eight index files.
std::string all_eight_manifest() {
  std::string m;
  for (int n = 1; n <= 8; ++n)
    m += "index " + std::to_string(n) + "\nrec http://h" + std::to_string(n) +
         ".example/ F" + std::to_string(n) + ".HTM\n";
  return m;
}

TEST_F(CacheTest, ReadsTheEightFilesInOrderThenStaysDone) {
  make_cache(all_eight_manifest());
  settings.flg_debug = 1;
  stdout_capture cap;
  std::vector<read_entry> got = read_all();
  std::string out = cap.stop();

  ASSERT_EQ(got.size(), 8u);
  for (uint32_t i = 0; i < 8; ++i) {
    uint32_t n = i + 1;
    SCOPED_TRACE(n);
    EXPECT_EQ(got[i].number, n);
    EXPECT_EQ(got[i].recsize, n % 2 ? 256u : 2048u);
    EXPECT_EQ(got[i].directory,
              "c\\cache" + std::to_string((n + 1) / 2) + "\\");
    EXPECT_EQ(got[i].http, "http://h" + std::to_string(n) + ".example/");
    EXPECT_EQ(got[i].file, "F" + std::to_string(n) + ".HTM");
  }
  EXPECT_EQ(fat_number, 9u);
  EXPECT_EQ(settings.fat_stream, nullptr);
  // Done for good: no further file is tried.
  long opens = plat_op_count(PLAT_OP_OPEN);
  EXPECT_EQ(proc_read(), 0);
  EXPECT_EQ(proc_read(), 0);
  EXPECT_EQ(fat_number, 9u);
  EXPECT_EQ(plat_op_count(PLAT_OP_OPEN), opens);

  std::string expected;
  const char *names[] = {"cache1\\mm256.dat", "cache1\\mm2048.dat",
                         "cache2\\mm256.dat", "cache2\\mm2048.dat",
                         "cache3\\mm256.dat", "cache3\\mm2048.dat",
                         "cache4\\mm256.dat", "cache4\\mm2048.dat"};
  for (const char *name : names)
    expected +=
        std::string("open cache c\\") + name + "\nIE cache 1\nIE read  1\n";
  EXPECT_EQ(out, expected);
}

TEST_F(CacheTest, TracesAtDebugLevelOne) {
  make_cache(
      "index 1\nrec http://a/1 A1\nrec http://a/2 A2\nrec http://a/3 A3\n"
      "index 2\nrec http://b/1 B1\n");
  settings.flg_debug = 1;
  stdout_capture cap;
  for (int i = 0; i < 3; ++i) {
    ASSERT_EQ(proc_read(), 1);
    ASSERT_EQ(proc_conv(), 1);
  }
  EXPECT_EQ(fat_number, 1u);
  ASSERT_EQ(proc_read(), 1);  // the fourth opens the next file
  EXPECT_EQ(fat_number, 2u);
  EXPECT_EQ(cap.stop(),
            "open cache c\\cache1\\mm256.dat\nIE cache 3\n"
            "IE read  1\nIE read  2\nIE read  3\n"
            "open cache c\\cache1\\mm2048.dat\nIE cache 1\nIE read  1\n");
}

TEST_F(CacheTest, TracesTheRecordAtDebugLevelTwoAndNothingAtZero) {
  make_cache("index 1\nrec http://a.example/x.htm X.HTM\n");
  {
    stdout_capture cap;
    ASSERT_EQ(proc_read(), 1);
    ASSERT_EQ(proc_conv(), 1);
    EXPECT_EQ(cap.stop(), "");
  }
  cache_reset();
  settings.flg_debug = 2;
  stdout_capture cap;
  ASSERT_EQ(proc_read(), 1);
  ASSERT_EQ(proc_conv(), 1);
  EXPECT_EQ(cap.stop(),
            "open cache c\\cache1\\mm256.dat\nIE cache 1\nIE read  1\n"
            "cache get\nNo. =1\nhttp= 22:http://a.example/x.htm\n"
            "file=  5:X.HTM\n");
}

// The header's count decides how many records are taken from a file; the
// second file then follows, or a failed read ends the run.
struct count_case {
  const char *name;
  const char *first;  // manifest lines of index 1
  std::vector<std::string> urls;
  uint32_t final_number;  // fat_number once proc_read returned 0
};

void PrintTo(const count_case &c, std::ostream *os) { *os << c.name; }

class CacheCountTest : public CacheTest,
                       public ::testing::WithParamInterface<count_case> {};

TEST_P(CacheCountTest, TakesTheCountedRecords) {
  const count_case &c = GetParam();
  make_cache(std::string("index 1 ") + c.first +
             "\nindex 2\nrec http://second/ S\n");
  stdout_capture cap;
  std::vector<read_entry> got = read_all();
  cap.stop();
  EXPECT_EQ(urls(got), c.urls);
  EXPECT_EQ(fat_number, c.final_number);
}

const count_case count_cases[] = {
    {"ZeroStillReadsOne",
     "count=0\nrec http://a/1 A\nrec http://a/2 A",
     {"http://a/1", "http://second/"},
     3},
    {"ZeroWithNoRecordEndsTheRun", "count=0", {}, 1},
    {"ExtraRecordsNeverRead",
     "count=2\nrec http://a/1 A\nrec http://a/2 A\nrec http://a/3 A",
     {"http://a/1", "http://a/2", "http://second/"},
     3},
    {"FewerRecordsThanCountedEndTheRun",
     "count=3\nrec http://a/1 A\nrec http://a/2 A",
     {"http://a/1", "http://a/2"},
     1},
    {"NegativeReadsToTheEnd",
     "count=-1\nrec http://a/1 A\nrec http://a/2 A\nrec http://a/3 A",
     {"http://a/1", "http://a/2", "http://a/3"},
     1},
    {"MostNegative", "count=-32768\nrec http://a/1 A", {"http://a/1"}, 1},
    {"ShortLastRecordEndsTheRun",
     "count=2\nrec http://a/1 A\nrec http://a/2 A\ntruncate 255",
     {"http://a/1"},
     1},
    {"LargestCount", "count=32767\nrec http://a/1 A", {"http://a/1"}, 1},
};

INSTANTIATE_TEST_SUITE_P(Counts, CacheCountTest,
                         ::testing::ValuesIn(count_cases),
                         [](const ::testing::TestParamInfo<count_case> &i) {
                           return std::string(i.param.name);
                         });

TEST_F(CacheTest, ShortReadIsCountedAndTraced) {
  make_cache("index 1\nrec http://a/1 A\nrec http://a/2 A\ntruncate 100\n");
  settings.flg_debug = 1;
  stdout_capture cap;
  EXPECT_EQ(proc_read(), 1);
  EXPECT_EQ(proc_read(), 0);
  EXPECT_EQ(fat_read, 2u);
  std::string out = cap.stop();
  EXPECT_EQ(out.substr(out.size() - 22), "IE read  1\nIE read  2\n");
}

TEST_F(CacheTest, CountIsSignExtended) {
  make_cache("index 1 count=-2\nrec http://a/ A\n");
  ASSERT_EQ(cache_open(1), 1);
  EXPECT_EQ(fat_count, 0xFFFFFFFEu);
  EXPECT_EQ(fat_read, 0u);
  EXPECT_EQ(fat_recsize, 256u);
}

TEST_F(CacheTest, MissingFileEndsTheReadingForGood) {
  // cache1\mm2048.dat is missing; cache2\mm256.dat exists but is never tried.
  make_cache("index 1\nrec http://a/ A\nindex 3\nrec http://c/ C\n");
  stdout_capture cap;
  std::vector<read_entry> got = read_all();
  long opens = plat_op_count(PLAT_OP_OPEN);
  EXPECT_EQ(proc_read(), 0);
  EXPECT_EQ(plat_op_count(PLAT_OP_OPEN), opens);
  EXPECT_EQ(cap.stop(), "cache file can't open 'c\\cache1\\mm2048.dat'.\n\n");
  EXPECT_EQ(urls(got), std::vector<std::string>{"http://a/"});
  EXPECT_EQ(fat_number, 2u);
  EXPECT_EQ(std::string(settings.fat_directory), "c\\cache1\\");
  EXPECT_EQ(settings.fat_stream, nullptr);
}

TEST_F(CacheTest, NoCacheAtAllEndsAtTheFirstFile) {
  stdout_capture cap;
  EXPECT_EQ(proc_read(), 0);
  EXPECT_EQ(cap.stop(), "cache file can't open 'c\\cache1\\mm256.dat'.\n\n");
  EXPECT_EQ(fat_number, 1u);
}

TEST_F(CacheTest, RootWithoutBackslashNamesTheJoinedPath) {
  make_cache(all_eight_manifest());
  std::snprintf(settings.fat_filename, TEXT_SIZE, "c");
  stdout_capture cap;
  EXPECT_EQ(proc_read(), 0);
  EXPECT_EQ(cap.stop(), "cache file can't open 'ccache1\\mm256.dat'.\n\n");
  EXPECT_EQ(std::string(settings.fat_directory), "ccache1\\");
}

TEST_F(CacheTest, ShortHeaderCannotBeRead) {
  // A header of 1023 bytes holds the count but is still too short.
  make_cache("index 1 header=1023 count=1\nindex 2\nrec http://b/ B\n");
  stdout_capture cap;
  EXPECT_EQ(proc_read(), 0);
  EXPECT_EQ(cap.stop(), "cache file can't read\n\n");
  EXPECT_NE(settings.fat_stream, nullptr);  // left for the end of the run
  EXPECT_EQ(std::string(settings.fat_directory), "c\\cache1\\");
  EXPECT_EQ(proc_read(), 0);
  EXPECT_EQ(fat_number, 1u);
}

TEST_F(CacheTest, OpenZeroDoesNothing) {
  std::snprintf(settings.fat_directory, TEXT_SIZE, "keep\\");
  EXPECT_EQ(cache_open(0), 1);
  EXPECT_EQ(std::string(settings.fat_directory), "keep\\");
  EXPECT_EQ(settings.fat_stream, nullptr);
  EXPECT_EQ(fat_number, 0u);
  EXPECT_EQ(plat_op_count(PLAT_OP_OPEN), 0);
}

TEST_F(CacheTest, LongestRootIsCutInsteadOfOverflowing) {
  std::string root(TEXT_SIZE - 1, 'r');
  std::snprintf(settings.fat_filename, TEXT_SIZE, "%s", root.c_str());
  stdout_capture cap;
  EXPECT_EQ(cache_open(1), 0);
  std::string out = cap.stop();
  EXPECT_EQ(std::string(settings.fat_directory), root);
  EXPECT_EQ(out, "cache file can't open '" + root + "'.\n\n");
}

// What proc_conv takes out of one record: the record is read with cache_open
// and proc_read, and the bytes after it in fat_buffer are spoilt, so that a
// reader looking past the record would be seen.
struct record_case {
  const char *name;
  int index;
  std::string rec;  // the manifest's record line
  std::string http;
  std::string file;
};

void PrintTo(const record_case &c, std::ostream *os) { *os << c.name; }

class CacheRecordTest : public CacheTest,
                        public ::testing::WithParamInterface<record_case> {};

TEST_P(CacheRecordTest, TakesUrlAndFileName) {
  const record_case &c = GetParam();
  make_cache("index " + std::to_string(c.index) + "\n" + c.rec + "\n");
  ASSERT_EQ(cache_open(static_cast<unsigned>(c.index)), 1);
  ASSERT_EQ(proc_read(), 1);
  std::memset(fat_buffer + fat_recsize, 'X', 512);
  ASSERT_EQ(proc_conv(), 1);
  EXPECT_EQ(std::string(cache_entry.item[0].http), c.http);
  EXPECT_EQ(std::string(cache_entry.item[0].file), c.file);
  EXPECT_EQ(cache_entry.count, 1u);
}

std::string repeat_to(const std::string &text, size_t n) {
  std::string out;
  while (out.size() < n) out += text;
  return out.substr(0, n);
}

const std::string url300 = "http://long.example/" + std::string(280, 'p');

const record_case record_cases[] = {
    {"Plain", 1, "rec http://a.example/x.htm X.HTM", "http://a.example/x.htm",
     "X.HTM"},
    {"EmptyUrlAndFile", 1, "rec - -", "", ""},
    {"BytesBeforeTheUrlIgnored", 1,
     "rec-raw " + std::string(224, 'f') + "687474703a2f2f612f00463100",
     "http://a/", "F1"},
    {"ShiftJisName", 2, "rec http://a/\\x83\\x65.htm \\x83\\x65\\x83\\x58",
     "http://a/\x83\x65.htm", "\x83\x65\x83\x58"},
    // The file name is found after the whole URL, not after the cut copy.
    {"Url300In2048Record", 2, "rec " + url300 + " NAME.HTM",
     url300.substr(0, 259), "NAME.HTM"},
    {"FileName300Cut", 2, "rec http://a/ " + std::string(300, 'n'), "http://a/",
     std::string(259, 'n')},
    {"UrlExactly259", 2, "rec " + url300.substr(0, 259) + " F",
     url300.substr(0, 259), "F"},
    // Unterminated texts run to the record's end.
    {"OpenUrl256", 1, "rec-open http://open.example/",
     repeat_to("http://open.example/", 144), ""},
    {"OpenUrl2048", 2, "rec-open http://open.example/",
     repeat_to("http://open.example/", 259), ""},
    {"OpenFileName256", 1, "rec-open2 http://a/ ABCDEFG", "http://a/",
     repeat_to("ABCDEFG", 256 - 112 - 10)},
    {"OpenFileName2048", 2, "rec-open2 http://a/ ABCDEFG", "http://a/",
     repeat_to("ABCDEFG", 259)},
    // The URL's NUL is the record's last byte: no room for a name.
    {"UrlNulAtTheEnd", 1,
     "rec-raw " + std::string(224, '0') + std::string(284, '6') + "6100",
     std::string(142, 'f') + "a", ""},
};

INSTANTIATE_TEST_SUITE_P(Records, CacheRecordTest,
                         ::testing::ValuesIn(record_cases),
                         [](const ::testing::TestParamInfo<record_case> &i) {
                           return std::string(i.param.name);
                         });

TEST_F(CacheTest, EscapeStopsAfterTheEntryIsFilled) {
  make_cache("index 1\nrec http://a/ A\n");
  ASSERT_EQ(proc_read(), 1);
  plat_set_key_source(escape_waiting, read_escape);
  EXPECT_EQ(proc_conv(), 0);
  EXPECT_EQ(std::string(cache_entry.item[0].http), "http://a/");
  EXPECT_EQ(std::string(cache_entry.item[0].file), "A");
  EXPECT_EQ(cache_entry.count, 1u);
}

TEST_F(CacheTest, ResetClosesTheStreamAndStartsOver) {
  make_cache("index 1 count=2\nrec http://a/1 A\nrec http://a/2 A\n");
  ASSERT_EQ(proc_read(), 1);
  ASSERT_NE(settings.fat_stream, nullptr);
  cache_reset();
  EXPECT_EQ(settings.fat_stream, nullptr);
  EXPECT_EQ(fat_number, 0u);
  EXPECT_EQ(fat_count, 0u);
  EXPECT_EQ(fat_read, 0u);
  ASSERT_EQ(proc_read(), 1);
  ASSERT_EQ(proc_conv(), 1);
  EXPECT_EQ(std::string(cache_entry.item[0].http), "http://a/1");
}

// The bundled sample: every index file is there, and every cached file but
// the one that is meant to be missing.
TEST_F(CacheTest, SampleCacheReadsWhole) {
  ASSERT_EQ(std::system(("'" + std::string(MKCACHE_BINARY) + "' '" +
                         VELDOR_SOURCE_DIR + "/sample/sample.manifest' c")
                            .c_str()),
            0);
  std::vector<read_entry> got = read_all();
  EXPECT_EQ(fat_number, 9u);
  ASSERT_EQ(got.size(), 16u);
  uint32_t seen = 0;
  int missing = 0;
  for (const read_entry &e : got) {
    seen |= 1u << e.number;
    std::string host = e.directory.substr(2);  // "cacheN\"
    host[host.size() - 1] = '/';
    if (!host_file_exists("c/" + host + e.file)) {
      ++missing;
      EXPECT_EQ(e.http, "http://www.example.co.jp/about/");
    }
  }
  EXPECT_EQ(seen, 0x1FEu);
  EXPECT_EQ(missing, 1);
}

// ---- the fixture tool ----------------------------------------------------

class MkcacheTest : public ::testing::Test {
 protected:
  scratch_dir dir_;
};

TEST_F(MkcacheTest, WritesTheIndexLayout) {
  ASSERT_EQ(run_mkcache("# a comment\n\nindex 2 count=-3\n"
                        "rec http://a.example/\\s\\x41 F\\\\1\n"
                        "rec-raw 0102 03\n"
                        "index 7\r\n",
                        "out"),
            0);
  std::string idx = read_host_file("out/cache1/mm2048.dat");
  std::string want(1024, '\0');
  want[40] = '\xFD';
  want[41] = '\xFF';
  std::string r1(112, '\0');
  r1 += std::string("http://a.example/ A") + '\0' + "F\\1";
  r1.resize(2048, '\0');
  std::string r2("\x01\x02\x03", 3);
  r2.resize(2048, '\0');
  EXPECT_EQ(idx, want + r1 + r2);

  std::string empty(1024, '\0');
  EXPECT_EQ(read_host_file("out/cache4/mm256.dat"), empty);
  EXPECT_FALSE(host_file_exists("out/cache1/mm256.dat"));
}

TEST_F(MkcacheTest, ShortHeaderTruncationAndOpenRecords) {
  ASSERT_EQ(run_mkcache("index 1 header=41 count=258\n"
                        "index 3 recsize=120\nrec-open2 u xy\n"
                        "rec-open ab\ntruncate 116\n",
                        "out"),
            0);
  std::string h = read_host_file("out/cache1/mm256.dat");
  ASSERT_EQ(h.size(), 41u);
  EXPECT_EQ(h[40], '\x02');
  std::string idx = read_host_file("out/cache2/mm256.dat");
  ASSERT_EQ(idx.size(), 1024u + 120 + 116);
  EXPECT_EQ(idx[40], 2);
  EXPECT_EQ(idx.substr(1024 + 112, 8), std::string("u\0xyxyxy", 8));
  EXPECT_EQ(idx.substr(1024 + 120 + 112, 4), "abab");
}

TEST_F(MkcacheTest, WritesCachedFilesWithTheirTimes) {
  ASSERT_EQ(
      run_mkcache("file cache1/A.HTM 1997-05-05T09:07:00Z <p>\\s\\t\\r\\n\\0-\n"
                  "file-hex cache2/sub/B.GIF 1998-12-31T23:59:59Z 4749 4638\n"
                  "file-repeat C.TXT 1997-01-01T00:00:00Z 3 ab\n"
                  "file-size D.BIN 1997-01-01T00:00:00Z 70\n"
                  "file-size E.BIN 1997-01-01T00:00:00Z 5000000 sparse\n"
                  "dir cache3/A.HTM 1997-06-01T12:00:00Z\n"
                  "file cache3/A.HTM/inner 1997-01-01T00:00:00Z x\n",
                  "out"),
      0);
  EXPECT_EQ(read_host_file("out/cache1/A.HTM"),
            std::string("<p> \t\r\n\0-", 9));
  EXPECT_EQ(host_file_mtime("out/cache1/A.HTM"),
            utc_seconds(1997, 5, 5, 9, 7, 0));
  EXPECT_EQ(read_host_file("out/cache2/sub/B.GIF"), "GIF8");
  EXPECT_EQ(host_file_mtime("out/cache2/sub/B.GIF"),
            utc_seconds(1998, 12, 31, 23, 59, 59));
  EXPECT_EQ(read_host_file("out/C.TXT"), "ababab");
  EXPECT_EQ(read_host_file("out/D.BIN").size(), 70u);
  struct stat st;
  ASSERT_EQ(stat("out/E.BIN", &st), 0);
  EXPECT_EQ(st.st_size, 5000000);
  // The directory's time is set after the file inside it was written.
  ASSERT_EQ(stat("out/cache3/A.HTM", &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
  EXPECT_EQ(st.st_mtime, utc_seconds(1997, 6, 1, 12, 0, 0));
}

TEST_F(MkcacheTest, ChmodIsAppliedLast) {
  ASSERT_EQ(run_mkcache("chmod cache1 000\nchmod cache1/mm256.dat 0640\n"
                        "index 1\nrec http://a/ A\n",
                        "out"),
            0);
  struct stat st;
  ASSERT_EQ(stat("out/cache1", &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0u);
  chmod("out/cache1", 0755);
  ASSERT_EQ(stat("out/cache1/mm256.dat", &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
}

TEST_F(MkcacheTest, MalformedLinesAreRefusedWithTheirNumber) {
  const std::string bad[] = {
      "index 0",
      "index 9",
      "index 1 count=32768",
      "index 1 header=1024",
      "index 1 colour=red",
      "index 1\nindex 1",
      "rec http://a/ A",
      "index 1\nrec http://a/",
      "index 1\nrec http://a/ A extra",
      "index 1\nrec " + std::string(130, 'u') + " " + std::string(20, 'f'),
      "index 1\nrec http://a/\\q A",
      "index 1\nrec http://a/\\x4 A",
      "index 1\nrec-raw 0",
      "index 1\nrec-raw " + std::string(514, '0'),
      "index 1\ntruncate 3",
      "index 1\nrec a b\ntruncate 256",
      "index 1 header=10\nrec a b",
      "file ../x 1997-01-01T00:00:00Z a",
      "file /x 1997-01-01T00:00:00Z a",
      "file - 1997-01-01T00:00:00Z a",
      "file x 1997-02-29T00:00:00Z a",
      "file x 1997-01-01 a",
      "file-size x 1997-01-01T00:00:00Z -5",
      "chmod x 9",
      "frobnicate",
  };
  for (const std::string &b : bad) {
    SCOPED_TRACE(b);
    std::string text = "# leading comment\n" + b + "\n";
    std::string err;
    EXPECT_EQ(run_mkcache(text, "out", &err), 2);
    int line = 2 + static_cast<int>(std::count(b.begin(), b.end(), '\n'));
    EXPECT_EQ(err.rfind("mkcache: " + std::to_string(line) + ": ", 0), 0u)
        << err;
  }
}

}  // namespace
