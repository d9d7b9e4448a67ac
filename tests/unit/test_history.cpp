// The history page: which entries get lines, the lines' form, the page head
// and run headings, and the escaping of titles and URLs.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "platform/platform.h"
#include "src/entry/entry.h"
#include "src/history/history.h"
#include "src/settings/settings.h"
#include "test_support.h"

namespace {

const std::string page_head =
    "<TITLE>History from TORVIK</TITLE>\n<H2>History from TORVIK</H2>\n"
    "<DL><P>\n";
// "変換時刻" in Shift-JIS.
const std::string conversion_time = "\x95\xcf\x8a\xb7\x8e\x9e\x8d\x8f";

// "日本語のページ" in JIS and in Shift-JIS.
const std::string title_jis =
    "\x1b$B\x46\x7c\x4b\x5c\x38\x6c\x24\x4e\x25\x5a\x21\x3c\x25\x38\x1b(B";
const std::string title_sjis =
    "\x93\xfa\x96\x7b\x8c\xea\x82\xcc\x83\x79\x81\x5b\x83\x57";

const char url[] = "http://example.com/a/index.html";
const char out_path[] = "C:\\OUT\\A\\INDEX.HTM";
const std::string link = "/C|/OUT/A/INDEX.HTM";


std::string local_line(const std::string &prefix, const std::string &href,
                       const std::string &label) {
  return "    <DT>" + prefix + "<A HREF=\"file://" + href + "\">" + label +
         "</A>\n";
}

std::string heading(const std::string &when) {
  return "</DL>\n<HR><DT><H3>" + conversion_time + "   " + when +
         "</H3>\n<DL><P>\n";
}

int64_t ms_at(int year, int month, int day, int hour, int minute, int second) {
  return utc_seconds(year, month, day, hour, minute, second) * 1000;
}

class History : public ::testing::Test {
 protected:
  void SetUp() override {
    settings_reset();
    plat_fail_reset();
    set_fake_now(ms_at(1997, 3, 5, 12, 34, 56));
    string_set(settings.hst_filename, "HISTORY.HTM");
    hst_title[0] = '\0';
  }
  void TearDown() override {
    end_run();
    restore_real_clock();
    settings_reset();
  }

  static void string_set(char *field, const char *text) {
    std::snprintf(field, TEXT_SIZE, "%s", text);
  }

  // What run_end does for the page.
  void end_run() {
    if (settings.hst_stream != nullptr) std::fclose(settings.hst_stream);
    settings.hst_stream = nullptr;
  }

  std::string page() {
    end_run();
    return read_host_file("HISTORY.HTM");
  }

  // One entry as the pipeline leaves it: a document named by its URL.
  void entry(const char *entry_url = url, const char *url_filename = "a.htm",
             const char *output = out_path) {
    hst_entry(entry_url, url_filename, output);
  }

  tz_guard tz_{"UTC0"};
  scratch_dir dir_;
};

TEST_F(History, SelectionByHistorySet) {
  struct row {
    int mode;
    const char *url_filename;
    int flg_filename;
    int graphic;
    int ftp;
    bool selected;
  } rows[] = {
      {0, "index.htm", 0, 0, 0, false},
      {1, "", 0, 1, 0, true},  // a URL ending in a directory
      {1, "a.htm", 1, 0, 0, false},
      {2, "index.html", 1, 1, 0, true},
      {2, "INDEX.HTM", 1, 1, 0, true},
      {2, "Index.Htm", 1, 1, 0, true},
      {2, "", 0, 0, 0, false},  // named after domain_root, not the URL
      {2, "index.ht", 1, 0, 0, false},
      {2, "myindex.htm", 1, 0, 0, false},
      {3, "a.htm", 1, 0, 0, true},   // an HTML page
      {3, "a.gif", 1, 1, 0, false},  // an image
      {3, "", 0, 1, 1, true},        // an ftp directory
      {3, "a.txt", 1, 1, 1, false},  // an ftp file
      {3, "", 0, 1, 0, false},       // an http directory holding an image
  };
  for (const row &r : rows) {
    SCOPED_TRACE(std::to_string(r.mode) + " " + r.url_filename);
    settings.flg_hst_mode = r.mode;
    settings.flg_hst_type = 2;
    settings.flg_filename = r.flg_filename;
    settings.flg_graphic = r.graphic;
    settings.flg_url_ftp = r.ftp;
    entry(url, r.url_filename);
    std::string expected =
        r.selected ? crlf(page_head + local_line("", link, url)) : "";
    EXPECT_EQ(expected, page());
    std::remove("HISTORY.HTM");
  }
}

TEST_F(History, OtherHistorySetValuesWriteNothing) {
  // Every condition that a selecting value could look at holds.
  settings.flg_filename = 0;
  settings.flg_graphic = 0;
  settings.flg_url_ftp = 1;
  const int modes[] = {0, 4, 5, 6, 7, 8, 10, 99, -1};
  for (int mode : modes) {
    SCOPED_TRACE(mode);
    settings.flg_hst_mode = mode;
    entry(url, "index.htm");
    EXPECT_EQ(nullptr, settings.hst_stream);
    EXPECT_FALSE(host_file_exists("HISTORY.HTM"));
  }
}

TEST_F(History, HistorySet9WritesThePlainLink) {
  // Whatever HISTORYPUT and HISTORYDATE ask for, and for an image too.
  write_host_file("out.htm", "x");
  const int types[] = {0, 1, 3, 4};
  for (int type : types) {
    SCOPED_TRACE(type);
    settings.flg_hst_mode = 9;
    settings.flg_hst_type = type;
    settings.flg_hst_date = 12;
    settings.flg_graphic = 1;
    std::strcpy(hst_title, "Title");
    entry(url, "a.gif", "out.htm");
    EXPECT_EQ(
        crlf(page_head + "    <DT><A HREF=\"" + url + "\">" + url + "</A>\n"),
        page());
    std::remove("HISTORY.HTM");
  }
}

TEST_F(History, LinesByHistoryPut) {
  const std::string web_line =
      std::string("    <DT><A HREF=\"") + url + "\">" + url + "</A>\n";
  struct row {
    int type;
    const char *title;  // as the copy left it
    std::string lines;
  } rows[] = {
      {1, "Welcome", local_line("", link, "Welcome")},
      {1, "", local_line("", link, url)},  // no title: the URL
      {2, "Welcome", local_line("", link, url)},
      {3, "Welcome",
       local_line("", link, "Welcome") + local_line("", link, url)},
      {4, "", local_line("", link, url) + web_line},
      {4, "Welcome", local_line("", link, "Welcome") + web_line},
      {0, "Welcome", ""},
      {5, "Welcome", ""},
      {-1, "Welcome", ""},
  };
  for (const row &r : rows) {
    SCOPED_TRACE(r.type);
    settings.flg_hst_mode = 3;
    settings.flg_hst_type = r.type;
    std::strcpy(hst_title, r.title);
    entry();
    EXPECT_EQ(r.lines.empty() ? "" : crlf(page_head + r.lines), page());
    std::remove("HISTORY.HTM");
  }
}

TEST_F(History, LinkPaths) {
  struct row {
    const char *out;
    const char *link;
  } rows[] = {
      {"C:\\OUT\\A\\INDEX.HTM", "/C|/OUT/A/INDEX.HTM"},
      {"d:\\x", "/d|/x"},
      {"OUT\\A.HTM", "OUT/A.HTM"},
      {".\\A.HTM", "./A.HTM"},
      // a double-byte character whose second byte is 5C keeps it
      {"\\OUT\\\x95\x5C\\\x83\x5C.HTM", "/OUT/\x95\x5C/\x83\x5C.HTM"},
  };
  settings.flg_hst_mode = 3;
  settings.flg_hst_type = 1;
  for (const row &r : rows) {
    SCOPED_TRACE(r.out);
    std::strcpy(hst_title, "T");
    entry(url, "a.htm", r.out);
    EXPECT_EQ(crlf(page_head + local_line("", r.link, "T")), page());
    std::remove("HISTORY.HTM");
  }
}

TEST_F(History, DatePrefixes) {
  struct row {
    int date;
    int64_t file_time;  // -1: no output file
    std::string prefix;
  } rows[] = {
      {0, utc_seconds(1997, 3, 5, 12, 34, 56), ""},
      {4, utc_seconds(1997, 3, 5, 12, 34, 56), "97/03/05 "},
      {8, utc_seconds(1997, 3, 5, 12, 34, 56), "97/03/05 12:34:56  "},
      {12, utc_seconds(1997, 3, 5, 12, 34, 56), "97/03/05 12:34:56  "},
      {12, utc_seconds(2000, 1, 1, 9, 8, 7), "00/01/01 09:08:06  "},
      {12, utc_seconds(2009, 12, 31, 23, 59, 59), "09/12/31 23:59:58  "},
      {12, -1, ""},  // the copy failed before its output existed
  };
  settings.flg_hst_mode = 3;
  settings.flg_hst_type = 1;
  for (const row &r : rows) {
    SCOPED_TRACE(r.prefix);
    std::remove("out.htm");
    if (r.file_time >= 0) {
      write_host_file("out.htm", "x");
      set_host_file_time("out.htm", r.file_time);
    }
    settings.flg_hst_date = r.date;
    std::strcpy(hst_title, "T");
    entry(url, "a.htm", "out.htm");
    EXPECT_EQ(crlf(page_head + local_line(r.prefix, "out.htm", "T")), page());
    std::remove("HISTORY.HTM");
  }
}

TEST_F(History, RunHeadings) {
  struct row {
    int date;
    int64_t now;
    std::string heading;
  } rows[] = {
      {1, ms_at(1997, 3, 5, 12, 34, 56), heading("97/03/05 ")},
      {2, ms_at(1997, 3, 5, 12, 34, 56), heading("97/03/05 12:34:56")},
      {3, ms_at(1997, 3, 5, 12, 34, 56), heading("97/03/05 12:34:56")},
      {3, ms_at(2000, 1, 1, 0, 0, 1), heading("00/01/01 00:00:00")},
      {4, ms_at(1997, 3, 5, 12, 34, 56), ""},
      {8, ms_at(1997, 3, 5, 12, 34, 56), ""},
      {0, ms_at(1997, 3, 5, 12, 34, 56), ""},
  };
  for (const row &r : rows) {
    SCOPED_TRACE(r.date);
    set_fake_now(r.now);
    settings.flg_hst_date = r.date;
    // One heading per run, before its first line.
    hst_print("    <DT>%s\n", "one");
    hst_print("    <DT>%d\n", 2);
    EXPECT_EQ(crlf(page_head + r.heading + "    <DT>one\n    <DT>2\n"), page());
    std::remove("HISTORY.HTM");
  }
}

TEST_F(History, PageAcrossRuns) {
  settings.flg_hst_date = 3;
  hst_print("    <DT>run1\n");
  end_run();
  // The second run's heading carries the time of its first line.
  set_fake_now(ms_at(1997, 3, 6, 8, 0, 0));
  hst_print("    <DT>run2\n");
  EXPECT_EQ(crlf(page_head + heading("97/03/05 12:34:56") + "    <DT>run1\n" +
                 heading("97/03/06 08:00:00") + "    <DT>run2\n"),
            page());
}

TEST_F(History, ExistingPageGetsNoHead) {
  struct row {
    const char *what;
    std::string before;
  } rows[] = {
      {"a page of earlier runs", crlf(page_head + "    <DT>old\n")},
      {"an empty file", ""},
  };
  for (const row &r : rows) {
    SCOPED_TRACE(r.what);
    write_host_file("HISTORY.HTM", r.before);
    hst_print("    <DT>new\n");
    EXPECT_EQ(r.before + crlf("    <DT>new\n"), page());
  }
}

TEST_F(History, HistoryFileOffWritesNothing) {
  settings.flg_hst_file = 0;
  settings.flg_hst_mode = 9;
  entry();
  hst_print("    <DT>x\n");
  EXPECT_EQ(nullptr, settings.hst_stream);
  EXPECT_FALSE(host_file_exists("HISTORY.HTM"));
}

// Standard output, captured into a file for the time of a call.
class stdout_capture {
 public:
  stdout_capture() {
    std::fflush(stdout);
    saved_ = dup(1);
    int fd = open("stdout.txt", O_CREAT | O_WRONLY | O_TRUNC, 0644);
    dup2(fd, 1);
    close(fd);
  }
  std::string finish() {
    std::fflush(stdout);
    dup2(saved_, 1);
    close(saved_);
    return read_host_file("stdout.txt");
  }

 private:
  int saved_;
};

TEST_F(History, PageThatCannotBeOpened) {
  string_set(settings.hst_filename, "nodir\\HISTORY.HTM");
  settings.flg_hst_mode = 3;
  settings.flg_hst_type = 3;  // two lines for the entry
  stdout_capture capture;
  entry();
  hst_print("    <DT>x\n");
  std::string out = capture.finish();
  const std::string message = "file can't open 'nodir\\HISTORY.HTM'.\n\n";
  EXPECT_EQ(message + message + message, out);
  EXPECT_EQ(nullptr, settings.hst_stream);
}

TEST_F(History, TitleConversion) {
  struct row {
    const char *what;
    int shiftjis;
    std::string title;
    std::string label;
  } rows[] = {
      {"SHIFTJIS 0 converts a JIS title", 0, title_jis, title_sjis},
      {"SHIFTJIS 0 converts an EUC title", 0, "\xc6\xfc\xcb\xdc\xb8\xec",
       "\x93\xfa\x96\x7b\x8c\xea"},
      {"SHIFTJIS 1 leaves the title", 1, "\xc6\xfc\xcb\xdc",
       "\xc6\xfc\xcb\xdc"},
      // The converted title may take a byte more than its text; no overrun.
      {"a 259-byte title ending in a lead byte", 0,
       std::string(258, 'a') + "\x88", std::string(258, 'a') + "\x88"},
  };
  settings.flg_hst_mode = 3;
  settings.flg_hst_type = 1;
  for (const row &r : rows) {
    SCOPED_TRACE(r.what);
    settings.flg_shiftjis = r.shiftjis;
    std::strcpy(hst_title, r.title.c_str());
    entry();
    EXPECT_EQ(crlf(page_head + local_line("", link, r.label)), page());
    std::remove("HISTORY.HTM");
  }
}

TEST_F(History, UrlLabelIsNotConverted) {
  // An EUC-looking URL stays as it is when it stands in for the title.
  const std::string raw_url = "http://example.com/\xb0\xa1";
  settings.flg_hst_mode = 3;
  settings.flg_hst_type = 1;
  settings.flg_shiftjis = 0;
  entry(raw_url.c_str());
  EXPECT_EQ(crlf(page_head + local_line("", link, raw_url)), page());
}

TEST_F(History, PageExample) {
  // HISTORYPUT 3 and HISTORYDATE 12: two dated lines per entry.
  write_host_file("out.htm", "x");
  set_host_file_time("out.htm", utc_seconds(1997, 3, 5, 12, 34, 56));
  settings.flg_hst_mode = 3;
  settings.flg_hst_type = 3;
  settings.flg_hst_date = 12;
  std::strcpy(hst_title, "Welcome");
  entry(url, "index.html", "out.htm");
  const std::string prefix = "97/03/05 12:34:56  ";
  EXPECT_EQ(crlf(page_head + local_line(prefix, "out.htm", "Welcome") +
                 local_line(prefix, "out.htm", url)),
            page());
}

TEST_F(History, TitlesAndUrlsCannotAddMarkup) {
  const char bad_url[] = "http://x.com/a\"b>c<d";
  const std::string url_href = "http://x.com/a%22b>c<d";
  const std::string url_label = "http://x.com/a\"b&gt;c&lt;d";
  struct row {
    const char *what;
    int mode;
    int type;
    const char *title;
    const char *out;
    std::string lines;
  } rows[] = {
      {"a script title", 3, 1, "<script>alert(1)</script>", out_path,
       local_line("", link, "&lt;script&gt;alert(1)&lt;/script&gt;")},
      {"an entity in a title stays", 3, 1, "A &amp; B", out_path,
       local_line("", link, "A &amp; B")},
      {"the URL as label and as web link", 3, 4, "", out_path,
       local_line("", link, url_label) + "    <DT><A HREF=\"" + url_href +
           "\">" + url_label + "</A>\n"},
      {"the plain link", 9, 1, "", out_path,
       "    <DT><A HREF=\"" + url_href + "\">" + url_label + "</A>\n"},
      {"a quote in the link path", 3, 1, "T", "C:\\OUT\\A\"B.HTM",
       local_line("", "/C|/OUT/A%22B.HTM", "T")},
  };
  for (const row &r : rows) {
    SCOPED_TRACE(r.what);
    settings.flg_hst_mode = r.mode;
    settings.flg_hst_type = r.type;
    std::strcpy(hst_title, r.title);
    entry(bad_url, "a.htm", r.out);
    EXPECT_EQ(crlf(page_head + r.lines), page());
    std::remove("HISTORY.HTM");
  }
}

TEST(HistoryEscape, CutToTheOutputSize) {
  const std::string all_lt(TEXT_SIZE - 1, '<');
  std::string all_lt_escaped;
  for (size_t i = 0; i < all_lt.size(); i++) all_lt_escaped += "&lt;";
  const std::string all_quotes(TEXT_SIZE - 1, '"');
  std::string all_quotes_escaped;
  for (size_t i = 0; i < all_quotes.size(); i++) all_quotes_escaped += "%22";
  struct row {
    const char *what;
    bool label;
    std::string text;
    unsigned size;
    std::string out;
  } rows[] = {
      {"259 '<' fit 4x+1", true, all_lt, 4 * (TEXT_SIZE - 1) + 1,
       all_lt_escaped},
      {"an entity is not split", true, "a<<b", 10, "a&lt;&lt;"},
      {"the cut falls before the entity", true, "ab<", 6, "ab"},
      {"plain bytes to the last byte", true, "abcdef", 4, "abc"},
      {"size 1 is the NUL alone", true, "<", 1, ""},
      {"'>' and '<' both", true, "a>b<c", 16, "a&gt;b&lt;c"},
      {"259 quotes fit 3x+1", false, all_quotes, 3 * (TEXT_SIZE - 1) + 1,
       all_quotes_escaped},
      {"a quote is not split", false, "a\"", 4, "a"},
      {"angle brackets stay in a link", false, "<a>&", 8, "<a>&"},
  };
  for (const row &r : rows) {
    SCOPED_TRACE(r.what);
    // Exact-size heap buffers: ASan sees any write past them.
    std::unique_ptr<char[]> out(new char[r.size]);
    if (r.label)
      hst_escape_label(r.text.c_str(), out.get(), r.size);
    else
      hst_escape_href(r.text.c_str(), out.get(), r.size);
    EXPECT_EQ(r.out, std::string(out.get()));
  }
}

}  // namespace
