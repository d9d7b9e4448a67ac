// URL mapping: classification and splitting, the domain folder, directory and
// file names, the CGI treatment, the joined path, and the guarantee that no
// URL maps to a path outside the output root. Field bounds are checked with
// guard bytes after every field, and by exact-size heap fields under ASan.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "src/settings/settings.h"
#include "src/urlmap/urlmap.h"

#if defined(__SANITIZE_ADDRESS__)
#define URLMAP_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define URLMAP_ASAN 1
#endif
#endif

namespace {

// ---- settings overrides
// ------------------------------------------------------

// Applies "KEY=VALUE;KEY=VALUE" with the profile's key names onto the
// defaults; an empty value empties a text field.
void apply_settings(const std::string &overrides) {
  size_t pos = 0;
  while (pos < overrides.size()) {
    size_t end = overrides.find(';', pos);
    if (end == std::string::npos) end = overrides.size();
    std::string item = overrides.substr(pos, end - pos);
    pos = end + 1;
    size_t eq = item.find('=');
    ASSERT_NE(eq, std::string::npos) << item;
    std::string key = item.substr(0, eq);
    std::string value = item.substr(eq + 1);
    int number = std::atoi(value.c_str());
    char *text = nullptr;
    if (key == "SKIP_WWW")
      settings.flg_skip_www = number;
    else if (key == "DOMAIN_FLG")
      settings.flg_dom_flg = number;
    else if (key == "DOMAIN_DIR")
      settings.flg_dom_dir = number;
    else if (key == "DIR_MAX")
      settings.flg_dir_max = number;
    else if (key == "CAPITAL_DOMAIN")
      settings.flg_cap_dom = number;
    else if (key == "CAPITAL_DIR")
      settings.flg_cap_dir = number;
    else if (key == "CAPITAL_FILE")
      settings.flg_cap_file = number;
    else if (key == "CGI_FILE")
      settings.flg_cgi_file = number;
    else if (key == "IP_ADDRESS")
      text = settings.domain_ip;
    else if (key == "DOMAIN_EXT")
      text = settings.domain_ext;
    else if (key == "ROOTHTML")
      text = settings.domain_root;
    else if (key == "CGI_NAME")
      text = settings.cgi_name;
    else if (key == "OUTDIR")
      text = settings.out_directory;
    else if (key == "DOMAIN_SUB") {
      text = settings.domain_sub;
      settings.flg_sub_dir = 1;
    } else {
      ADD_FAILURE() << "unknown key " << key;
    }
    if (text != nullptr) {
      ASSERT_LT(value.size(), static_cast<size_t>(TEXT_SIZE));
      std::memcpy(text, value.c_str(), value.size() + 1);
    }
  }
}

struct table_pair {
  const char *dom;
  const char *dir;
};

void set_table(const table_pair *pairs, size_t n) {
  domain_table.dom_count = 0;
  for (size_t i = 0; i < n && pairs[i].dom != nullptr; i++) {
    domain_entry &e = domain_table.entry[domain_table.dom_count++];
    std::snprintf(e.dom, TEXT_SIZE, "%s", pairs[i].dom);
    std::snprintf(e.dir, TEXT_SIZE, "%s", pairs[i].dir);
  }
}

class UrlMap : public ::testing::Test {
 protected:
  void SetUp() override { settings_reset(); }
  void TearDown() override { settings_reset(); }
};

// ---- fields with guards
// --------------------------------------------------------

#ifdef URLMAP_ASAN
const size_t kGuard = 0;  // exact size: the sanitizer sees any overrun
#else
const size_t kGuard = 32;
#endif

// A field of the given size followed by guard bytes that must stay untouched.
struct field {
  std::vector<char> bytes;
  size_t size;
  explicit field(size_t n) : bytes(n + kGuard, '\x5a'), size(n) {
    bytes[0] = '\0';
  }
  char *get() { return bytes.data(); }
  std::string str() const { return std::string(bytes.data()); }
  // Terminated within the field and the guard intact.
  bool sound() const {
    if (std::memchr(bytes.data(), '\0', size) == nullptr) return false;
    for (size_t i = size; i < size + kGuard; i++)
      if (bytes[i] != '\x5a') return false;
    return true;
  }
};

// The URL handed in as the cache reader hands it: at most 259 bytes in a
// 260-byte field.
struct url_field : field {
  explicit url_field(const std::string &url) : field(TEXT_SIZE) {
    std::snprintf(get(), TEXT_SIZE, "%s", url.c_str());
  }
};

// ---- the entry pipeline's order of calls ------------------------------------

enum outcome { MAPPED, DROPPED_DIR, DROPPED_FILE, TOO_LONG };

struct mapped_entry {
  int kind = 0;
  field url_domain{TEXT_SIZE}, url_directory{TEXT_SIZE},
      url_filename{TEXT_SIZE};
  field dir_domain{TEXT_SIZE}, dir_directory{TEXT_SIZE},
      dir_filename{TEXT_SIZE};
  field out_filename{OUT_PATH_SIZE};
  int name = -1, cgi_dir = -1, cgi_file = -1, graphic = -1;
  outcome result = MAPPED;

  bool sound() const {
    return url_domain.sound() && url_directory.sound() &&
           url_filename.sound() && dir_domain.sound() &&
           dir_directory.sound() && dir_filename.sound() &&
           out_filename.sound();
  }
};

// Classification, split, mapping, CGI treatment of directory then file name,
// the CGI_NAME replacement, the graphic test and the join, in the order the
// entry pipeline calls them.
void run_pipeline(const std::string &url, mapped_entry &e) {
  url_field u(url);
  e.kind = url_kind(u.get());
  url_split_domain(e.kind, u.get(), e.url_domain.get());
  url_split_directory(e.kind, u.get(), e.url_directory.get());
  url_split_filename(e.kind, u.get(), e.url_filename.get());
  todir_domain(e.url_domain.get(), e.dir_domain.get());
  todir_directory(e.url_directory.get(), e.dir_directory.get());
  e.name = todir_filename(e.url_filename.get(), e.dir_filename.get());
  e.cgi_dir = cgi_proc(e.dir_directory.get());
  if (e.cgi_dir == 0) {
    e.result = DROPPED_DIR;
    return;
  }
  e.cgi_file = cgi_proc(e.dir_filename.get());
  if (e.cgi_file == 0) {
    e.result = DROPPED_FILE;
    return;
  }
  if (e.cgi_file == 3 && settings.cgi_name[0] != '\0')
    std::snprintf(e.dir_filename.get(), TEXT_SIZE, "%s", settings.cgi_name);
  if (e.kind != URL_FTP && e.kind != URL_FILE)
    e.graphic = graphic_test(e.dir_filename.get());
  if (todir_path(e.dir_domain.get(), e.dir_directory.get(),
                 e.dir_filename.get(), e.out_filename.get()) != 0)
    e.result = TOO_LONG;
}

// ---- the root check
// ----------------------------------------------------------

bool sjis_lead(unsigned char c) {
  return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
}
bool sjis_trail(unsigned char c) {
  return (c >= 0x40 && c <= 0x7E) || (c >= 0x80 && c <= 0xFC);
}
bool only_dots_blanks(const std::string &c) {
  return c.find('.') != std::string::npos &&
         c.find_first_not_of(". ") == std::string::npos;
}

// Components split at '\' and '/', a Shift-JIS double-byte character kept
// whole; or byte by byte, as a host blind to Shift-JIS would.
std::vector<std::string> components(const std::string &path, bool sjis) {
  std::vector<std::string> out(1);
  for (size_t i = 0; i < path.size(); i++) {
    unsigned char c = static_cast<unsigned char>(path[i]);
    if (sjis && sjis_lead(c) && i + 1 < path.size() &&
        sjis_trail(static_cast<unsigned char>(path[i + 1]))) {
      out.back() += path.substr(i, 2);
      i++;
    } else if (c == '\\' || c == '/') {
      out.emplace_back();
    } else {
      out.back() += static_cast<char>(c);
    }
  }
  return out;
}

// The path lies below root: it begins with root, no component of the rest is
// a name the host resolves as "." or "..", and resolving the rest lexically,
// even byte by byte and taking every dot name as "..", never climbs above
// the root.
::testing::AssertionResult below_root(const std::string &path,
                                      const std::string &root) {
  if (path.compare(0, root.size(), root) != 0)
    return ::testing::AssertionFailure() << path << " does not begin with root";
  std::string rest = path.substr(root.size());
  for (const std::string &c : components(rest, true))
    if (only_dots_blanks(c))
      return ::testing::AssertionFailure()
             << path << " has the component \"" << c << "\"";
  int depth = 0;
  for (const std::string &c : components(rest, false)) {
    if (only_dots_blanks(c)) {
      if (--depth < 0)
        return ::testing::AssertionFailure() << path << " climbs above root";
    } else if (!c.empty()) {
      depth++;
    }
  }
  return ::testing::AssertionSuccess();
}

// ---- URL classification and splitting
// ----------------------------------------

TEST_F(UrlMap, KindAndSplit) {
  struct row {
    const char *url;
    int kind;
    const char *domain, *directory, *filename;
  } rows[] = {
      {"http://example.com/a/b/c.html", 1, "example.com", "a/b", "c.html"},
      {"https://example.com/", 2, "example.com", "", ""},
      {"http://example.com", 1, "example.com", "", ""},
      {"http://example.com/a/b/", 1, "example.com", "a/b", ""},
      {"http://example.com/index.html", 1, "example.com", "", "index.html"},
      {"http://example.com/cgi/q.cgi?x=1/2", 1, "example.com", "cgi/q.cgi?x=1",
       "2"},
      {"ftp://anon@ftp.example.org:21/pub/f.zip", 3, "anon@ftp.example.org:21",
       "pub", "f.zip"},
      {"file:///C:/dir/f.htm", 4, "", "C:/dir", "f.htm"},
      {"gopher://host.example/1/menu", 5, "gopher:", "/host.example/1", "menu"},
      {"", 5, "", "", ""},
      // Any case of the scheme; the parts keep the URL's own case.
      {"HtTpS://Example.COM/Dir/B.Html", 2, "Example.COM", "Dir", "B.Html"},
      {"HTTP://X/y", 1, "X", "", "y"},
      {"Ftp://h/", 3, "h", "", ""},
      {"FILE://h/a/b", 4, "h", "a", "b"},
      // The colon and both slashes belong to the prefix test.
      {"http:/example.com/a", 5, "http:", "example.com", "a"},
      {"https:example.com", 5, "https:example.com", "", ""},
      {"http:", 5, "http:", "", ""},
      {"ftp:/", 5, "ftp:", "", ""},
      // A query is not treated apart.
      {"http://h/p?q=/x/y", 1, "h", "p?q=/x", "y"},
      {"http://h#frag", 1, "h#frag", "", ""},
  };
  for (const row &r : rows) {
    SCOPED_TRACE(r.url);
    url_field u(r.url);
    int kind = url_kind(u.get());
    EXPECT_EQ(kind, r.kind);
    field d(TEXT_SIZE), dir(TEXT_SIZE), f(TEXT_SIZE);
    url_split_domain(kind, u.get(), d.get());
    url_split_directory(kind, u.get(), dir.get());
    url_split_filename(kind, u.get(), f.get());
    EXPECT_EQ(d.str(), r.domain);
    EXPECT_EQ(dir.str(), r.directory);
    EXPECT_EQ(f.str(), r.filename);
    EXPECT_EQ(u.str(), r.url) << "the URL is never changed";
    EXPECT_TRUE(d.sound() && dir.sound() && f.sound());
  }
}

// ---- domain folder
// -------------------------------------------------------------

TEST_F(UrlMap, DomainFolder) {
  struct row {
    const char *settings;
    table_pair table[2];
    const char *url_domain;
    const char *dir_domain;
  } rows[] = {
      {"", {}, "www.example.com", "COM\\EXAMPLE.DOM"},
      {"", {}, "example.com", "COM\\EXAMPLE.DOM"},
      {"", {}, "www2.example.com", "COM\\EXAMPLE.DOM"},
      {"", {}, "wwwexample.com", "COM.DOM"},
      {"", {}, "ftp.example.org:21", "ORG\\EXAMPLE.DOM"},
      {"", {}, "user@host.example.com:80", "COM\\EXAMPLE\\HOST.DOM"},
      {"", {}, "a.b.c.example.com", "COM\\EXAMPLE\\C\\B\\A.DOM"},
      {"", {}, "localhost", "LOCALHOST.DOM"},
      {"", {}, "192.0.2.1", "00.DOM"},
      {"", {}, "", "00.DOM"},
      {"DOMAIN_DIR=0", {}, "a.example.com", "A\\EXAMPLE\\COM.DOM"},
      {"DOMAIN_DIR=2", {}, "a.example.com", "A.EXAMPLE.COM.DOM"},
      {"DOMAIN_DIR=3", {}, "a.example.com", "COM.EXAMPLE.A.DOM"},
      {"DOMAIN_DIR=4", {}, "a.example.com", "AEXAMPLECOM.DOM"},
      {"DOMAIN_DIR=8", {}, "a.example.com", "A_EXAMPLE_COM.DOM"},
      {"DOMAIN_DIR=9", {}, "a.example.com", "COM_EXAMPLE_A.DOM"},
      {"DOMAIN_DIR=14", {}, "a.example.com", "AEXAMPLECOM.DOM"},
      {"DOMAIN_DIR=10", {}, "a.example.com", "A_EXAMPLE_COM.DOM"},
      {"SKIP_WWW=0", {}, "user@example.com:80", "COM:80\\EXAMPLE\\USER.DOM"},
      {"SKIP_WWW=7",
       {},
       "user@host.example.com:80",
       "COM\\EXAMPLE\\HOST\\USER.DOM"},
      {"SKIP_WWW=1", {}, "www.example.com", "COM\\EXAMPLE\\WWW.DOM"},
      {"SKIP_WWW=14", {}, "host.com:80", "COM:80\\HOST.DOM"},
      {"CAPITAL_DOMAIN=0", {}, "a.Example.com", "com\\Example\\a.DOM"},
      {"DOMAIN_EXT=", {}, "a.example.com", "COM\\EXAMPLE\\A"},
      {"IP_ADDRESS=", {}, "192.0.2.1", "1\\2\\0\\192.DOM"},
      {"DIR_MAX=8", {}, "verylongdomainname.com", "COM\\VERYLONG.DOM"},
      {"DIR_MAX=8;DOMAIN_DIR=2",
       {},
       "verylongdomainname.com",
       "VERYLONG.COM.DOM"},
      // Domain table.
      {"", {{"example.com", "EX"}}, "www.example.com", "EX.DOM"},
      {"", {{"example.com", "EX.COM"}}, "a.b.example.com", "COM\\EX\\B\\A.DOM"},
      {"DOMAIN_FLG=1",
       {{"example.com", "EX.COM"}},
       "example.com",
       "EX.COM.DOM"},
      {"DOMAIN_FLG=1",
       {{"example.com", "EX.COM"}},
       "a.b.example.com",
       "B\\AEX.COM.DOM"},
      {"DOMAIN_FLG=1;DOMAIN_DIR=0",
       {{"example.com", "EX.COM"}},
       "a.b.example.com",
       "A\\B\\EX.COM.DOM"},
      {"", {{"example.com", "E"}}, "myexample.com", "MYE.DOM"},
      {"",
       {{"com", "C"}, {"example.com", "E"}},
       "a.example.com",
       "C\\EXAMPLE\\A.DOM"},
      {"", {{"Example.com", "E"}}, "example.com", "COM\\EXAMPLE.DOM"},
      {"", {{"xexample.com", "E"}}, "example.com", "COM\\EXAMPLE.DOM"},
      // The "www" cut after the table may leave the text shorter than the
      // protected tail.
      {"DOMAIN_FLG=1", {{"example.com", "www.EX"}}, "example.com", "EX.DOM"},
      // A protected replacement is never numeric, and its dots stay.
      {"DOMAIN_FLG=1", {{"2.1", "X.1"}}, "192.0.2.1", "0\\192X.1.DOM"},
      {"DOMAIN_FLG=1", {{"2.1", "9.9"}}, "192.0.2.1", "0\\1929.9.DOM"},
      {"", {{"2.1", "9.9"}}, "192.0.2.1", "00.DOM"},
      // Port and user part.
      {"", {}, "user:pw@host.example.com:80", "COM\\EXAMPLE\\HOST.DOM"},
      {"", {}, "user:pw@host.example.com", "USER.DOM"},
      {"", {}, "a@b@host.com", "COM\\HOST.DOM"},
      {"SKIP_WWW=0", {}, "a@b@host.com", "COM\\HOST\\A@B.DOM"},
      // Only "www"/"WWW" and "ftp"/"FTP" are cut, and only before a '.'.
      {"", {}, "Www.example.com", "COM\\EXAMPLE\\WWW.DOM"},
      {"", {}, "wWW.example.com", "COM\\EXAMPLE\\WWW.DOM"},
      {"", {}, "WWW.example.com", "COM\\EXAMPLE.DOM"},
      {"", {}, "www", "WWW.DOM"},
      {"", {}, "FTP.example.org", "ORG\\EXAMPLE.DOM"},
      {"", {}, "Ftp.example.org", "ORG\\EXAMPLE\\FTP.DOM"},
      {"SKIP_WWW=11", {}, "ftp.example.org", "ORG\\EXAMPLE\\FTP.DOM"},
      // Numeric and empty hosts.
      {"IP_ADDRESS=ip", {}, "10.0.0.1", "IP.DOM"},
      {"IP_ADDRESS=;DOMAIN_EXT=", {}, "", ""},
      {"IP_ADDRESS=", {}, "", ".DOM"},
      {"", {}, "1.2.3.x", "X\\3\\2\\1.DOM"},
      // Removed dots close up, two in a row included.
      {"DOMAIN_DIR=4", {}, "a..b.com", "ABCOM.DOM"},
      // A doubled dot gives a doubled backslash, passed on as it is.
      {"", {}, "a..b", "B\\\\A.DOM"},
      {"DIR_MAX=0", {}, "a.example.com", "\\\\.DOM"},
      {"DIR_MAX=9",
       {},
       "verylongdomainname.com",
       "COM\\VERYLONGDOMAINNAME.DOM"},
      {"DIR_MAX=-1",
       {},
       "verylongdomainname.com",
       "COM\\VERYLONGDOMAINNAME.DOM"},
      // Upper-casing leaves a double-byte character whole.
      {"",
       {},
       "x\x82"
       "a.com",
       "COM\\X\x82"
       "a.DOM"},
  };
  for (const row &r : rows) {
    SCOPED_TRACE(std::string(r.settings) + " | " + r.url_domain);
    settings_reset();
    apply_settings(r.settings);
    set_table(r.table, 2);
    field in(TEXT_SIZE), out(TEXT_SIZE);
    std::snprintf(in.get(), TEXT_SIZE, "%s", r.url_domain);
    todir_domain(in.get(), out.get());
    EXPECT_EQ(out.str(), r.dir_domain);
    EXPECT_EQ(in.str(), r.url_domain);
    EXPECT_TRUE(out.sound());
  }
}

TEST_F(UrlMap, DomainTableAndReverse) {
  struct apply_row {
    const char *settings;
    table_pair table[2];
    const char *text, *expected;
    int keep;
  } applies[] = {
      {"", {{"example.com", "EX.COM"}}, "a.example.com", "a.EX.COM", 0},
      {"DOMAIN_FLG=1",
       {{"example.com", "EX.COM"}},
       "a.example.com",
       "a.EX.COM",
       6},
      {"DOMAIN_FLG=3", {{"example.com", "EX"}}, "a.example.com", "a.EX", 2},
      {"DOMAIN_FLG=2", {{"example.com", "EX"}}, "a.example.com", "a.EX", 0},
      {"DOMAIN_FLG=1", {{"org", "O"}, {"com", "C"}}, "a.com", "a.C", 1},
      {"DOMAIN_FLG=1", {{"com", "C"}, {"a.com", "A"}}, "a.com", "a.C", 1},
      {"DOMAIN_FLG=1", {{"net", "N"}}, "a.com", "a.com", 0},
      {"DOMAIN_FLG=1", {{"a.com", ""}}, "a.com", "", 0},
  };
  for (const apply_row &r : applies) {
    SCOPED_TRACE(r.text);
    settings_reset();
    apply_settings(r.settings);
    set_table(r.table, 2);
    field t(TEXT_SIZE);
    std::snprintf(t.get(), TEXT_SIZE, "%s", r.text);
    EXPECT_EQ(domain_table_apply(t.get()), r.keep);
    EXPECT_EQ(t.str(), r.expected);
  }

  struct reverse_row {
    const char *text;
    int keep;
    const char *expected;
  } reverses[] = {
      {"a.b.c", 0, "c.b.a"},
      {"a.b.", 0, ".b.a"},
      {".a", 0, "a."},
      {"..", 0, ".."},
      {"", 0, ""},
      {"abc", 0, "abc"},
      {"a.b.EX.COM", 6, ".b.aEX.COM"},
      {"x.EX", 10, "x.EX"},
      {"a.b.c", -3, "c.b.a"},
      {"a..b", 0, "b..a"},
  };
  for (const reverse_row &r : reverses) {
    SCOPED_TRACE(r.text);
    field t(TEXT_SIZE);
    std::snprintf(t.get(), TEXT_SIZE, "%s", r.text);
    domain_reverse(t.get(), r.keep);
    EXPECT_EQ(t.str(), r.expected);
  }
}

TEST_F(UrlMap, DirMaxCut) {
  struct row {
    int dir_max;
    const char *text, *expected;
  } rows[] = {
      {8, "verylongname", "verylong"},
      {8, "index.html", "index.htm"},
      {8, "longdirectoryname\\sub.dir", "longdire\\sub.dir"},
      {8, "ver1.2\\docs", "ver1.2\\docs"},
      {8, "a.b\\c.txt", "a.b\\c"},
      {8, "abcdefghij.k\\docs", "abcdefgh\\docs"},
      {8, ".hidden", ".hid"},
      {3, "abcdef.ghij", "abc.ghi"},
      {8, "x.ab", "x.ab"},
      {1, "abc.d", "a.d"},
      {0, "ab\\cd.ef", "\\.ef"},
      {0, "ab\\cd\\", "\\\\"},
      {8, "", ""},
      {9, "verylongname.html", "verylongname.html"},
      {260, "verylongname.html", "verylongname.html"},
      {-1, "verylongname.html", "verylongname.html"},
  };
  for (const row &r : rows) {
    SCOPED_TRACE(std::to_string(r.dir_max) + " " + r.text);
    settings.flg_dir_max = r.dir_max;
    field t(TEXT_SIZE);
    std::snprintf(t.get(), TEXT_SIZE, "%s", r.text);
    dir_max_cut(t.get());
    EXPECT_EQ(t.str(), r.expected);
  }
}

// An overlong domain folder is cut to the field's 259 bytes.
TEST_F(UrlMap, OverlongDomainFolderIsCut) {
  const std::string long_dir(258, 'X');
  struct row {
    const char *settings;
    std::string expected;
  } rows[] = {
      // "a." and the replacement: 260 bytes, cut; no room for ".DOM".
      {"DOMAIN_DIR=2", "A." + std::string(257, 'X')},
      {"DOMAIN_DIR=2;DOMAIN_FLG=1", "A." + std::string(257, 'X')},
      // Reversed: the replacement first, the host label last.
      {"", std::string(257, 'X') + "\\A"},
  };
  for (const row &r : rows) {
    SCOPED_TRACE(r.settings);
    settings_reset();
    apply_settings(r.settings);
    table_pair t[] = {{"com", long_dir.c_str()}};
    set_table(t, 1);
    field out(TEXT_SIZE);
    todir_domain("a.com", out.get());
    EXPECT_EQ(out.str(), r.expected);
    EXPECT_TRUE(out.sound());
  }
  // The protected length counts what of the replacement got in.
  settings_reset();
  settings.flg_dom_flg = 1;
  table_pair t[] = {{"com", long_dir.c_str()}};
  set_table(t, 1);
  field text(TEXT_SIZE);
  std::snprintf(text.get(), TEXT_SIZE, "%s.com", std::string(100, 'h').c_str());
  EXPECT_EQ(domain_table_apply(text.get()), 259 - 101);
  EXPECT_EQ(text.str(), std::string(100, 'h') + "." + std::string(158, 'X'));
  // A long extension is cut the same way.
  settings_reset();
  std::snprintf(settings.domain_ext, TEXT_SIZE, "%s",
                ("." + std::string(258, 'e')).c_str());
  field out(TEXT_SIZE);
  todir_domain("a.com", out.get());
  EXPECT_EQ(out.str(), "COM\\A." + std::string(253, 'E'));
}

// ---- directory and file names
// ----------------------------------------------------

TEST_F(UrlMap, DirectoryAndFileName) {
  struct row {
    const char *url_directory, *url_filename, *settings;
    const char *dir_directory;
    const char *dir_filename;  // nullptr: the entry is dropped
    int name, cgi, graphic;    // cgi of the file name; -1 not reached
  } rows[] = {
      {"a/b", "c.html", "", "A\\B", "C.HTML", 1, 2, 0},
      {"", "", "", "", "INDEX.HTM", 0, 2, 0},
      {"img", "logo.gif", "", "IMG", "LOGO.GIF", 1, 2, 1},
      {"docs", "readme", "", "DOCS", "README.HTM", 1, 2, 0},
      {"cgi", "q.cgi?x=1", "", "CGI", nullptr, 1, 0, -1},
      {"cgi", "q.cgi?x=1", "CGI_FILE=1", "CGI", "Q.CGI", 1, 1, 1},
      {"cgi", "q.cgi?x=1", "CGI_FILE=2", "CGI", "Q.CGI_X_1", 1, 2, 1},
      {"cgi", "q.cgi?x=1", "CGI_FILE=3", "CGI", "Q.CGI", 1, 3, 1},
      {"cgi", "q.cgi?x=1", "CGI_FILE=3;CGI_NAME=CGI.HTM", "CGI", "CGI.HTM", 1,
       3, 0},
      {"", "search?q=1", "CGI_FILE=1", "", "SEARCH", 1, 1, 0},
      {"", "search?q=1", "CGI_FILE=2", "", "SEARCH_Q_1.HTM", 1, 2, 0},
      {"~user/a%20b", "x.htm", "", "~USER\\A B", "X.HTM", 1, 2, 0},
      {"a", "b%zz.htm", "", "A", "B%ZZ.HTM", 1, 2, 0},
      {"a", "q.cgi?x=1", "DIR_MAX=8", "A", "Q.CGI", 1, 2, 1},
      {"verylongdirname/sub", "verylongfilename.html", "DIR_MAX=8",
       "VERYLONG\\SUB", "VERYLONG.HTM", 1, 2, 0},
      {"a", "photo.jpeg", "DIR_MAX=8", "A", "PHOTO.JPG", 1, 2, 1},
      {"a", "Photo.Jpeg", "DIR_MAX=8;CAPITAL_FILE=0", "A", "Photo.Jpe", 1, 2,
       1},
      {"a", "photo.JPEG", "DIR_MAX=8;CAPITAL_FILE=0", "A", "photo.JPG", 1, 2,
       1},
      {"a", "my.long.file.name.gif", "DIR_MAX=8", "A", "MY_LONG_.GIF", 1, 2, 1},
      {"a", "readme", "DIR_MAX=8;CAPITAL_FILE=0", "A", "readme.HTM", 1, 2, 0},
      {"x/y", "f.htm", "DOMAIN_SUB=SUB", "SUB", "F.HTM", 1, 2, 0},
      {"", "f.htm", "DOMAIN_SUB=SUB", "", "F.HTM", 1, 2, 0},
      // The ".HTM" suffix is decided on the escaped form.
      {"a", "b%2e%7ehtm", "", "A", "B.~HTM.HTM", 1, 2, 0},
      // A decoded '?' is an ordinary byte under every CGI_FILE.
      {"a", "a%3fb.htm", "CGI_FILE=0", "A", "A?B.HTM", 1, 2, 0},
      {"a", "a%3fb.htm", "CGI_FILE=1", "A", "A?B.HTM", 1, 2, 0},
      {"a", "a%3fb.htm", "CGI_FILE=2", "A", "A?B.HTM", 1, 2, 0},
      {"a", "a%3fb.htm", "CGI_FILE=3", "A", "A?B.HTM", 1, 2, 0},
      // A name that begins with a CGI character is emptied.
      {"a", "?x=1", "CGI_FILE=1", "A", "", 1, 1, 0},
      {"a", "?x=1", "CGI_FILE=3", "A", "", 1, 3, 0},
      // ROOTHTML as configured: neither cut nor upper-cased.
      {"", "", "ROOTHTML=index.html;DIR_MAX=3", "", "index.html", 0, 2, 0},
      {"a/b", "x.htm", "CAPITAL_DIR=0", "a\\b", "X.HTM", 1, 2, 0},
      // DOMAIN_SUB as configured, too.
      {"x/y", "f.htm", "DOMAIN_SUB=sub.d;DIR_MAX=1", "sub.d", "F.HTM", 1, 2, 0},
      {"aaaaaaaaaa/bbbbbbbbbb", "name.gif", "DIR_MAX=0", "\\", ".GIF", 1, 2, 1},
      {"a", "noext", "DIR_MAX=3", "A", "NOE.HTM", 1, 2, 0},
      {"a", "a.b.c", "DIR_MAX=0", "", ".C", 1, 2, 1},
      // The directory goes through the same CGI treatment, first.
      {"a?b", "x.htm", "", nullptr, nullptr, 1, -1, -1},
      {"a?b", "x.htm", "CGI_FILE=1", "A", "X.HTM", 1, 2, 0},
      {"a?b", "x.htm", "CGI_FILE=2", "A_B", "X.HTM", 1, 2, 0},
      {"x\x82"
       "a/b",
       "c.htm", "",
       "X\x82"
       "a\\B",
       "C.HTM", 1, 2, 0},
  };
  for (const row &r : rows) {
    SCOPED_TRACE(std::string(r.url_directory) + " | " + r.url_filename + " | " +
                 r.settings);
    settings_reset();
    apply_settings(r.settings);
    std::string url = std::string("http://h/") + r.url_directory +
                      (r.url_directory[0] ? "/" : "") + r.url_filename;
    mapped_entry e;
    run_pipeline(url, e);
    ASSERT_EQ(e.url_directory.str(), r.url_directory);
    ASSERT_EQ(e.url_filename.str(), r.url_filename);
    EXPECT_EQ(e.name, r.name);
    if (r.dir_directory == nullptr) {
      EXPECT_EQ(e.result, DROPPED_DIR);
      continue;
    }
    EXPECT_EQ(e.dir_directory.str(), r.dir_directory);
    EXPECT_EQ(e.cgi_file, r.cgi);
    if (r.dir_filename == nullptr) {
      EXPECT_EQ(e.result, DROPPED_FILE);
      continue;
    }
    EXPECT_EQ(e.result, MAPPED);
    EXPECT_EQ(e.dir_filename.str(), r.dir_filename);
    EXPECT_EQ(e.graphic, r.graphic);
    EXPECT_TRUE(e.sound());
  }
}

TEST_F(UrlMap, CgiProc) {
  struct row {
    int cgi_file;
    const char *text;
    const char *expected;  // nullptr: not looked at (the entry is dropped)
    int result;
  } rows[] = {
      {0, "abc", "abc", 2},
      {0, "", "", 2},
      {0, "a%41b", "aAb", 2},
      {0, "%4a%4A", "JJ", 2},
      {0, "%e3%81%82", "\xe3\x81\x82", 2},
      {0, "a%4", "a", 2},
      {0, "a%", "a", 2},
      {0, "%", "", 2},
      {0, "a%zzb", "a%zzb", 2},
      {0, "%%41", "%A", 2},
      {0, "%4g1", "%4g1", 2},
      {0, "a%00b", "a", 2},
      {0, "%2541", "%41", 2},
      {0, "%3f%26%7C", "?&|", 2},
      {1, "%3f%26", "?&", 2},
      {0, "a?b", nullptr, 0},
      {0, "a=b", nullptr, 0},
      {1, "a?b", "a", 1},
      {3, "a?b", "a", 3},
      {1, "?", "", 1},
      {2, "a&b*c:d;e=f?g|h", "a_b_c_d_e_f_g_h", 2},
      {1, "%41b=c%42", "Ab", 1},
      {2, "x%3d=y%zz", "x=_y%zz", 2},
      {1, "b%2e%7eh:m", "b.~h", 1},
      // Values outside 0 to 3 drop the entry like 0.
      {4, "a?b", nullptr, 0},
      {-1, "a|b", nullptr, 0},
      {4, "abc", "abc", 2},
  };
  for (const row &r : rows) {
    SCOPED_TRACE(std::to_string(r.cgi_file) + " " + r.text);
    settings.flg_cgi_file = r.cgi_file;
    field t(TEXT_SIZE);
    std::snprintf(t.get(), TEXT_SIZE, "%s", r.text);
    EXPECT_EQ(cgi_proc(t.get()), r.result);
    if (r.expected != nullptr) {
      EXPECT_EQ(t.str(), r.expected);
    }
    EXPECT_TRUE(t.sound());
  }
}

TEST_F(UrlMap, GraphicTest) {
  struct row {
    const char *name;
    int graphic;
  } rows[] = {
      {"a.htm", 0}, {"a.html", 0}, {"a.HTML", 0},    {"a.htmx", 0},
      {"a.txt", 0}, {"a.TxT", 0},  {"abc", 0},       {"", 0},
      {"a.gif", 1}, {"a.jpg", 1},  {"a.cgi", 1},     {"a.t", 1},
      {"a.", 1},    {"a.ht", 1},   {"a.htm.gif", 1}, {"a.gif.htm", 0},
      {"x.hTm", 0},
  };
  for (const row &r : rows) {
    SCOPED_TRACE(r.name);
    EXPECT_EQ(graphic_test(r.name), r.graphic);
  }
}

// ---- the joined path
// ---------------------------------------------------------------

TEST_F(UrlMap, JoinedPath) {
  const std::string f249(249, 'F'), f250(250, 'F');
  struct row {
    const char *root, *domain, *directory, *filename;
    std::string expected;
    int too_long;
  } rows[] = {
      {"C:\\OUT\\", "COM\\EXAMPLE.DOM", "A\\B", "C.HTML",
       "C:\\OUT\\COM\\EXAMPLE.DOM\\A\\B\\C.HTML", 0},
      {"C:\\OUT\\", "COM\\EXAMPLE.DOM", "", "INDEX.HTM",
       "C:\\OUT\\COM\\EXAMPLE.DOM\\INDEX.HTM", 0},
      {"C:\\OUT\\", "", "", "F.HTM", "C:\\OUT\\F.HTM", 0},
      {"C:\\OUT\\", "D.DOM", "A", "", "C:\\OUT\\D.DOM\\A\\", 0},
      {"C:\\OUT\\", "", "", "", "C:\\OUT\\", 0},
      {"C:\\", "", "", "F", "C:\\F", 0},
      // 260 bytes are accepted, 261 refused.
      {"C:\\OUT\\", "D", "A", f249.c_str(), "C:\\OUT\\D\\A\\" + f249, 0},
      {"C:\\OUT\\", "D", "A", f250.c_str(), "C:\\OUT\\D\\A\\" + f250, 1},
  };
  for (const row &r : rows) {
    SCOPED_TRACE(r.expected);
    settings_reset();
    std::snprintf(settings.out_directory, TEXT_SIZE, "%s", r.root);
    field out(OUT_PATH_SIZE);
    EXPECT_EQ(todir_path(r.domain, r.directory, r.filename, out.get()),
              r.too_long);
    EXPECT_EQ(out.str(), r.expected);
    EXPECT_TRUE(out.sound());
  }
  // The length test sees the path after the dot-name rewrite.
  settings_reset();
  std::snprintf(settings.out_directory, TEXT_SIZE, "C:\\OUT\\");
  const std::string f248(248, 'F');
  field out(OUT_PATH_SIZE);
  EXPECT_EQ(todir_path("D", "ab", f248.c_str(), out.get()), 0);
  EXPECT_EQ(out.str().size(), 260u);
  EXPECT_EQ(todir_path("D", "..", f248.c_str(), out.get()), 1);
  EXPECT_EQ(out.str(), "C:\\OUT\\D\\%2E%2E\\" + f248);
}

// ---- staying below the output root
// ----------------------------------------------

TEST_F(UrlMap, PathGuardRewritesDotNames) {
  struct row {
    const char *text, *expected;
  } rows[] = {
      {"..", "%2E%2E"},
      {".", "%2E"},
      {"...", "%2E%2E%2E"},
      {". .", "%2E %2E"},
      {".. ", "%2E%2E "},
      {" ..", " %2E%2E"},
      {"a\\..\\b", "a\\%2E%2E\\b"},
      {"a/../b", "a/%2E%2E/b"},
      {"..\\..\\x", "%2E%2E\\%2E%2E\\x"},
      {".\\", "%2E\\"},
      {"\\..", "\\%2E%2E"},
      {"..a\\a..\\.a.", "..a\\a..\\.a."},
      {"\\\\x\\\\", "\\\\x\\\\"},
      {"  ", "  "},
      {"", ""},
      {"%2E%2E", "%2E%2E"},
      // A trail byte 5C belongs to its character, not to the separators.
      {"\x95\\..", "\x95\\.."},
      {"\x95\\..\\..", "\x95\\..\\%2E%2E"},
      {"\xE0\\..", "\xE0\\.."},
      // A lead byte before a byte that is no trail byte stands alone.
      {"\x95/..", "\x95/%2E%2E"},
      {"\x95", "\x95"},
      {"\xA0\\..", "\xA0\\%2E%2E"},
  };
  for (const row &r : rows) {
    SCOPED_TRACE(r.text);
    field t(TEXT_SIZE);
    std::snprintf(t.get(), TEXT_SIZE, "%s", r.text);
    EXPECT_EQ(path_guard(t.get(), TEXT_SIZE, 0), 1);
    EXPECT_EQ(t.str(), r.expected);
  }
  // Only the part from start on is looked at.
  field t(TEXT_SIZE);
  std::snprintf(t.get(), TEXT_SIZE, "..\\..\\x");
  EXPECT_EQ(path_guard(t.get(), TEXT_SIZE, 3), 1);
  EXPECT_EQ(t.str(), "..\\%2E%2E\\x");

  // A rewrite that does not fit is cut, never leaving a dot name at the end.
  struct cut_row {
    std::string text;
    size_t size;
    std::string expected;
  } cuts[] = {
      {"ab\\..", 8, "ab\\%2E"},
      {"ab\\..", 6, "ab\\"},
      // What is left of a cut name may be a dot name itself.
      {"..\\..xyz", 10, "%2E%2E\\"},
      // A double-byte character is never split.
      {"..\\\x95\\z", 9, "%2E%2E\\"},
      {std::string(259, '.'), TEXT_SIZE, ""},
  };
  for (int i = 0; i < 86; i++) cuts[4].expected += "%2E";
  for (const cut_row &c : cuts) {
    SCOPED_TRACE(c.text);
    ASSERT_LT(c.text.size(), c.size);
    field f(c.size);
    std::memcpy(f.get(), c.text.c_str(), c.text.size() + 1);
    EXPECT_EQ(path_guard(f.get(), c.size, 0), 0);
    EXPECT_EQ(f.str(), c.expected);
    EXPECT_TRUE(f.sound());
  }
}

// The settings under which the hostile URLs are run: every CGI_FILE with
// DIR_MAX 8 and 260, each with domain mappings that keep dots as dots.
std::vector<std::string> hostile_settings() {
  const char *domain_modes[] = {
      "",
      "DOMAIN_DIR=2;IP_ADDRESS=;DOMAIN_EXT=",
      "DOMAIN_DIR=3;IP_ADDRESS=;DOMAIN_EXT=;CGI_NAME=..",
      "DOMAIN_DIR=0;IP_ADDRESS=;DOMAIN_EXT=;SKIP_WWW=0;CAPITAL_DOMAIN=0",
  };
  std::vector<std::string> out;
  for (int cgi = 0; cgi <= 3; cgi++)
    for (int dir_max : {8, 260})
      for (const char *mode : domain_modes)
        out.push_back("OUTDIR=C:\\OUT\\;CGI_FILE=" + std::to_string(cgi) +
                      ";DIR_MAX=" + std::to_string(dir_max) +
                      (mode[0] ? ";" : "") + mode);
  return out;
}

const char *const hostile_urls[] = {
    "http://h.example/../../../../etc/x.htm",
    "http://h.example/a/../../../x.htm",
    "http://h.example/..",
    "http://h.example/x/..",
    "http://h.example/x/.",
    "http://h.example/x/...",
    "http://h.example/%2e%2e/%2e%2e/x.htm",
    "http://h.example/%2E%2e%2f%2E%2E%2fx.htm",
    "http://h.example/a/%2e%2e%2f%2e%2e%2f%2e%2e%2fx.htm",
    "http://h.example/%5c..%5c..%5cx.htm",
    "http://h.example/%5c%2e%2e%5c%2e%2e",
    "http://h.example/.%2e/.%2e/x.htm",
    "http://h.example/..%2f..%2f..%2fetc%2fpasswd",
    "http://h.example/x/%2e%2e",
    "http://h.example/x/%2e",
    "http://h.example/x/..%2f",
    "http://h.example/.%20./x.htm",
    "http://h.example/..%20/x.htm",
    "http://h.example/%2e%2e%3f/x.htm",
    "http://h.example/x/..%3fq=1",
    "http://h.example/a?b=/../../x.htm",
    "http://h.example/\x95\\../x.htm",
    "http://h.example/\x95\\..%5c../x.htm",
    "http://h.example/%95%5c..%5c..%5c..%5cx",
    "http://../x.htm",
    "http://.../x.htm",
    "http://./x.htm",
    "http://. ./x.htm",
    "http://..:80/x.htm",
    "http://u@../x.htm",
    "http://...../..",
    "http://www../x",
    "http://a..b/..",
    "ftp://../../x",
    "file:///../../x",
    "..",
    "../..",
    "a:/../../..",
};

TEST_F(UrlMap, HostileUrlsStayBelowRoot) {
  const std::string root = "C:\\OUT\\";
  for (const std::string &s : hostile_settings()) {
    int mapped = 0;
    for (const char *url : hostile_urls) {
      SCOPED_TRACE(s + " | " + url);
      settings_reset();
      apply_settings(s);
      mapped_entry e;
      run_pipeline(url, e);
      EXPECT_TRUE(e.sound());
      EXPECT_TRUE(below_root(root + e.dir_domain.str(), root));
      if (e.result != MAPPED) continue;
      mapped++;
      EXPECT_LE(e.out_filename.str().size(), 260u);
      EXPECT_TRUE(below_root(e.out_filename.str(), root));
    }
    // Most of these carry no CGI character at all and must be mapped.
    EXPECT_GE(mapped, 20) << s;
  }
}

TEST_F(UrlMap, HostileUrlsAreRewrittenNotDropped) {
  struct row {
    const char *settings, *url, *out_filename;
  } rows[] = {
      {"", "http://h.example/../../../../etc/x.htm",
       "C:\\OUT\\EXAMPLE\\H.DOM\\%2E%2E\\%2E%2E\\%2E%2E\\%2E%2E\\ETC\\X.HTM"},
      {"", "http://h.example/a/%2e%2e%2f%2e%2e%2fx.htm",
       "C:\\OUT\\EXAMPLE\\H.DOM\\A\\%2E%2E/%2E%2E/X.HTM"},
      {"", "http://h.example/%5c..%5c..%5cx.htm",
       "C:\\OUT\\EXAMPLE\\H.DOM\\\\%2E%2E\\%2E%2E\\X.HTM"},
      {"", "http://h.example/.%2e/x.htm",
       "C:\\OUT\\EXAMPLE\\H.DOM\\%2E%2E\\X.HTM"},
      {"", "http://h.example/x/..", "C:\\OUT\\EXAMPLE\\H.DOM\\X\\%2E%2E"},
      {"", "http://h.example/x/.", "C:\\OUT\\EXAMPLE\\H.DOM\\X\\%2E"},
      {"", "http://h.example/.%20./x.htm",
       "C:\\OUT\\EXAMPLE\\H.DOM\\%2E %2E\\X.HTM"},
      {"", "http://h.example/\x95\\../x.htm",
       "C:\\OUT\\EXAMPLE\\H.DOM\\\x95\\..\\X.HTM"},
      {"", "http://h.example/\x95\\..%5c../x.htm",
       "C:\\OUT\\EXAMPLE\\H.DOM\\\x95\\..\\%2E%2E\\X.HTM"},
      {"DIR_MAX=8", "http://h.example/x/..", "C:\\OUT\\EXAMPLE\\H.DOM\\X\\_."},
      {"DOMAIN_DIR=2;IP_ADDRESS=;DOMAIN_EXT=", "http://../x.htm",
       "C:\\OUT\\%2E%2E\\X.HTM"},
      {"DOMAIN_DIR=2;IP_ADDRESS=;DOMAIN_EXT=", "http://.../x.htm",
       "C:\\OUT\\%2E%2E%2E\\X.HTM"},
      {"DOMAIN_DIR=2;IP_ADDRESS=;DOMAIN_EXT=", "http://./x.htm",
       "C:\\OUT\\%2E\\X.HTM"},
      {"", "http://../x.htm", "C:\\OUT\\00.DOM\\X.HTM"},
      {"CGI_FILE=3;CGI_NAME=..", "http://h.example/q?x",
       "C:\\OUT\\EXAMPLE\\H.DOM\\%2E%2E"},
  };
  for (const row &r : rows) {
    SCOPED_TRACE(std::string(r.settings) + " | " + r.url);
    settings_reset();
    apply_settings(std::string("OUTDIR=C:\\OUT\\") +
                   (r.settings[0] ? ";" : "") + r.settings);
    mapped_entry e;
    run_pipeline(r.url, e);
    ASSERT_EQ(e.result, MAPPED);
    EXPECT_EQ(e.out_filename.str(), r.out_filename);
  }
  // The domain folder itself is rewritten.
  settings_reset();
  apply_settings("DOMAIN_DIR=2;IP_ADDRESS=;DOMAIN_EXT=");
  char out[TEXT_SIZE];
  todir_domain("..", out);
  EXPECT_STREQ(out, "%2E%2E");
}

// ---- maximal inputs
// ------------------------------------------------------------

TEST_F(UrlMap, MaximalInputsStayInTheirFields) {
  const std::string a252(252, 'a');
  std::vector<std::string> urls = {
      "http://" + a252,
      std::string(259, 'a'),
      std::string(259, '.'),
      std::string(259, '/'),
      std::string(259, '%'),
      "http://" + std::string(252, '.'),
      "http://" + std::string(252, '/'),
      "http://a/" + std::string(250, '.'),
      "http://a/" + std::string(249, '.') + "/",
      "http://@" + std::string(251, '.'),
  };
  std::string dirs = "http://";
  while (dirs.size() + 3 <= 259) dirs += "a/";
  dirs += "b";
  urls.push_back(dirs);
  std::string escapes = "http://h/";
  while (escapes.size() + 9 <= 259) escapes += "%2e%2e%2f";
  urls.push_back(escapes);
  std::string dots = "http://h/";
  while (dots.size() + 3 <= 259) dots += "./";
  urls.push_back(dots + ".");
  std::string dbcs = "http://h/";
  while (dbcs.size() + 3 <= 259) dbcs += "\x95\\";
  urls.push_back(dbcs + "a");
  for (const std::string &u : urls) ASSERT_LE(u.size(), 259u);

  const std::string long259(259, 'D');
  std::vector<std::string> setups;
  for (const char *dir_max : {"0", "8", "260"})
    for (const char *cgi : {"0", "1", "2", "3", "7"})
      for (const char *flg : {"0", "1"})
        setups.push_back(std::string("DIR_MAX=") + dir_max +
                         ";CGI_FILE=" + cgi + ";DOMAIN_FLG=" + flg);
  const std::string long_settings =
      ";OUTDIR=" + std::string(258, 'R') + "\\" + ";DOMAIN_EXT=" + long259 +
      ";IP_ADDRESS=" + long259 + ";ROOTHTML=" + long259 +
      ";CGI_NAME=" + long259 + ";DOMAIN_SUB=" + long259;
  const std::string dom259(259, 'a');
  const std::string dom_dots(252, '.');
  table_pair table[] = {
      {dom259.c_str(), long259.c_str()},
      {"a", long259.c_str()},
  };
  table_pair dot_table[] = {{".", long259.c_str()}, {dom_dots.c_str(), "."}};
  for (const std::string &setup : setups) {
    for (int variant = 0; variant < 4; variant++) {
      settings_reset();
      apply_settings(setup + (variant & 1 ? long_settings : ""));
      set_table(variant & 2 ? dot_table : table, 2);
      for (const std::string &u : urls) {
        SCOPED_TRACE(setup + " variant " + std::to_string(variant) + " | " +
                     u.substr(0, 40));
        mapped_entry e;
        run_pipeline(u, e);
        EXPECT_TRUE(e.sound());
        EXPECT_LT(e.dir_domain.str().size(), static_cast<size_t>(TEXT_SIZE));
        if (e.result == MAPPED) {
          EXPECT_LE(e.out_filename.str().size(), 260u);
          EXPECT_TRUE(below_root(e.out_filename.str(),
                                 std::string(settings.out_directory)));
        }
      }
    }
  }
  // The longest table replacement of the longest host: cut to 259 bytes.
  settings_reset();
  settings.flg_dom_flg = 1;
  set_table(table, 2);
  field text(TEXT_SIZE);
  std::memcpy(text.get(), dom259.c_str(), 260);
  EXPECT_EQ(domain_table_apply(text.get()), 259);
  EXPECT_EQ(text.str(), long259);
  EXPECT_TRUE(text.sound());
  // The longest parts joined: refused, the buffer holds them all.
  field out(OUT_PATH_SIZE);
  std::snprintf(settings.out_directory, TEXT_SIZE, "%s",
                (std::string(258, 'R') + "\\").c_str());
  EXPECT_EQ(
      todir_path(long259.c_str(), long259.c_str(), long259.c_str(), out.get()),
      1);
  EXPECT_EQ(out.str().size(), 259u + 3 * 259 + 2);
  EXPECT_TRUE(out.sound());
  // The same of dots: the rewrite overflows the buffer, cut and refused.
  const std::string dots259(259, '.');
  EXPECT_EQ(
      todir_path(dots259.c_str(), dots259.c_str(), dots259.c_str(), out.get()),
      1);
  EXPECT_TRUE(out.sound());
  EXPECT_TRUE(below_root(out.str(), std::string(settings.out_directory)));
}

// Random URLs made of the bytes that matter to the mapping: every field stays
// in bounds and every mapped path below the root.
TEST_F(UrlMap, RandomUrlsStayBelowRoot) {
  static const char alphabet[] =
      "aZ09./\\/..%%%2eE5cCfF?&=:|;@ ~\x81\x95\xE0\x5C\xA0\xFC\x40";
  const char *prefixes[] = {"http://", "HTTPS://", "ftp://", "file://", ""};
  std::vector<std::string> setups = hostile_settings();
  std::mt19937 rng(1108);
  int mapped = 0;
  for (int i = 0; i < 4000; i++) {
    std::string url = prefixes[rng() % 5];
    size_t len = rng() % 260;
    while (url.size() < len) url += alphabet[rng() % (sizeof alphabet - 1)];
    if (url.size() > 259) url.resize(259);
    const std::string &s = setups[rng() % setups.size()];
    settings_reset();
    apply_settings(s);
    mapped_entry e;
    run_pipeline(url, e);
    SCOPED_TRACE(s + " | " + url);
    ASSERT_TRUE(e.sound());
    ASSERT_TRUE(below_root("C:\\OUT\\" + e.dir_domain.str(), "C:\\OUT\\"));
    if (e.result != MAPPED) continue;
    mapped++;
    ASSERT_LE(e.out_filename.str().size(), 260u);
    ASSERT_TRUE(below_root(e.out_filename.str(), "C:\\OUT\\"));
  }
  EXPECT_GT(mapped, 500);
}

}  // namespace
