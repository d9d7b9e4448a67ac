// The POSIX backend of the platform layer (Linux, glibc).
//
// Paths. The program speaks Windows paths in Shift-JIS. Both "\" and "/" are
// separators, except that a Shift-JIS lead byte (81-9F, E0-FC) takes the byte
// after it along when that byte is a trail byte (40-7E, 80-FC): the trail
// byte 5C of a double-byte character is never a separator. A drive "X:" maps
// to the host directory named by the environment variable VELDOR_DRIVE_X
// (letter upper-cased), e.g. VELDOR_DRIVE_C=/mnt/old: "C:\OUT" and "C:OUT"
// both name OUT below that directory. A drive without such a variable names
// nothing: every call on its paths fails with ENOENT.
//
// Names compare as on Windows: a path that does not exist under its exact
// name is resolved component by component, each missing component replaced by
// the directory entry that differs from it only in ASCII case (the byte-wise
// smallest when several do). What is created (a new file opened for writing
// or appending, a new directory) gets the name as given; only its existing
// parents are case-resolved. Host paths are bounded by HOST_PATH; a longer
// one fails with ENAMETOOLONG.
//
// Streams. Every stream is a glibc cookie stream over a raw descriptor, so
// that fault injection sees each read() and write(). Text streams (mode
// without "b") turn CR LF into LF and end at the first 1A byte when read,
// and write every LF as CR LF. A directory is never opened (EISDIR).
//
// Clock. The program clock is the time source (the real clock in ms unless
// replaced) plus a process-wide offset; setting the clock moves only the
// offset, never the machine's clock. While the offset is not 0, a directory
// made by plat_mkdir and its parent get the program time, as they would have
// under a set machine clock.
//
// Test seams, read by plat_init from the environment (plat_init may be called
// again; each call sets the seams anew from the environment):
//   VELDOR_TEST_CLOCK="YYYY-MM-DD HH:MM:SS"  time source frozen at that local
//                                            time (host time zone)
//   VELDOR_TEST_TICK=<n>                     tick counter frozen at n (1000
//                                            when only VELDOR_TEST_CLOCK is
//                                            set)
//   VELDOR_TEST_KEYS="..."                   key script: each key check takes
//                                            one character; "." no key, "e"
//                                            Escape, any other that key
//   VELDOR_TEST_FAIL="op:n[+][:errno],..."   plat_fail_nth for op in open,
//                                            read, write, mkdir, rename,
//                                            settime, remove; "+" persists;
//                                            errno a number or a name such as
//                                            ENOSPC (default EIO)

// 64-bit file sizes and offsets also on 32-bit hosts.
#define _FILE_OFFSET_BITS 64

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <iconv.h>
#include <poll.h>
#include <signal.h>
#include <strings.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/platform.h"

namespace {

const size_t HOST_PATH = 4096;
const int MAX_STREAMS = 32;
const size_t RAW_BUF = 4096;

// ---- fault injection -------------------------------------------------------

struct fault_rec {
  long count;
  long nth;
  int err;
  int persist;
};
fault_rec faults[PLAT_OP_COUNT];

// Counts one call of kind op; 1 when it is to fail (errno set).
int fault_hit(int op) {
  fault_rec *r = &faults[op];
  r->count++;
  if (r->nth > 0 &&
      (r->count == r->nth || (r->persist && r->count >= r->nth))) {
    errno = r->err;
    return 1;
  }
  return 0;
}

// ---- Shift-JIS -------------------------------------------------------------

int sjis_lead(unsigned char c) {
  return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
}
int sjis_trail(unsigned char c) {
  return (c >= 0x40 && c <= 0x7E) || (c >= 0x80 && c <= 0xFC);
}
// Length of the character at s: 2 for a lead byte with its trail byte.
size_t sjis_len(const char *s) {
  if (sjis_lead((unsigned char)s[0]) && s[1] != 0 &&
      sjis_trail((unsigned char)s[1]))
    return 2;
  return 1;
}
int ascii_lower(int c) { return (c >= 'A' && c <= 'Z') ? c + 32 : c; }

// Equal but for the ASCII case of single-byte characters.
int name_eq_nocase(const char *a, const char *b) {
  while (*a && *b) {
    size_t la = sjis_len(a), lb = sjis_len(b);
    if (la != lb) return 0;
    if (la == 2) {
      if (a[0] != b[0] || a[1] != b[1]) return 0;
    } else if (ascii_lower((unsigned char)*a) !=
               ascii_lower((unsigned char)*b)) {
      return 0;
    }
    a += la;
    b += lb;
  }
  return *a == 0 && *b == 0;
}

// ---- paths -----------------------------------------------------------------

// Appends n bytes to out (length *len, capacity HOST_PATH); 0 when full.
int append(char *out, size_t *len, const char *s, size_t n) {
  if (*len + n + 1 > HOST_PATH) {
    errno = ENAMETOOLONG;
    return 0;
  }
  memcpy(out + *len, s, n);
  *len += n;
  out[*len] = 0;
  return 1;
}

// Maps a program path to its host path (exact names). 0 done, -1 with errno.
int map_path(const char *path, char *out) {
  size_t len = 0;
  out[0] = 0;
  if (path == NULL || path[0] == 0) {
    errno = ENOENT;
    return -1;
  }
  const char *p = path;
  unsigned char d = (unsigned char)path[0];
  if (((d >= 'A' && d <= 'Z') || (d >= 'a' && d <= 'z')) && path[1] == ':') {
    char var[] = "VELDOR_DRIVE_X";
    var[sizeof var - 2] = (char)(d >= 'a' ? d - 32 : d);
    const char *base = getenv(var);
    if (base == NULL || base[0] == 0) {
      errno = ENOENT;
      return -1;
    }
    if (!append(out, &len, base, strlen(base))) return -1;
    p = path + 2;
    while (*p == '\\' || *p == '/') p++;
    if (*p != 0 && out[len - 1] != '/' && !append(out, &len, "/", 1)) return -1;
  }
  while (*p) {
    size_t n = sjis_len(p);
    if (n == 1 && (*p == '\\' || *p == '/')) {
      if (!append(out, &len, "/", 1)) return -1;
    } else if (!append(out, &len, p, n)) {
      return -1;
    }
    p += n;
  }
  return 0;
}

// Replaces missing components of host path by their ASCII-case variants.
// A missing last component stays as given (what is created gets that name).
// 0 done, -1 with errno (a parent component missing: ENOENT).
int resolve_case(const char *host, char *out) {
  size_t len = 0;
  out[0] = 0;
  const char *p = host;
  if (*p == '/') {
    append(out, &len, "/", 1);
    while (*p == '/') p++;
  }
  while (*p) {
    const char *end = strchr(p, '/');
    size_t n = end ? (size_t)(end - p) : strlen(p);
    const char *next = p + n;
    while (*next == '/') next++;
    int last = *next == 0;
    char comp[HOST_PATH];
    memcpy(comp, p, n);
    comp[n] = 0;
    size_t base_len = len;
    int need_slash = len > 0 && out[len - 1] != '/';
    if (need_slash && !append(out, &len, "/", 1)) return -1;
    if (!append(out, &len, comp, n)) return -1;
    struct stat st;
    if (strcmp(comp, ".") != 0 && strcmp(comp, "..") != 0 &&
        lstat(out, &st) != 0) {
      // Look for a case variant in the parent.
      out[base_len] = 0;
      DIR *dir = opendir(base_len ? out : ".");
      char best[256];
      best[0] = 0;
      if (dir) {
        struct dirent *e;
        while ((e = readdir(dir)) != NULL) {
          if (name_eq_nocase(e->d_name, comp) &&
              (best[0] == 0 || strcmp(e->d_name, best) < 0)) {
            snprintf(best, sizeof best, "%s", e->d_name);
          }
        }
        closedir(dir);
      }
      len = base_len;
      if (need_slash) append(out, &len, "/", 1);
      if (best[0]) {
        if (!append(out, &len, best, strlen(best))) return -1;
      } else if (last) {
        if (!append(out, &len, comp, n)) return -1;
      } else {
        errno = ENOENT;
        return -1;
      }
    }
    if (end && last && !append(out, &len, "/", 1)) return -1;
    p = next;
  }
  return 0;
}

// Maps and case-resolves; 0 done, -1 with errno.
int host_path(const char *path, char *out) {
  char exact[HOST_PATH];
  if (map_path(path, exact) != 0) return -1;
  struct stat st;
  if (lstat(exact, &st) == 0) {
    memcpy(out, exact, strlen(exact) + 1);
    return 0;
  }
  return resolve_case(exact, out);
}

// After a failure of the exact path: the case-resolved one, when it differs.
int retry_path(const char *exact, char *out) {
  if (errno != ENOENT && errno != ENOTDIR) return 0;
  int saved = errno;
  if (resolve_case(exact, out) != 0 || strcmp(exact, out) == 0) {
    errno = saved;
    return 0;
  }
  return 1;
}

// ---- streams ---------------------------------------------------------------

struct stream_rec {
  int used;
  FILE *fp;
  int fd;
  int text;
  int eof;     // 1A seen or end of file: nothing more is read
  int err;     // a read error held back for the next call
  size_t pos;  // lookahead of raw bytes, text reading only
  size_t len;
  char raw[RAW_BUF];
};
stream_rec streams[MAX_STREAMS];

stream_rec *find_stream(FILE *fp) {
  if (fp == NULL) return NULL;
  for (int i = 0; i < MAX_STREAMS; i++)
    if (streams[i].used && streams[i].fp == fp) return &streams[i];
  return NULL;
}

ssize_t raw_read(int fd, char *buf, size_t n) {
  if (fault_hit(PLAT_OP_READ)) return -1;
  ssize_t r;
  do {
    r = read(fd, buf, n);
  } while (r < 0 && errno == EINTR);
  return r;
}

int raw_write_all(int fd, const char *buf, size_t n) {
  while (n > 0) {
    if (fault_hit(PLAT_OP_WRITE)) return 0;
    ssize_t w = write(fd, buf, n);
    if (w < 0) {
      if (errno == EINTR) continue;
      return 0;
    }
    buf += w;
    n -= (size_t)w;
  }
  return 1;
}

// Keeps the unread lookahead and reads more behind it; the read's result.
ssize_t refill(stream_rec *s) {
  if (s->pos > 0) {
    memmove(s->raw, s->raw + s->pos, s->len - s->pos);
    s->len -= s->pos;
    s->pos = 0;
  }
  ssize_t r = raw_read(s->fd, s->raw + s->len, RAW_BUF - s->len);
  if (r > 0) s->len += (size_t)r;
  return r;
}

ssize_t cookie_read(void *c, char *buf, size_t size) {
  stream_rec *s = (stream_rec *)c;
  if (!s->text) return raw_read(s->fd, buf, size);
  if (s->err) {
    errno = s->err;
    s->err = 0;
    return -1;
  }
  size_t out = 0;
  while (out < size && !s->eof) {
    if (s->pos == s->len) {
      if (out > 0) break;  // hand out what is there before reading again
      ssize_t r = refill(s);
      if (r < 0) return -1;
      if (r == 0) {
        s->eof = 1;
        break;
      }
    }
    char ch = s->raw[s->pos];
    if (ch == 0x1A) {
      s->eof = 1;
      break;
    }
    if (ch == '\r') {
      if (s->pos + 1 == s->len) {
        // The CR ends the lookahead: its partner may be in the next block.
        ssize_t r = refill(s);
        if (r < 0) {
          if (out == 0) return -1;
          s->err = errno;
          break;
        }
      }
      if (s->pos + 1 < s->len && s->raw[s->pos + 1] == '\n') {
        buf[out++] = '\n';
        s->pos += 2;
        continue;
      }
    }
    buf[out++] = ch;
    s->pos++;
  }
  return (ssize_t)out;
}

ssize_t cookie_write(void *c, const char *buf, size_t size) {
  stream_rec *s = (stream_rec *)c;
  if (!s->text) return raw_write_all(s->fd, buf, size) ? (ssize_t)size : 0;
  char tmp[8192];
  size_t n = 0;
  for (size_t i = 0; i < size; i++) {
    if (n + 2 > sizeof tmp) {
      if (!raw_write_all(s->fd, tmp, n)) return 0;
      n = 0;
    }
    if (buf[i] == '\n') tmp[n++] = '\r';
    tmp[n++] = buf[i];
  }
  if (n > 0 && !raw_write_all(s->fd, tmp, n)) return 0;
  return (ssize_t)size;
}

// Positions count host bytes; a text stream's lookahead is dropped.
int cookie_seek(void *c, off64_t *offset, int whence) {
  stream_rec *s = (stream_rec *)c;
  off64_t off = *offset;
  if (whence == SEEK_CUR) off -= (off64_t)(s->len - s->pos);
  off64_t r = lseek64(s->fd, off, whence);
  if (r < 0) return -1;
  s->pos = s->len = 0;
  s->eof = 0;
  s->err = 0;
  *offset = r;
  return 0;
}

int cookie_close(void *c) {
  stream_rec *s = (stream_rec *)c;
  int r = close(s->fd);
  s->used = 0;
  s->fp = NULL;
  s->fd = -1;
  return r;
}

int stream_fd(FILE *fp) {
  stream_rec *s = find_stream(fp);
  if (s == NULL) {
    errno = EBADF;
    return -1;
  }
  return s->fd;
}

// ---- clock -----------------------------------------------------------------

int64_t real_now_ms(void) {
  struct timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  return (int64_t)ts.tv_sec * 1000 + ts.tv_nsec / 1000000;
}
uint32_t real_tick_ms(void) {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return (uint32_t)((uint64_t)ts.tv_sec * 1000 +
                    (uint64_t)ts.tv_nsec / 1000000);
}

int64_t frozen_now;
uint32_t frozen_tick;
int64_t frozen_now_ms(void) { return frozen_now; }
uint32_t frozen_tick_ms(void) { return frozen_tick; }

int64_t (*time_source)(void) = real_now_ms;
uint32_t (*tick_source)(void) = real_tick_ms;
int64_t clock_offset;

int64_t program_now_ms(void) { return time_source() + clock_offset; }

int64_t floor_div(int64_t a, int64_t b) {
  int64_t q = a / b;
  if ((a % b) != 0 && (a < 0)) q--;
  return q;
}

void fill_systime(const struct tm *tm, int ms, plat_systime *out) {
  out->year = (uint16_t)(tm->tm_year + 1900);
  out->month = (uint16_t)(tm->tm_mon + 1);
  out->day_of_week = (uint16_t)tm->tm_wday;
  out->day = (uint16_t)tm->tm_mday;
  out->hour = (uint16_t)tm->tm_hour;
  out->minute = (uint16_t)tm->tm_min;
  out->second = (uint16_t)tm->tm_sec;
  out->millisecond = (uint16_t)ms;
}

void ms_to_systime(int64_t ms, int local, plat_systime *out) {
  int64_t sec = floor_div(ms, 1000);
  time_t t = (time_t)sec;
  struct tm tm;
  memset(&tm, 0, sizeof tm);
  if (local)
    localtime_r(&t, &tm);
  else
    gmtime_r(&t, &tm);
  fill_systime(&tm, (int)(ms - sec * 1000), out);
}

int leap_year(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int systime_valid(const plat_systime *t) {
  static const int mdays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (t->year < 1601 || t->year > 30827) return 0;
  if (t->month < 1 || t->month > 12) return 0;
  int dim = mdays[t->month - 1] + (t->month == 2 && leap_year(t->year));
  if (t->day < 1 || t->day > dim) return 0;
  return t->hour < 24 && t->minute < 60 && t->second < 60 &&
         t->millisecond < 1000;
}

void systime_to_tm(const plat_systime *t, struct tm *tm) {
  memset(tm, 0, sizeof *tm);
  tm->tm_year = t->year - 1900;
  tm->tm_mon = t->month - 1;
  tm->tm_mday = t->day;
  tm->tm_hour = t->hour;
  tm->tm_min = t->minute;
  tm->tm_sec = t->second;
  tm->tm_isdst = -1;
}

// Sets the program clock to the instant ms (since 1970 UTC).
void set_program_ms(int64_t ms) { clock_offset = ms - time_source(); }

// ---- keyboard --------------------------------------------------------------

int (*key_waiting_hook)(void);
int (*key_read_hook)(void);

char key_script[1024];
size_t key_script_pos;
int key_script_on;
int key_script_pending;  // the key a check found waiting, 0 none

volatile sig_atomic_t tty_changed;
struct termios tty_saved;
int key_pushback = -1;  // a byte read after an Escape that began no sequence

void tty_restore(void) {
  if (tty_changed) {
    tcsetattr(0, TCSANOW, &tty_saved);
    tty_changed = 0;
  }
}

void on_fatal_signal(int sig) {
  if (tty_changed) tcsetattr(0, TCSANOW, &tty_saved);
  tty_changed = 0;
  signal(sig, SIG_DFL);
  raise(sig);
}

// Non-canonical, no echo, around one check or read. 0 done, -1 not.
int tty_raw(void) {
  struct termios t;
  if (tcgetattr(0, &t) != 0) return -1;
  tty_saved = t;
  t.c_lflag &= (tcflag_t) ~(ICANON | ECHO);
  t.c_cc[VMIN] = 1;
  t.c_cc[VTIME] = 0;
  tty_changed = 1;
  if (tcsetattr(0, TCSANOW, &t) != 0) {
    tty_changed = 0;
    return -1;
  }
  return 0;
}

int byte_ready(int timeout_ms) {
  struct pollfd p;
  p.fd = 0;
  p.events = POLLIN;
  p.revents = 0;
  int r;
  do {
    r = poll(&p, 1, timeout_ms);
  } while (r < 0 && errno == EINTR);
  return r > 0 && (p.revents & (POLLIN | POLLHUP)) != 0;
}

int read_byte(void) {
  unsigned char c;
  ssize_t r;
  do {
    r = read(0, &c, 1);
  } while (r < 0 && errno == EINTR);
  return r == 1 ? c : -1;
}

// A background process that touched its controlling terminal would be
// stopped; a terminal that is not the controlling one has no such rule.
int tty_foreground(void) {
  pid_t fg = tcgetpgrp(0);
  return fg < 0 || fg == getpgrp();
}

int console_key_waiting(void) {
  if (!isatty(0) || !tty_foreground()) return 0;
  if (key_pushback >= 0) return 1;
  if (tty_raw() != 0) return 0;
  int r = byte_ready(0);
  tty_restore();
  return r;
}

int console_key_read(void) {
  if (!isatty(0)) {
    int c = read_byte();
    return c < 0 ? 0 : c;
  }
  if (key_pushback >= 0) {
    int c = key_pushback;
    key_pushback = -1;
    return c;
  }
  if (!tty_foreground() || tty_raw() != 0) return 0;
  int c = read_byte();
  if (c == 27) {
    // An Escape that starts a cursor or function key sequence is taken
    // whole; a lone one is the Escape key.
    if (byte_ready(50)) {
      int n = read_byte();
      if (n == '[' || n == 'O') {
        for (int i = 0; i < 16 && byte_ready(50); i++) {
          int f = read_byte();
          if (f < 0 || (f >= 0x40 && f <= 0x7E)) break;
        }
        c = 0;
      } else if (n >= 0) {
        key_pushback = n;
      }
    }
  }
  tty_restore();
  return c < 0 ? 0 : c;
}

// ---- console ---------------------------------------------------------------

int locale_utf8(void) {
  const char *names[] = {"LC_ALL", "LC_CTYPE", "LANG"};
  for (const char *name : names) {
    const char *v = getenv(name);
    if (v == NULL || v[0] == 0) continue;
    for (const char *p = v; *p; p++) {
      if (strncasecmp(p, "utf-8", 5) == 0 || strncasecmp(p, "utf8", 4) == 0)
        return 1;
    }
    return 0;
  }
  return 0;
}

iconv_t sjis_conv = (iconv_t)-1;
int sjis_conv_tried;

// ---- seams -----------------------------------------------------------------

int parse_errno(const char *s, int *err) {
  static const struct {
    const char *name;
    int value;
  } names[] = {{"EIO", EIO},       {"ENOSPC", ENOSPC},  {"EACCES", EACCES},
               {"ENOENT", ENOENT}, {"EEXIST", EEXIST},  {"EMFILE", EMFILE},
               {"EROFS", EROFS},   {"EPERM", EPERM},    {"EINVAL", EINVAL},
               {"EISDIR", EISDIR}, {"ENOTDIR", ENOTDIR}};
  for (const auto &n : names) {
    if (strcmp(s, n.name) == 0) {
      *err = n.value;
      return 1;
    }
  }
  char *end;
  long v = strtol(s, &end, 10);
  if (end == s || *end != 0 || v <= 0) return 0;
  *err = (int)v;
  return 1;
}

void parse_fail_list(const char *list) {
  static const char *ops[PLAT_OP_COUNT] = {
      "open", "read", "write", "mkdir", "rename", "settime", "remove"};
  char item[128];
  const char *p = list;
  while (*p) {
    size_t n = strcspn(p, ",");
    if (n < sizeof item) {
      memcpy(item, p, n);
      item[n] = 0;
      char *f1 = strchr(item, ':');
      if (f1) {
        *f1++ = 0;
        char *f2 = strchr(f1, ':');
        if (f2) *f2++ = 0;
        int op = -1;
        for (int i = 0; i < PLAT_OP_COUNT; i++)
          if (strcmp(item, ops[i]) == 0) op = i;
        char *end;
        long nth = strtol(f1, &end, 10);
        int persist = 0;
        if (*end == '+') {
          persist = 1;
          end++;
        }
        int err = EIO;
        if (op >= 0 && end != f1 && *end == 0 && nth > 0 &&
            (f2 == NULL || parse_errno(f2, &err)))
          plat_fail_nth(op, nth, err, persist);
      }
    }
    p += n;
    if (*p == ',') p++;
  }
}

// "YYYY-MM-DD HH:MM:SS" as local time; 1 and ms, or 0.
int parse_test_clock(const char *s, int64_t *ms) {
  int y, mo, d, h, mi, se;
  char tail;
  if (sscanf(s, "%d-%d-%d %d:%d:%d%c", &y, &mo, &d, &h, &mi, &se, &tail) != 6)
    return 0;
  if (y < 1601 || y > 30827 || mo < 1 || mo > 12 || d < 1 || h < 0 || mi < 0 ||
      se < 0)
    return 0;
  plat_systime t;
  memset(&t, 0, sizeof t);
  t.year = (uint16_t)y;
  t.month = (uint16_t)mo;
  t.day = (uint16_t)d;
  t.hour = (uint16_t)h;
  t.minute = (uint16_t)mi;
  t.second = (uint16_t)se;
  if (!systime_valid(&t)) return 0;
  struct tm tm;
  systime_to_tm(&t, &tm);
  tzset();
  *ms = (int64_t)mktime(&tm) * 1000;
  return 1;
}

int handlers_installed;

void install_handlers(void) {
  if (handlers_installed) return;
  handlers_installed = 1;
  atexit(tty_restore);
  const int sigs[] = {SIGINT, SIGTERM};
  for (int sig : sigs) {
    struct sigaction old;
    if (sigaction(sig, NULL, &old) == 0 && old.sa_handler == SIG_IGN)
      continue;  // an ignored signal stays ignored
    struct sigaction sa;
    memset(&sa, 0, sizeof sa);
    sa.sa_handler = on_fatal_signal;
    sigemptyset(&sa.sa_mask);
    sigaction(sig, &sa, NULL);
  }
}

}  // namespace

// ---- start-up --------------------------------------------------------------

void plat_init(void) {
  install_handlers();
  tzset();

  time_source = real_now_ms;
  tick_source = real_tick_ms;
  clock_offset = 0;
  const char *clk = getenv("VELDOR_TEST_CLOCK");
  int64_t ms;
  int frozen = 0;
  if (clk && *clk && parse_test_clock(clk, &ms)) {
    frozen_now = ms;
    time_source = frozen_now_ms;
    frozen = 1;
  }
  const char *tick = getenv("VELDOR_TEST_TICK");
  char *end;
  unsigned long tv = tick && *tick ? strtoul(tick, &end, 10) : 0;
  if (tick && *tick && *end == 0) {
    frozen_tick = (uint32_t)tv;
    tick_source = frozen_tick_ms;
  } else if (frozen) {
    frozen_tick = 1000;
    tick_source = frozen_tick_ms;
  }

  const char *keys = getenv("VELDOR_TEST_KEYS");
  key_script_on = keys != NULL;
  snprintf(key_script, sizeof key_script, "%s", keys ? keys : "");
  key_script_pos = 0;
  key_script_pending = 0;

  plat_fail_reset();
  const char *fail = getenv("VELDOR_TEST_FAIL");
  if (fail) parse_fail_list(fail);
}

void plat_program_path(const char *argv0, char *out, size_t size) {
  if (size == 0) return;
  size_t o = 0;
  const char *p = argv0 ? argv0 : "";
  while (*p && o + 1 < size) {
    size_t n = sjis_len(p);
    if (n == 2) {
      out[o++] = p[0];
      if (o + 1 < size) out[o++] = p[1];
    } else {
      out[o++] = *p == '/' ? '\\' : *p;
    }
    p += n;
  }
  out[o] = 0;
}

// ---- streams ---------------------------------------------------------------

FILE *plat_fopen(const char *path, const char *mode) {
  if (fault_hit(PLAT_OP_OPEN)) return NULL;
  if (mode == NULL || (mode[0] != 'r' && mode[0] != 'w' && mode[0] != 'a')) {
    errno = EINVAL;
    return NULL;
  }
  int text = strchr(mode, 'b') == NULL;
  int plus = strchr(mode, '+') != NULL;
  int acc = plus ? O_RDWR : (mode[0] == 'r' ? O_RDONLY : O_WRONLY);
  int extra = mode[0] == 'w' ? O_TRUNC : (mode[0] == 'a' ? O_APPEND : 0);

  stream_rec *s = NULL;
  for (int i = 0; i < MAX_STREAMS; i++) {
    if (!streams[i].used) {
      s = &streams[i];
      break;
    }
  }
  if (s == NULL) {
    errno = EMFILE;
    return NULL;
  }

  char exact[HOST_PATH], res[HOST_PATH];
  if (map_path(path, exact) != 0) return NULL;
  const char *use = exact;
  int fd = open(exact, acc | extra | O_CLOEXEC);
  if (fd < 0 && retry_path(exact, res)) {
    use = res;
    fd = open(res, acc | extra | O_CLOEXEC);
  }
  if (fd < 0 && errno == ENOENT && mode[0] != 'r') {
    // A new file: created under the name as given, below the resolved parent.
    fd = open(use, acc | extra | O_CREAT | O_CLOEXEC, 0666);
  }
  if (fd < 0) return NULL;
  struct stat st;
  if (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    close(fd);
    errno = EISDIR;
    return NULL;
  }

  s->used = 1;
  s->eof = 0;
  s->err = 0;
  s->pos = 0;
  s->len = 0;
  s->fd = fd;
  s->text = text;
  cookie_io_functions_t io;
  io.read = cookie_read;
  io.write = cookie_write;
  io.seek = cookie_seek;
  io.close = cookie_close;
  char cmode[4] = {mode[0], 0, 0, 0};
  if (plus) cmode[1] = '+';
  FILE *fp = fopencookie(s, cmode, io);
  if (fp == NULL) {
    int e = errno;
    close(fd);
    s->used = 0;
    errno = e;
    return NULL;
  }
  s->fp = fp;
  return fp;
}

int64_t plat_stream_size(FILE *stream) {
  int fd = stream_fd(stream);
  struct stat st;
  if (fd < 0 || fstat(fd, &st) != 0) return -1;
  return (int64_t)st.st_size;
}

int plat_stream_copy_times(FILE *src, FILE *dst) {
  if (fault_hit(PLAT_OP_SETTIME)) return 0;
  int sfd = stream_fd(src), dfd = stream_fd(dst);
  struct stat st;
  if (sfd < 0 || dfd < 0 || fstat(sfd, &st) != 0) return 0;
  // Buffered data written later would stamp the file again.
  fflush(dst);
  struct timespec ts[2];
  ts[0].tv_sec = st.st_atime;
  ts[0].tv_nsec = 0;
  ts[1].tv_sec = st.st_mtime;
  ts[1].tv_nsec = 0;
  return futimens(dfd, ts) == 0 ? 1 : 0;
}

// ---- files and directories -------------------------------------------------

namespace {
// stat through the mapping, exact name first. 0 done, -1 with errno.
int stat_path(const char *path, struct stat *st) {
  char exact[HOST_PATH], res[HOST_PATH];
  if (map_path(path, exact) != 0) return -1;
  if (stat(exact, st) == 0) return 0;
  if (retry_path(exact, res) && stat(res, st) == 0) return 0;
  return -1;
}

void stamp_dir(const char *host, int64_t ms) {
  if (fault_hit(PLAT_OP_SETTIME)) return;
  int64_t sec = floor_div(ms, 1000);
  struct timespec ts[2];
  ts[0].tv_sec = (time_t)sec;
  ts[0].tv_nsec = (long)(ms - sec * 1000) * 1000000L;
  ts[1] = ts[0];
  utimensat(AT_FDCWD, host, ts, 0);
}
}  // namespace

int plat_exists(const char *path) {
  struct stat st;
  return stat_path(path, &st) == 0 ? 1 : 0;
}

int plat_is_dir(const char *path) {
  struct stat st;
  return stat_path(path, &st) == 0 && S_ISDIR(st.st_mode) ? 1 : 0;
}

int plat_mkdir(const char *path) {
  if (fault_hit(PLAT_OP_MKDIR)) return -1;
  char host[HOST_PATH];
  // An existing case variant makes the creation fail, as on Windows.
  if (host_path(path, host) != 0) return -1;
  if (mkdir(host, 0777) != 0) return -1;
  if (clock_offset != 0) {
    int64_t now = program_now_ms();
    stamp_dir(host, now);
    size_t n = strlen(host);
    while (n > 1 && host[n - 1] == '/') n--;
    host[n] = 0;
    char *slash = strrchr(host, '/');
    if (slash == NULL)
      stamp_dir(".", now);
    else {
      if (slash == host) slash++;  // the root itself
      *slash = 0;
      stamp_dir(host, now);
    }
  }
  return 0;
}

int plat_remove(const char *path) {
  if (fault_hit(PLAT_OP_REMOVE)) return -1;
  char exact[HOST_PATH], res[HOST_PATH];
  if (map_path(path, exact) != 0) return -1;
  if (unlink(exact) == 0) return 0;
  if (retry_path(exact, res) && unlink(res) == 0) return 0;
  return -1;
}

int plat_rename(const char *from, const char *to) {
  if (fault_hit(PLAT_OP_RENAME)) return -1;
  char src[HOST_PATH], dst[HOST_PATH];
  if (host_path(from, src) != 0) return -1;
  // An existing target under another case is the one replaced, unless it is
  // the source itself: then the rename only changes the name's case.
  if (host_path(to, dst) != 0) return -1;
  char exact[HOST_PATH];
  struct stat a, b;
  if (map_path(to, exact) == 0 && stat(src, &a) == 0 && stat(dst, &b) == 0 &&
      a.st_dev == b.st_dev && a.st_ino == b.st_ino) {
    // The resolved parent with the last name as given.
    const char *given = strrchr(exact, '/');
    given = given ? given + 1 : exact;
    char *cut = strrchr(dst, '/');
    size_t keep = cut ? (size_t)(cut + 1 - dst) : 0;
    if (keep + strlen(given) + 1 > HOST_PATH) {
      errno = ENAMETOOLONG;
      return -1;
    }
    memcpy(dst + keep, given, strlen(given) + 1);
  }
  return rename(src, dst) == 0 ? 0 : -1;
}

int plat_chdir(const char *path) {
  char exact[HOST_PATH], res[HOST_PATH];
  if (map_path(path, exact) != 0) return -1;
  if (chdir(exact) == 0) return 0;
  if (retry_path(exact, res) && chdir(res) == 0) return 0;
  return -1;
}

int plat_getcwd(char *buf, size_t size) {
  char host[HOST_PATH];
  if (buf == NULL || size == 0) return 0;
  if (getcwd(host, sizeof host) == NULL) return 0;
  size_t n = strlen(host);
  if (n + 1 > size) return 0;
  for (size_t i = 0; i <= n; i++) buf[i] = host[i] == '/' ? '\\' : host[i];
  return 1;
}

int plat_fsync(FILE *stream) {
  int fd = stream_fd(stream);
  if (fd < 0) return -1;
  if (fflush(stream) != 0) return -1;
  return fsync(fd) == 0 ? 0 : -1;
}

int plat_file_write_time(const char *path, plat_systime *local_out,
                         plat_systime *utc_out) {
  struct stat st;
  if (stat_path(path, &st) != 0) return 0;
  int64_t ms = (int64_t)st.st_mtime * 1000;
  if (local_out) ms_to_systime(ms, 1, local_out);
  if (utc_out) ms_to_systime(ms, 0, utc_out);
  return 1;
}

// ---- directory search ------------------------------------------------------

namespace {
// Wildcard match, "*" any run and "?" one character, ASCII case ignored;
// a double-byte character counts as one.
int wild_match(const char *pat, const char *name) {
  const char *star = NULL, *resume = NULL;
  while (*name) {
    if (*pat == '*') {
      while (*pat == '*') pat++;
      star = pat;
      resume = name;
      continue;
    }
    size_t nl = sjis_len(name);
    if (*pat) {
      size_t pl = sjis_len(pat);
      int ok;
      if (pl == 1 && *pat == '?')
        ok = 1;
      else if (pl != nl)
        ok = 0;
      else if (pl == 2)
        ok = pat[0] == name[0] && pat[1] == name[1];
      else
        ok = ascii_lower((unsigned char)*pat) ==
             ascii_lower((unsigned char)*name);
      if (ok) {
        pat += pl;
        name += nl;
        continue;
      }
    }
    if (star == NULL) return 0;
    resume += sjis_len(resume);
    pat = star;
    name = resume;
  }
  while (*pat == '*') pat++;
  return *pat == 0;
}

// As on Windows, a final ".*" also matches a name without an extension.
int find_match(const char *pat, const char *name) {
  if (wild_match(pat, name)) return 1;
  size_t n = strlen(pat);
  if (n >= 2 && pat[n - 2] == '.' && pat[n - 1] == '*' && !strchr(name, '.')) {
    char shorter[260];
    snprintf(shorter, sizeof shorter, "%.*s", (int)(n - 2), pat);
    return wild_match(shorter, name);
  }
  return 0;
}
}  // namespace

// f is taken as closed: a search still open in it is the caller's to close.
int plat_find_first(const char *pattern, plat_find *f) {
  f->handle = NULL;
  f->name[0] = 0;
  f->pattern[0] = 0;
  f->is_dir = 0;
  if (fault_hit(PLAT_OP_OPEN)) return 0;
  if (pattern == NULL) return 0;
  // The last component starts after the last separator (or a drive's colon).
  size_t cut = 0;
  const char *p = pattern;
  while (*p) {
    size_t n = sjis_len(p);
    if (n == 1 && (*p == '\\' || *p == '/')) cut = (size_t)(p - pattern) + 1;
    p += n;
  }
  if (cut == 0 && pattern[0] != 0 && pattern[1] == ':') cut = 2;
  const char *last = pattern + cut;
  if (strlen(last) >= sizeof f->pattern || last[0] == 0) return 0;
  char dir[HOST_PATH];
  if (cut >= sizeof dir) return 0;
  if (cut == 0) {
    strcpy(dir, ".");
  } else {
    memcpy(dir, pattern, cut);
    dir[cut] = 0;
  }
  char exact[HOST_PATH], res[HOST_PATH];
  if (map_path(dir, exact) != 0) return 0;
  DIR *d = opendir(exact);
  if (d == NULL && retry_path(exact, res)) d = opendir(res);
  if (d == NULL) return 0;
  snprintf(f->pattern, sizeof f->pattern, "%s", last);
  f->handle = d;
  if (plat_find_next(f)) return 1;
  plat_find_close(f);
  return 0;
}

int plat_find_next(plat_find *f) {
  DIR *d = (DIR *)f->handle;
  if (d == NULL) return 0;
  struct dirent *e;
  while ((e = readdir(d)) != NULL) {
    if (strlen(e->d_name) >= sizeof f->name) continue;
    if (!find_match(f->pattern, e->d_name)) continue;
    snprintf(f->name, sizeof f->name, "%s", e->d_name);
    struct stat st;
    f->is_dir =
        fstatat(dirfd(d), e->d_name, &st, 0) == 0 && S_ISDIR(st.st_mode);
    return 1;
  }
  return 0;
}

void plat_find_close(plat_find *f) {
  if (f == NULL || f->handle == NULL) return;
  closedir((DIR *)f->handle);
  f->handle = NULL;
}

// ---- clock -----------------------------------------------------------------

void plat_local_time(plat_systime *out) {
  ms_to_systime(program_now_ms(), 1, out);
}

void plat_system_time(plat_systime *out) {
  ms_to_systime(program_now_ms(), 0, out);
}

int plat_set_local_time(const plat_systime *t) {
  if (t == NULL || !systime_valid(t)) return 0;
  struct tm tm;
  systime_to_tm(t, &tm);
  time_t sec = mktime(&tm);
  if (sec == (time_t)-1 && !(tm.tm_year == 69 && tm.tm_mon == 11)) return 0;
  set_program_ms((int64_t)sec * 1000 + t->millisecond);
  return 1;
}

int plat_set_system_time(const plat_systime *t) {
  if (t == NULL || !systime_valid(t)) return 0;
  struct tm tm;
  systime_to_tm(t, &tm);
  tm.tm_isdst = 0;
  time_t sec = timegm(&tm);
  set_program_ms((int64_t)sec * 1000 + t->millisecond);
  return 1;
}

uint32_t plat_tick_count(void) { return tick_source(); }

void plat_set_time_source(int64_t (*now_ms)(void)) {
  time_source = now_ms ? now_ms : real_now_ms;
}

void plat_set_tick_source(uint32_t (*tick_ms)(void)) {
  tick_source = tick_ms ? tick_ms : real_tick_ms;
}

void plat_clock_reset(void) { clock_offset = 0; }

// ---- keyboard and console --------------------------------------------------

int plat_key_waiting(void) {
  if (key_waiting_hook) return key_waiting_hook();
  if (key_script_on) {
    key_script_pending = 0;
    char c = key_script[key_script_pos];
    if (c == 0) return 0;
    key_script_pos++;
    if (c == '.') return 0;
    key_script_pending = c == 'e' ? 27 : (unsigned char)c;
    return 1;
  }
  return console_key_waiting();
}

int plat_key_read(void) {
  if (key_read_hook) return key_read_hook();
  if (key_script_on) {
    if (key_script_pending) {
      int c = key_script_pending;
      key_script_pending = 0;
      return c;
    }
    // A read without a check waits for the next key of the script.
    for (;;) {
      char c = key_script[key_script_pos];
      if (c == 0) return 0;
      key_script_pos++;
      if (c != '.') return c == 'e' ? 27 : (unsigned char)c;
    }
  }
  return console_key_read();
}

void plat_set_key_source(int (*waiting)(void), int (*read)(void)) {
  key_waiting_hook = waiting;
  key_read_hook = read;
}

void plat_console_write(const char *bytes, size_t n) {
  if (bytes == NULL || n == 0) return;
  if (!locale_utf8()) {
    fwrite(bytes, 1, n, stdout);
    return;
  }
  if (!sjis_conv_tried) {
    sjis_conv_tried = 1;
    sjis_conv = iconv_open("UTF-8", "CP932");
  }
  if (sjis_conv == (iconv_t)-1) {
    fwrite(bytes, 1, n, stdout);
    return;
  }
  iconv(sjis_conv, NULL, NULL, NULL, NULL);
  char *in = const_cast<char *>(bytes);
  size_t left = n;
  char buf[1024];
  while (left > 0) {
    char *out = buf;
    size_t room = sizeof buf;
    size_t r = iconv(sjis_conv, &in, &left, &out, &room);
    int e = errno;
    fwrite(buf, 1, (size_t)(out - buf), stdout);
    if (r != (size_t)-1 || left == 0) continue;
    if (e == E2BIG) continue;
    // A byte (or double-byte character) that does not convert.
    size_t skip = 1;
    if (left >= 2 && sjis_lead((unsigned char)in[0]) &&
        sjis_trail((unsigned char)in[1]))
      skip = 2;
    fputc('?', stdout);
    in += skip;
    left -= skip;
    iconv(sjis_conv, NULL, NULL, NULL, NULL);
  }
}

// ---- fault injection -------------------------------------------------------

void plat_fail_nth(int op, long n, int err, int persist) {
  if (op < 0 || op >= PLAT_OP_COUNT) return;
  faults[op].count = 0;
  faults[op].nth = n > 0 ? n : 0;
  faults[op].err = err;
  faults[op].persist = persist;
}

long plat_op_count(int op) {
  if (op < 0 || op >= PLAT_OP_COUNT) return 0;
  return faults[op].count;
}

void plat_fail_reset(void) { memset(faults, 0, sizeof faults); }
