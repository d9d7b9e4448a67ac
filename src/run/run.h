// Run control: the run loop, its start and end, the counters, the messages.
#ifndef VELDOR_RUN_H
#define VELDOR_RUN_H

#include <cstdint>

#include "platform/platform.h"

struct run_counters_record {
  int32_t cnt_cache;
  int32_t cnt_conv;
  int32_t cnt_html;
  int32_t cnt_image;
  int32_t cnt_skip;
  int32_t cnt_before;
  int32_t cnt_nofile;
  int32_t cnt_nohttp;
  int32_t cnt_cgi;
};

extern run_counters_record run_counters;
extern plat_systime start_time;
extern uint32_t start_tick;

enum { MSG_BUFFER_SIZE = 2048 };

// One whole run; returns run_end's result (1).
int run_loop(void);
// Opens the log, prints the start messages, resets the counters, saves the
// clock. Returns 1.
int run_start(void);
// Closes the files, sets the clock, prints the summary, writes LAST_TIME,
// waits for a key when asked. Returns 1.
int run_end(void);
// Advances t by elapsed milliseconds, carrying up to the day only (the day
// is not carried into the month).
void run_clock_advance(plat_systime *t, uint32_t elapsed_ms);

// A message the user always sees: console and log.
void msg_print(const char *format, ...) __attribute__((format(printf, 1, 2)));
// Every other message: console unless -v, and log.
void msg_trace(const char *format, ...) __attribute__((format(printf, 1, 2)));

// A plain formatted print to the console only (never the log), through the
// message buffer: the usage texts.
void msg_console(const char *format, ...) __attribute__((format(printf, 1, 2)));

// Reads the command line over the profile's values. 1 run, 0 show usage.
int cmdline_parse(int argc, char **argv);
void usage_print(void);
void usage_debug(void);

// The program: settings, command line, run or usage. Returns 0.
int veldor_main(int argc, char **argv);

#endif
