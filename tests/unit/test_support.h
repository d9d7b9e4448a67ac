// Helpers shared by the unit tests: a scratch folder per test, files written
// and read with the host's own calls, and a fixed clock.
#ifndef VELDOR_TEST_SUPPORT_H
#define VELDOR_TEST_SUPPORT_H

#include <cstdint>
#include <string>

// A fresh empty folder under $TMPDIR (or /tmp), made the current directory
// for the test's life; removed, and the old directory restored, afterwards.
class scratch_dir {
 public:
  scratch_dir();
  ~scratch_dir();
  const std::string &path() const { return path_; }  // host form, absolute
  // The folder in the program's path form (backslashes).
  std::string program_path() const;

 private:
  std::string path_;
  std::string old_cwd_;
};

// The bytes on disk of a text written through a text stream (LF as CR LF).
std::string crlf(const std::string &text);

// Host-side file helpers (paths in host form, relative to the current
// directory unless absolute).
void write_host_file(const std::string &path, const std::string &bytes);
std::string read_host_file(const std::string &path);  // "" when missing
bool host_file_exists(const std::string &path);
void make_host_dir(const std::string &path);
// Sets a host file's access and modification times (seconds since 1970 UTC).
void set_host_file_time(const std::string &path, int64_t seconds);
int64_t host_file_mtime(const std::string &path);

// A fixed time source for the program clock: set_fake_now() installs it at
// the given instant (milliseconds since 1970 UTC); the tick counter is fixed
// too and moved by advance_fake_ticks. restore_real_clock() undoes both.
void set_fake_now(int64_t ms_since_epoch, uint32_t ticks = 1000);
void advance_fake_time(int64_t ms);  // moves both the clock and the ticks
void restore_real_clock();

// Seconds since 1970 UTC of a UTC calendar time.
int64_t utc_seconds(int year, int month, int day, int hour, int minute,
                    int second);

// Sets TZ for the test and calls tzset; restores the old value on destruction.
class tz_guard {
 public:
  explicit tz_guard(const char *tz);
  ~tz_guard();

 private:
  std::string old_;
  bool had_;
};

// Captures what is written to standard output (fd 1) between construction
// and text(); stdout is flushed on both ends.
class stdout_capture {
 public:
  stdout_capture();
  ~stdout_capture();
  std::string text();  // ends the capture and returns the bytes

 private:
  int saved_fd_;
  std::string path_;
  bool done_;
};

#endif
