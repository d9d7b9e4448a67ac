#include "test_support.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "platform/platform.h"

static void remove_tree(const std::string &path) {
  std::string cmd = "rm -rf '" + path + "'";
  if (std::system(cmd.c_str()) != 0) std::perror("rm -rf");
}

scratch_dir::scratch_dir() {
  char cwd[4096];
  if (getcwd(cwd, sizeof cwd)) old_cwd_ = cwd;
  const char *tmp = std::getenv("TMPDIR");
  std::string templ = std::string(tmp && *tmp ? tmp : "/tmp") + "/veldor-test-XXXXXX";
  char buf[4096];
  std::snprintf(buf, sizeof buf, "%s", templ.c_str());
  if (!mkdtemp(buf)) throw std::runtime_error("mkdtemp failed");
  char real[4096];
  path_ = realpath(buf, real) ? real : buf;
  if (chdir(path_.c_str()) != 0) throw std::runtime_error("chdir failed");
}

scratch_dir::~scratch_dir() {
  if (!old_cwd_.empty() && chdir(old_cwd_.c_str()) != 0) std::perror("chdir");
  remove_tree(path_);
}

std::string scratch_dir::program_path() const {
  std::string p = path_;
  for (char &c : p)
    if (c == '/') c = '\\';
  return p;
}

std::string crlf(const std::string &text) {
  std::string out;
  for (char c : text) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

void write_host_file(const std::string &path, const std::string &bytes) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  if (!f) throw std::runtime_error("cannot write " + path);
  f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string read_host_file(const std::string &path) {
  std::ifstream f(path, std::ios::binary);
  if (!f) return "";
  std::ostringstream s;
  s << f.rdbuf();
  return s.str();
}

bool host_file_exists(const std::string &path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

void make_host_dir(const std::string &path) {
  std::string cmd = "mkdir -p '" + path + "'";
  if (std::system(cmd.c_str()) != 0) throw std::runtime_error("mkdir failed");
}

void set_host_file_time(const std::string &path, int64_t seconds) {
  struct timespec ts[2];
  ts[0].tv_sec = static_cast<time_t>(seconds);
  ts[0].tv_nsec = 0;
  ts[1] = ts[0];
  if (utimensat(AT_FDCWD, path.c_str(), ts, 0) != 0)
    throw std::runtime_error("utimensat failed on " + path);
}

int64_t host_file_mtime(const std::string &path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return -1;
  return static_cast<int64_t>(st.st_mtime);
}

static int64_t fake_now_ms;
static uint32_t fake_ticks;
static int64_t fake_now(void) { return fake_now_ms; }
static uint32_t fake_tick(void) { return fake_ticks; }

void set_fake_now(int64_t ms_since_epoch, uint32_t ticks) {
  fake_now_ms = ms_since_epoch;
  fake_ticks = ticks;
  plat_set_time_source(fake_now);
  plat_set_tick_source(fake_tick);
  plat_clock_reset();
}

void advance_fake_time(int64_t ms) {
  fake_now_ms += ms;
  fake_ticks += static_cast<uint32_t>(ms);
}

void restore_real_clock() {
  plat_set_time_source(nullptr);
  plat_set_tick_source(nullptr);
  plat_clock_reset();
}

int64_t utc_seconds(int year, int month, int day, int hour, int minute,
                    int second) {
  struct tm t;
  std::memset(&t, 0, sizeof t);
  t.tm_year = year - 1900;
  t.tm_mon = month - 1;
  t.tm_mday = day;
  t.tm_hour = hour;
  t.tm_min = minute;
  t.tm_sec = second;
  return static_cast<int64_t>(timegm(&t));
}

tz_guard::tz_guard(const char *tz) {
  const char *old = std::getenv("TZ");
  had_ = old != nullptr;
  if (had_) old_ = old;
  setenv("TZ", tz, 1);
  tzset();
}

tz_guard::~tz_guard() {
  if (had_)
    setenv("TZ", old_.c_str(), 1);
  else
    unsetenv("TZ");
  tzset();
}

stdout_capture::stdout_capture() : saved_fd_(-1), done_(false) {
  std::fflush(stdout);
  char templ[] = "/tmp/veldor-stdout-XXXXXX";
  int fd = mkstemp(templ);
  if (fd < 0) throw std::runtime_error("mkstemp failed");
  path_ = templ;
  saved_fd_ = dup(1);
  dup2(fd, 1);
  close(fd);
}

std::string stdout_capture::text() {
  if (!done_) {
    std::fflush(stdout);
    dup2(saved_fd_, 1);
    close(saved_fd_);
    done_ = true;
  }
  std::string s = read_host_file(path_);
  return s;
}

stdout_capture::~stdout_capture() {
  text();
  unlink(path_.c_str());
}
