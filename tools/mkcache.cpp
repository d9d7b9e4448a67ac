// mkcache: writes a browser cache (index files and cached files) for tests
// and for the bundled sample, from a plain line-based manifest.
//
//   mkcache MANIFEST OUTDIR
//
// Manifest format, one command a line:
//
// # comment; blank lines ignored. Fields are separated by blanks; a field may
// # hold escapes:
// #   \xHH any byte, \s blank, \t tab, \n LF, \r CR, \\ backslash, \0 NUL;
// #   a lone "-" is the empty text.
// index N [count=C] [header=H] [recsize=R]
//       start index file N (1..8: 1 cache1/mm256.dat, 2 cache1/mm2048.dat,
//       3 cache2/mm256.dat, ...). count=C writes C as the header's record
//       count (any value -32768..32767, also negative or above the records);
//       default: the number of records that follow. header=H writes only the
//       first H bytes of the header (a short header; H < 1024) and nothing
//       else. recsize overrides the record size (default 256 for odd N, 2048
//       for even).
// rec URL FILE          a record with the URL and the file name.
// rec-open URL          a record whose URL runs to the record's end (no NUL
//                       inside the record: the URL text is repeated to fill
//                       the record from offset 112 to its end).
// rec-open2 URL FILE    a record whose file name runs to the record's end
//                       (no NUL after it; the name is repeated to fill it).
// rec-raw HEX           a record from hex bytes (padded with zeros to the
//                       record size).
// truncate B            the current index file ends B bytes into its last
//                       record (a short read).
// file PATH MTIME TEXT  a cached file at OUTDIR/PATH (PATH like
//                       cache1/C0A1.htm; parents created) with the bytes of
//                       TEXT (escapes) and the last-write/access time MTIME,
//                       an instant written 1997-05-05T09:07:00Z (UTC).
// file-hex PATH MTIME HEX              the same from hex bytes.
// file-size PATH MTIME SIZE [sparse]   a file of SIZE bytes (pattern bytes,
//                                      or a sparse file made with ftruncate).
// file-repeat PATH MTIME COUNT TEXT    TEXT repeated COUNT times.
// dir PATH [MTIME]      a directory (e.g. where a cached file name should be).
// chmod PATH MODE       octal mode (e.g. 000 for an unreadable file).
//
// Notes:
// - A HEX argument may be split over several fields (they are joined), so
//   long hex dumps can be broken up with blanks; HEX of "-" is empty.
// - Only lines whose first non-blank byte is "#" are comments: a "#" inside a
//   field (a URL fragment) is data.
// - Index files are written in the order met, when the next "index" line or
//   the end of the manifest closes them; an index not mentioned is not
//   written. Cached files are written when met. Directory times and modes are
//   applied last, so that later writes neither change them nor are refused.
// - PATH is relative to OUTDIR and may not hold "." or ".." components.
//
// Exit codes: 0 done; 1 a file could not be read or written; 2 a malformed
// manifest line ("mkcache: LINE: message" on stderr) or bad arguments.

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

namespace {

const size_t kHeaderSize = 1024;
const size_t kUrlOffset = 112;
const size_t kCountOffset = 40;
const long kMaxRecsize = 1 << 20;
const long long kMaxDenseSize = 256LL << 20;  // larger files: use "sparse"

std::string g_outdir;
long g_line = 0;

[[noreturn]] void bad_line(const std::string &message) {
  std::fprintf(stderr, "mkcache: %ld: %s\n", g_line, message.c_str());
  std::exit(2);
}

[[noreturn]] void io_fail(const std::string &what, const std::string &path) {
  std::fprintf(stderr, "mkcache: %ld: %s %s: %s\n", g_line, what.c_str(),
               path.c_str(), std::strerror(errno));
  std::exit(1);
}

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// A field with its escapes resolved; "-" alone is the empty text.
std::string unescape(const std::string &field) {
  if (field == "-") return std::string();
  std::string out;
  for (size_t i = 0; i < field.size(); ++i) {
    char c = field[i];
    if (c != '\\') {
      out += c;
      continue;
    }
    if (i + 1 >= field.size()) bad_line("lone backslash at the end of a field");
    char e = field[++i];
    switch (e) {
      case 's':
        out += ' ';
        break;
      case 't':
        out += '\t';
        break;
      case 'n':
        out += '\n';
        break;
      case 'r':
        out += '\r';
        break;
      case '0':
        out += '\0';
        break;
      case '\\':
        out += '\\';
        break;
      case 'x': {
        if (i + 2 >= field.size()) bad_line("\\x needs two hex digits");
        int hi = hex_value(field[i + 1]);
        int lo = hex_value(field[i + 2]);
        if (hi < 0 || lo < 0) bad_line("\\x needs two hex digits");
        out += static_cast<char>(hi * 16 + lo);
        i += 2;
        break;
      }
      default:
        bad_line(std::string("unknown escape \\") + e);
    }
  }
  return out;
}

// Hex bytes from one or more fields joined; "-" alone is empty.
std::string unhex(const std::vector<std::string> &fields, size_t from) {
  std::string digits;
  for (size_t i = from; i < fields.size(); ++i)
    if (fields[i] != "-") digits += fields[i];
  if (digits.size() % 2 != 0) bad_line("odd number of hex digits");
  std::string out;
  for (size_t i = 0; i < digits.size(); i += 2) {
    int hi = hex_value(digits[i]);
    int lo = hex_value(digits[i + 1]);
    if (hi < 0 || lo < 0) bad_line("not a hex digit in \"" + digits + "\"");
    out += static_cast<char>(hi * 16 + lo);
  }
  return out;
}

// A whole decimal number in [lo, hi]; optional sign.
long long parse_number(const std::string &text, long long lo, long long hi,
                       const char *what) {
  if (text.empty()) bad_line(std::string("missing ") + what);
  errno = 0;
  char *end = nullptr;
  long long v = std::strtoll(text.c_str(), &end, 10);
  if (errno != 0 || *end != '\0' || end == text.c_str())
    bad_line(std::string("bad ") + what + " \"" + text + "\"");
  if (v < lo || v > hi) bad_line(std::string(what) + " out of range: " + text);
  return v;
}

// 1997-05-05T09:07:00Z into seconds since 1970 UTC.
time_t parse_time(const std::string &text) {
  int y, mo, d, h, mi, s;
  char z = 0, extra = 0;
  if (text.size() != 20 ||
      std::sscanf(text.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d%c%c", &y, &mo, &d, &h,
                  &mi, &s, &z, &extra) != 7 ||
      z != 'Z' || text[4] != '-' || text[7] != '-' || text[10] != 'T' ||
      text[13] != ':' || text[16] != ':')
    bad_line("bad time \"" + text + "\" (want 1997-05-05T09:07:00Z)");
  static const int mdays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
  if (y < 1970 || y > 2099 || mo < 1 || mo > 12 || d < 1 || d > mdays[mo - 1] ||
      (mo == 2 && d == 29 && !leap) || h > 23 || mi > 59 || s > 59)
    bad_line("time out of range \"" + text + "\"");
  struct tm tm;
  std::memset(&tm, 0, sizeof tm);
  tm.tm_year = y - 1900;
  tm.tm_mon = mo - 1;
  tm.tm_mday = d;
  tm.tm_hour = h;
  tm.tm_min = mi;
  tm.tm_sec = s;
  return timegm(&tm);
}

// A relative path below OUTDIR, checked, in host form.
std::string out_path(const std::string &field) {
  std::string rel = unescape(field);
  if (rel.empty()) bad_line("empty path");
  if (rel[0] == '/') bad_line("path must be relative: " + rel);
  if (rel.find('\0') != std::string::npos) bad_line("NUL in a path");
  size_t start = 0;
  while (start <= rel.size()) {
    size_t slash = rel.find('/', start);
    if (slash == std::string::npos) slash = rel.size();
    std::string part = rel.substr(start, slash - start);
    if (part == "." || part == "..")
      bad_line("path may not hold . or ..: " + rel);
    start = slash + 1;
  }
  return g_outdir + "/" + rel;
}

void make_dirs(const std::string &path) {
  std::string cur;
  size_t pos = 0;
  while (pos < path.size()) {
    size_t slash = path.find('/', pos);
    if (slash == std::string::npos) slash = path.size();
    cur = path.substr(0, slash);
    pos = slash + 1;
    if (cur.empty()) continue;  // leading "/"
    struct stat st;
    if (stat(cur.c_str(), &st) == 0) {
      if (!S_ISDIR(st.st_mode)) {
        errno = ENOTDIR;
        io_fail("cannot make directory", cur);
      }
      continue;
    }
    if (mkdir(cur.c_str(), 0755) != 0 && errno != EEXIST)
      io_fail("cannot make directory", cur);
  }
}

void make_parent(const std::string &path) {
  size_t slash = path.rfind('/');
  if (slash != std::string::npos && slash > 0) make_dirs(path.substr(0, slash));
}

void set_times(const std::string &path, time_t when) {
  struct timespec ts[2];
  ts[0].tv_sec = when;
  ts[0].tv_nsec = 0;
  ts[1] = ts[0];
  if (utimensat(AT_FDCWD, path.c_str(), ts, 0) != 0)
    io_fail("cannot set the time of", path);
}

void write_all(int fd, const char *data, size_t n, const std::string &path) {
  while (n > 0) {
    ssize_t w = write(fd, data, n);
    if (w < 0) {
      if (errno == EINTR) continue;
      io_fail("cannot write", path);
    }
    data += w;
    n -= static_cast<size_t>(w);
  }
}

int create_file(const std::string &path) {
  make_parent(path);
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) io_fail("cannot create", path);
  return fd;
}

void close_file(int fd, const std::string &path) {
  if (close(fd) != 0) io_fail("cannot close", path);
}

void write_file(const std::string &path, const std::string &bytes,
                time_t when) {
  int fd = create_file(path);
  write_all(fd, bytes.data(), bytes.size(), path);
  close_file(fd, path);
  set_times(path, when);
}

// ---- index files -------------------------------------------------------

struct index_state {
  bool open = false;
  int number = 0;
  long count = 0;
  bool count_given = false;
  long header = -1;  // -1: the whole header
  size_t recsize = 0;
  long truncate = -1;  // -1: last record whole
  long first_line = 0;
  std::vector<std::string> records;
};

index_state g_index;
bool g_index_done[9];

std::string index_path(int n) {
  char name[64];
  std::snprintf(name, sizeof name, "cache%d/mm%d.dat", (n + 1) / 2,
                n % 2 ? 256 : 2048);
  return g_outdir + "/" + name;
}

void index_finish() {
  if (!g_index.open) return;
  index_state &ix = g_index;
  std::string path = index_path(ix.number);
  long count = ix.count_given ? ix.count : static_cast<long>(ix.records.size());
  if (!ix.count_given && count > 32767) {
    g_line = ix.first_line;
    bad_line("more than 32767 records: give count=");
  }
  std::string bytes(kHeaderSize, '\0');
  uint16_t raw = static_cast<uint16_t>(static_cast<int16_t>(count));
  bytes[kCountOffset] = static_cast<char>(raw & 0xFF);
  bytes[kCountOffset + 1] = static_cast<char>(raw >> 8);
  if (ix.header >= 0) {
    bytes.resize(static_cast<size_t>(ix.header));
  } else {
    for (const std::string &r : ix.records) bytes += r;
    if (ix.truncate >= 0)
      bytes.resize(bytes.size() - ix.recsize +
                   static_cast<size_t>(ix.truncate));
  }
  int fd = create_file(path);
  write_all(fd, bytes.data(), bytes.size(), path);
  close_file(fd, path);
  ix.open = false;
}

index_state &current_index(const char *command) {
  if (!g_index.open) bad_line(std::string(command) + " before any index line");
  return g_index;
}

void add_record(std::string rec) {
  index_state &ix = g_index;
  if (ix.header >= 0) bad_line("no records in a file with a short header");
  if (ix.truncate >= 0) bad_line("record after truncate");
  if (rec.size() > ix.recsize) bad_line("record longer than the record size");
  rec.resize(ix.recsize, '\0');
  ix.records.push_back(rec);
}

// The text repeated to exactly n bytes.
std::string fill(const std::string &text, size_t n) {
  std::string out;
  while (out.size() < n) out += text;
  out.resize(n);
  return out;
}

void cmd_index(const std::vector<std::string> &f) {
  index_finish();
  if (f.size() < 2) bad_line("index needs a number");
  int n = static_cast<int>(parse_number(f[1], 1, 8, "index number"));
  if (g_index_done[n]) bad_line("index " + f[1] + " given twice");
  g_index_done[n] = true;
  index_state fresh;
  fresh.open = true;
  fresh.number = n;
  fresh.recsize = n % 2 ? 256 : 2048;
  fresh.first_line = g_line;
  for (size_t i = 2; i < f.size(); ++i) {
    const std::string &o = f[i];
    size_t eq = o.find('=');
    std::string key = o.substr(0, eq);
    std::string val = eq == std::string::npos ? "" : o.substr(eq + 1);
    if (eq == std::string::npos) bad_line("bad index option \"" + o + "\"");
    if (key == "count") {
      fresh.count =
          static_cast<long>(parse_number(val, -32768, 32767, "count"));
      fresh.count_given = true;
    } else if (key == "header") {
      fresh.header = static_cast<long>(parse_number(
          val, 0, static_cast<long long>(kHeaderSize) - 1, "header"));
    } else if (key == "recsize") {
      fresh.recsize =
          static_cast<size_t>(parse_number(val, 1, kMaxRecsize, "recsize"));
    } else {
      bad_line("unknown index option \"" + key + "\"");
    }
  }
  g_index = fresh;
}

void cmd_rec(const std::vector<std::string> &f) {
  index_state &ix = current_index("rec");
  if (f.size() != 3) bad_line("rec needs URL and FILE");
  std::string url = unescape(f[1]);
  std::string file = unescape(f[2]);
  if (kUrlOffset + url.size() + 1 + file.size() + 1 > ix.recsize)
    bad_line("URL and file name do not fit into the record");
  std::string rec(kUrlOffset, '\0');
  rec += url;
  rec += '\0';
  rec += file;
  add_record(rec);
}

void cmd_rec_open(const std::vector<std::string> &f) {
  index_state &ix = current_index("rec-open");
  if (f.size() != 2) bad_line("rec-open needs URL");
  std::string url = unescape(f[1]);
  if (url.empty()) bad_line("rec-open needs a non-empty URL");
  if (url.find('\0') != std::string::npos) bad_line("NUL in rec-open URL");
  if (ix.recsize <= kUrlOffset) bad_line("record too small for a URL");
  std::string rec(kUrlOffset, '\0');
  rec += fill(url, ix.recsize - kUrlOffset);
  add_record(rec);
}

void cmd_rec_open2(const std::vector<std::string> &f) {
  index_state &ix = current_index("rec-open2");
  if (f.size() != 3) bad_line("rec-open2 needs URL and FILE");
  std::string url = unescape(f[1]);
  std::string file = unescape(f[2]);
  if (file.empty()) bad_line("rec-open2 needs a non-empty FILE");
  if (file.find('\0') != std::string::npos) bad_line("NUL in rec-open2 FILE");
  if (kUrlOffset + url.size() + 1 >= ix.recsize)
    bad_line("no room for a file name after the URL");
  std::string rec(kUrlOffset, '\0');
  rec += url;
  rec += '\0';
  rec += fill(file, ix.recsize - rec.size());
  add_record(rec);
}

void cmd_rec_raw(const std::vector<std::string> &f) {
  current_index("rec-raw");
  if (f.size() < 2) bad_line("rec-raw needs HEX");
  add_record(unhex(f, 1));
}

void cmd_truncate(const std::vector<std::string> &f) {
  index_state &ix = current_index("truncate");
  if (f.size() != 2) bad_line("truncate needs B");
  if (ix.records.empty()) bad_line("truncate without a record");
  if (ix.truncate >= 0) bad_line("truncate given twice");
  ix.truncate = static_cast<long>(parse_number(
      f[1], 0, static_cast<long long>(ix.recsize) - 1, "truncate length"));
}

// ---- cached files and directories ----------------------------------------

struct late_step {
  long line;
  bool is_chmod;
  std::string path;
  time_t when;
  mode_t mode;
};
std::vector<late_step> g_late;

void cmd_file(const std::vector<std::string> &f) {
  if (f.size() != 4) bad_line("file needs PATH MTIME TEXT");
  std::string path = out_path(f[1]);
  time_t when = parse_time(f[2]);
  write_file(path, unescape(f[3]), when);
}

void cmd_file_hex(const std::vector<std::string> &f) {
  if (f.size() < 4) bad_line("file-hex needs PATH MTIME HEX");
  std::string path = out_path(f[1]);
  time_t when = parse_time(f[2]);
  write_file(path, unhex(f, 3), when);
}

void cmd_file_size(const std::vector<std::string> &f) {
  if (f.size() != 4 && f.size() != 5)
    bad_line("file-size needs PATH MTIME SIZE [sparse]");
  bool sparse = false;
  if (f.size() == 5) {
    if (f[4] != "sparse") bad_line("unknown file-size option \"" + f[4] + "\"");
    sparse = true;
  }
  std::string path = out_path(f[1]);
  time_t when = parse_time(f[2]);
  long long size =
      parse_number(f[3], 0, sparse ? (1LL << 40) : kMaxDenseSize, "size");
  int fd = create_file(path);
  if (sparse) {
    if (ftruncate(fd, static_cast<off_t>(size)) != 0)
      io_fail("cannot size", path);
  } else {
    // Printable lines of 64 bytes, so that a text copy sees ordinary lines.
    char block[4096];
    for (size_t i = 0; i < sizeof block; ++i)
      block[i] = (i % 64 == 63) ? '\n' : static_cast<char>('a' + i % 64 % 26);
    long long left = size;
    while (left > 0) {
      size_t n = left < static_cast<long long>(sizeof block)
                     ? static_cast<size_t>(left)
                     : sizeof block;
      write_all(fd, block, n, path);
      left -= static_cast<long long>(n);
    }
  }
  close_file(fd, path);
  set_times(path, when);
}

void cmd_file_repeat(const std::vector<std::string> &f) {
  if (f.size() != 5) bad_line("file-repeat needs PATH MTIME COUNT TEXT");
  std::string path = out_path(f[1]);
  time_t when = parse_time(f[2]);
  long long count = parse_number(f[3], 0, kMaxDenseSize, "count");
  std::string text = unescape(f[4]);
  if (static_cast<long long>(text.size()) * count > kMaxDenseSize)
    bad_line("file-repeat result too large");
  int fd = create_file(path);
  for (long long i = 0; i < count; ++i)
    write_all(fd, text.data(), text.size(), path);
  close_file(fd, path);
  set_times(path, when);
}

void cmd_dir(const std::vector<std::string> &f) {
  if (f.size() != 2 && f.size() != 3) bad_line("dir needs PATH [MTIME]");
  std::string path = out_path(f[1]);
  make_dirs(path);
  if (f.size() == 3) {
    late_step s{g_line, false, path, parse_time(f[2]), 0};
    g_late.push_back(s);
  }
}

void cmd_chmod(const std::vector<std::string> &f) {
  if (f.size() != 3) bad_line("chmod needs PATH MODE");
  std::string path = out_path(f[1]);
  const std::string &m = f[2];
  if (m.empty() || m.size() > 4 ||
      m.find_first_not_of("01234567") != std::string::npos)
    bad_line("bad octal mode \"" + m + "\"");
  late_step s{g_line, true, path, 0,
              static_cast<mode_t>(std::strtoul(m.c_str(), nullptr, 8))};
  g_late.push_back(s);
}

void apply_late_steps() {
  for (const late_step &s : g_late) {
    g_line = s.line;
    if (s.is_chmod) {
      if (chmod(s.path.c_str(), s.mode) != 0) io_fail("cannot chmod", s.path);
    } else {
      set_times(s.path, s.when);
    }
  }
}

// ---- the manifest ------------------------------------------------------

std::vector<std::string> split_fields(const std::string &line) {
  std::vector<std::string> out;
  size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    if (i >= line.size()) break;
    size_t start = i;
    while (i < line.size() && line[i] != ' ' && line[i] != '\t') ++i;
    out.push_back(line.substr(start, i - start));
  }
  return out;
}

void run_line(const std::string &line) {
  std::vector<std::string> f = split_fields(line);
  if (f.empty() || f[0][0] == '#') return;
  const std::string &c = f[0];
  if (c == "index")
    cmd_index(f);
  else if (c == "rec")
    cmd_rec(f);
  else if (c == "rec-open")
    cmd_rec_open(f);
  else if (c == "rec-open2")
    cmd_rec_open2(f);
  else if (c == "rec-raw")
    cmd_rec_raw(f);
  else if (c == "truncate")
    cmd_truncate(f);
  else if (c == "file")
    cmd_file(f);
  else if (c == "file-hex")
    cmd_file_hex(f);
  else if (c == "file-size")
    cmd_file_size(f);
  else if (c == "file-repeat")
    cmd_file_repeat(f);
  else if (c == "dir")
    cmd_dir(f);
  else if (c == "chmod")
    cmd_chmod(f);
  else
    bad_line("unknown command \"" + c + "\"");
}

}  // namespace

int main(int argc, char **argv) {
  if (argc != 3 || !argv[1][0] || !argv[2][0]) {
    std::fprintf(stderr, "usage: mkcache MANIFEST OUTDIR\n");
    return 2;
  }
  FILE *in = std::fopen(argv[1], "rb");
  if (!in) {
    std::fprintf(stderr, "mkcache: cannot open %s: %s\n", argv[1],
                 std::strerror(errno));
    return 1;
  }
  g_outdir = argv[2];
  while (g_outdir.size() > 1 && g_outdir.back() == '/') g_outdir.pop_back();
  make_dirs(g_outdir);

  std::string line;
  int ch;
  bool more = true;
  while (more) {
    line.clear();
    while ((ch = std::fgetc(in)) != EOF && ch != '\n')
      line += static_cast<char>(ch);
    if (ch == EOF) {
      more = false;
      if (line.empty()) break;
    }
    ++g_line;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    run_line(line);
  }
  if (std::ferror(in)) {
    std::fprintf(stderr, "mkcache: cannot read %s\n", argv[1]);
    return 1;
  }
  std::fclose(in);
  index_finish();
  apply_late_steps();
  return 0;
}
