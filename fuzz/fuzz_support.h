// Helpers shared by the fuzz targets: one scratch folder per process, host
// file access for setting up inputs and reading results, a silenced console
// and a keyboard that never has a key waiting. The targets may use host calls
// here; the modules under test go through the platform layer as always.
#ifndef VELDOR_FUZZ_SUPPORT_H
#define VELDOR_FUZZ_SUPPORT_H

#include <dirent.h>
#include <fcntl.h>
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace fuzz {

inline std::string &scratch_path() {
  static std::string path;
  return path;
}

inline int remove_entry(const char *path, const struct stat *, int,
                        struct FTW *) {
  return ::remove(path);
}

inline void remove_tree(const std::string &path) {
  if (!path.empty()) nftw(path.c_str(), remove_entry, 16, FTW_DEPTH | FTW_PHYS);
}

inline void remove_scratch() { remove_tree(scratch_path()); }

// A failed invariant: the input that led here is the finding. The scratch
// folder goes first, since abort skips the exit handlers.
[[noreturn]] inline void fail(const char *file, int line, const char *what) {
  std::fprintf(stderr, "%s:%d: invariant failed: %s\n", file, line, what);
  remove_scratch();
  std::abort();
}

// Makes the scratch folder (once per process) under $TMPDIR or /tmp and
// returns its absolute host path. It is removed when the process exits.
inline const std::string &scratch() {
  std::string &path = scratch_path();
  if (path.empty()) {
    const char *tmp = std::getenv("TMPDIR");
    std::string templ =
        std::string(tmp && *tmp ? tmp : "/tmp") + "/veldor-fuzz-XXXXXX";
    std::vector<char> buf(templ.begin(), templ.end());
    buf.push_back('\0');
    if (mkdtemp(buf.data()) == nullptr) {
      std::perror("mkdtemp");
      std::abort();
    }
    char real[4096];
    path = realpath(buf.data(), real) ? real : buf.data();
    std::atexit(remove_scratch);
  }
  return path;
}

// A host path in the program's form: every '/' a backslash.
inline std::string program_form(const std::string &host) {
  std::string p = host;
  for (char &c : p)
    if (c == '/') c = '\\';
  return p;
}

inline void write_file(const std::string &path, const uint8_t *data,
                       size_t size) {
  FILE *f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) {
    std::perror(path.c_str());
    std::abort();
  }
  if (size > 0 && std::fwrite(data, 1, size, f) != size) std::abort();
  std::fclose(f);
}

inline void write_file(const std::string &path, const std::string &bytes) {
  write_file(path, reinterpret_cast<const uint8_t *>(bytes.data()),
             bytes.size());
}

// The bytes of a host file; false when it cannot be read.
inline bool read_file(const std::string &path, std::string *out) {
  out->clear();
  FILE *f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return false;
  char buf[8192];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out->append(buf, n);
  std::fclose(f);
  return true;
}

inline bool host_exists(const std::string &path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

// The names in a host folder, "." and ".." left out.
inline std::vector<std::string> list_dir(const std::string &path) {
  std::vector<std::string> names;
  DIR *d = opendir(path.c_str());
  if (d == nullptr) return names;
  while (struct dirent *e = readdir(d)) {
    if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
      names.push_back(e->d_name);
  }
  closedir(d);
  return names;
}

// The modules print to standard output; the fuzzer's own lines go to
// standard error, so fd 1 goes to /dev/null for the whole process.
inline void silence_stdout() {
  std::fflush(stdout);
  int fd = ::open("/dev/null", O_WRONLY);
  if (fd >= 0) {
    ::dup2(fd, 1);
    ::close(fd);
  }
}

inline int no_key_waiting(void) { return 0; }
inline int no_key_read(void) { return 0; }

// No key is ever pressed, whatever standard input is.
inline void no_keyboard() { plat_set_key_source(no_key_waiting, no_key_read); }

// 1 when the text in buf (size bytes) is terminated within them.
inline bool terminated(const char *buf, size_t size) {
  return std::memchr(buf, '\0', size) != nullptr;
}

// What a text stream reads from raw bytes: CR LF as LF, up to the first 1A.
inline std::string text_read(const std::string &raw) {
  std::string s;
  for (size_t i = 0; i < raw.size() && raw[i] != '\x1a'; i++) {
    if (raw[i] == '\r' && i + 1 < raw.size() && raw[i + 1] == '\n') continue;
    s.push_back(raw[i]);
  }
  return s;
}

// What a text stream writes for s: every LF as CR LF.
inline std::string text_write(const std::string &s) {
  std::string raw;
  for (char c : s) {
    if (c == '\n') raw.push_back('\r');
    raw.push_back(c);
  }
  return raw;
}

}  // namespace fuzz

#define FUZZ_CHECK(cond)                                \
  do {                                                  \
    if (!(cond)) fuzz::fail(__FILE__, __LINE__, #cond); \
  } while (0)

#endif
