// The platform layer: every contact of the program with the operating system
// goes through the functions declared here. The program speaks Windows paths
// in the system code page (Shift-JIS); a backend maps them to the host. One
// backend per host (plat_posix.cpp now), chosen by the build.
//
// Tests replace the clock, the tick counter and the keyboard through the hook
// setters below, and make the Nth call of a kind fail with plat_fail_nth.
#ifndef VELDOR_PLATFORM_H
#define VELDOR_PLATFORM_H

#include <cstddef>
#include <cstdint>
#include <cstdio>

// The system's date-time record: local or UTC calendar fields.
struct plat_systime {
  uint16_t year;         // 1601 .. 30827
  uint16_t month;        // 1 .. 12
  uint16_t day_of_week;  // 0 Sunday .. 6; ignored when setting the clock
  uint16_t day;          // 1 .. 31
  uint16_t hour;         // 0 .. 23
  uint16_t minute;       // 0 .. 59
  uint16_t second;       // 0 .. 59
  uint16_t millisecond;  // 0 .. 999
};

// ---- start-up --------------------------------------------------------------

// Reads the test seams of the environment (VELDOR_TEST_CLOCK, VELDOR_TEST_TICK,
// VELDOR_TEST_KEYS, VELDOR_TEST_FAIL, see the backend) and installs the
// terminal restore handlers. Called once by main before anything else.
void plat_init(void);

// Turns a program path as the runtime gives it (argv[0]) into the program's
// path form (separators as backslashes) in out, at most size-1 bytes, cut.
void plat_program_path(const char *argv0, char *out, size_t size);

// ---- streams ---------------------------------------------------------------

// Opens a file as a C stream. mode is "r", "w" or "a", optionally with "b".
// Without "b" the stream is a text stream: reading turns CR LF into LF and
// ends at the first 1A byte; writing turns every LF into CR LF. A directory
// is never opened. Returns the stream, or NULL (errno set) on failure.
FILE *plat_fopen(const char *path, const char *mode);

// Size in bytes of the file behind an open stream; -1 when unknown.
int64_t plat_stream_size(FILE *stream);

// Gives the file behind dst the last-access and last-write times of the file
// behind src, in whole seconds. Returns 1 when done, 0 on failure.
int plat_stream_copy_times(FILE *src, FILE *dst);

// ---- files and directories -------------------------------------------------

// 1 when the path names an existing file or directory, else 0.
int plat_exists(const char *path);
// 1 when the path names an existing directory, else 0.
int plat_is_dir(const char *path);
// Creates one directory. 0 created, -1 not (exists, parent missing, ...).
int plat_mkdir(const char *path);
// Removes a file. 0 done, -1 not.
int plat_remove(const char *path);
// Renames a file, replacing an existing target. 0 done, -1 not.
int plat_rename(const char *from, const char *to);
// Changes the current directory. 0 done, -1 not.
int plat_chdir(const char *path);
// The current directory in program form (backslashes) into buf.
// 1 done, 0 when it does not fit into size-1 bytes or cannot be read.
int plat_getcwd(char *buf, size_t size);
// Flushes a written file to the disk (for crash-safe replacement). 0 done, -1 not.
int plat_fsync(FILE *stream);

// Last-write time of a file as local and as UTC calendar fields (either
// pointer may be NULL). 1 done, 0 when the file cannot be read.
int plat_file_write_time(const char *path, plat_systime *local_out,
                         plat_systime *utc_out);

// Directory search: "*" and "?" in the last component, ASCII case ignored;
// hidden entries, "." and ".." included. One search per plat_find.
struct plat_find {
  void *handle;    // backend state; NULL while no search is open
  char pattern[260];  // the last component of the pattern
  char name[260];  // the current entry's name
  int is_dir;      // 1 when the current entry is a directory
};
// 1 and the first entry in f, or 0 (nothing matches, no such directory).
int plat_find_first(const char *pattern, plat_find *f);
// 1 and the next entry in f, or 0 when none is left.
int plat_find_next(plat_find *f);
// Ends the search; harmless on a closed one.
void plat_find_close(plat_find *f);

// ---- clock -----------------------------------------------------------------

// The program's own clock: the real clock plus an offset that the set
// functions change. The machine's clock is never touched.
void plat_local_time(plat_systime *out);
void plat_system_time(plat_systime *out);
// Set the program clock from local or UTC fields. 1 done; 0 refused (an
// impossible date or time, such as day 32), the clock left as it was.
int plat_set_local_time(const plat_systime *t);
int plat_set_system_time(const plat_systime *t);
// Milliseconds since some start, wrapping at 2^32.
uint32_t plat_tick_count(void);

// Replaces the real time source (milliseconds since 1970 UTC) and the tick
// counter; NULL restores the real one. For tests.
void plat_set_time_source(int64_t (*now_ms)(void));
void plat_set_tick_source(uint32_t (*tick_ms)(void));
// Resets the program clock's offset to 0. For tests.
void plat_clock_reset(void);

// ---- keyboard and console --------------------------------------------------

// 1 when a key press is waiting (never when stdin is not a terminal).
int plat_key_waiting(void);
// Reads one key press without echo, waiting for it; 27 for Escape, the
// character code otherwise; 0 for a cursor or function key sequence and at
// end of input.
int plat_key_read(void);
// Replaces the keyboard; NULL restores the console. For tests.
void plat_set_key_source(int (*waiting)(void), int (*read)(void));

// Writes Shift-JIS bytes to the console (standard output), converted to
// UTF-8 when the user's locale asks for it.
void plat_console_write(const char *bytes, size_t n);

// ---- fault injection (tests) -------------------------------------------------

enum plat_op {
  PLAT_OP_OPEN,
  PLAT_OP_READ,
  PLAT_OP_WRITE,
  PLAT_OP_MKDIR,
  PLAT_OP_RENAME,
  PLAT_OP_SETTIME,
  PLAT_OP_REMOVE,
  PLAT_OP_COUNT
};
// From now on, the nth call (1-based) of kind op fails with error err; with
// persist, every call from the nth on fails. n 0 clears the fault of op.
void plat_fail_nth(int op, long n, int err, int persist);
// Calls of kind op so far (counted whether or not they failed).
long plat_op_count(int op);
// Clears every fault and counter.
void plat_fail_reset(void);

#endif
