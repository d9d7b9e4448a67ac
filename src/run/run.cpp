// The run: start, the read/conv/copy loop over the cache, the end with the
// clock, the summary and LAST_TIME; and the two message functions.
#include "src/run/run.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "lib/zeb_con.h"
#include "lib/zeb_dsk.h"
#include "lib/zeb_key.h"
#include "src/cache/cache.h"
#include "src/entry/entry.h"
#include "src/settings/profile_load.h"
#include "src/settings/settings.h"

run_counters_record run_counters;
plat_systime start_time;
uint32_t start_tick;

// Formats into the message buffer; a message longer than the buffer is cut
// to its 2047 bytes. Returns the length written into buf.
static size_t msg_format(char *buf, const char *format, va_list args) {
  int n = std::vsnprintf(buf, MSG_BUFFER_SIZE, format, args);
  if (n < 0) {
    buf[0] = '\0';
    return 0;
  }
  return static_cast<size_t>(n) < MSG_BUFFER_SIZE ? static_cast<size_t>(n)
                                                  : MSG_BUFFER_SIZE - 1;
}

static void msg_out(int to_console, const char *format, va_list args) {
  char buf[MSG_BUFFER_SIZE];
  size_t n = msg_format(buf, format, args);
  if (to_console) plat_console_write(buf, n);
  if (settings.flg_log_file == 1 && settings.log_stream)
    std::fwrite(buf, 1, n, settings.log_stream);
}

void msg_print(const char *format, ...) {
  va_list args;
  va_start(args, format);
  msg_out(1, format, args);
  va_end(args);
}

void msg_console(const char *format, ...) {
  va_list args;
  va_start(args, format);
  char buf[MSG_BUFFER_SIZE];
  size_t n = msg_format(buf, format, args);
  va_end(args);
  plat_console_write(buf, n);
}

void msg_trace(const char *format, ...) {
  va_list args;
  va_start(args, format);
  msg_out(settings.flg_verbose == 1, format, args);
  va_end(args);
}

int run_start(void) {
  if (settings.flg_log_file == 1) {
    settings.log_stream = plat_fopen(settings.log_filename, "a");
    settings_dump();
  }
  // "\nVELDOR (%s,%s)\n処理を開始します。\n\n" with "MS-DOS", "32ビット版"
  msg_print(
      "\nVELDOR (%s,%s)\n"
      "\x8F\x88\x97\x9D\x82\xF0\x8A"
      "J\x8En\x82\xB5\x82\xDC\x82\xB7\x81"
      "B\n\n",
      "MS-DOS",
      "32\x83r\x83"
      "b\x83g\x94\xC5");
  if (settings.flg_dom_only == 1)
    // "対象ドメイン : %s\n"
    msg_print(
        "\x91\xCE\x8F\xDB\x83h\x83\x81\x83"
        "C\x83\x93 : %s\n",
        settings.domain_only);
  std::memset(&run_counters, 0, sizeof run_counters);
  plat_local_time(&start_time);
  start_tick = plat_tick_count();
  return cache_open(0);
}

void run_clock_advance(plat_systime *t, uint32_t elapsed_ms) {
  uint32_t e = elapsed_ms;
  e += t->millisecond;
  t->millisecond = static_cast<uint16_t>(e % 1000);
  e /= 1000;
  e += t->second;
  t->second = static_cast<uint16_t>(e % 60);
  e /= 60;
  e += t->minute;
  t->minute = static_cast<uint16_t>(e % 60);
  e /= 60;
  e += t->hour;
  t->hour = static_cast<uint16_t>(e % 24);
  e /= 24;
  t->day = static_cast<uint16_t>(t->day + e);
}

int run_end(void) {
  if (settings.fat_stream) {
    std::fclose(settings.fat_stream);
    settings.fat_stream = nullptr;
  }
  if (settings.flg_hst_file == 1 && settings.hst_stream) {
    std::fclose(settings.hst_stream);
    settings.hst_stream = nullptr;
  }
  // "\n処理を終了しました。\n"
  msg_print(
      "\n\x8F\x88\x97\x9D\x82\xF0\x8FI\x97\xB9\x82\xB5\x82\xDC\x82\xB5\x82\xBD"
      "\x81"
      "B\n");

  // The clock is set from the start of the run plus the elapsed ticks; a day
  // past the end of the month is refused and the clock keeps its time.
  run_clock_advance(&start_time, plat_tick_count() - start_tick);
  plat_set_local_time(&start_time);

  if (settings.flg_hst_only == 1) settings.flg_result = 0;
  if (settings.flg_result == 1) {
    run_counters_record &c = run_counters;
    c.cnt_skip = c.cnt_nofile + c.cnt_before + c.cnt_cgi + c.cnt_nohttp;
    // "\n処理結果:\n  キャッシュファイル %5d\n\n  変換ファイル       %5d\n"
    // "    HTMLファイル     %5d\n    画像ファイル     %5d\n\n"
    msg_print(
        "\n\x8F\x88\x97\x9D\x8C\x8B\x89\xCA:\n  \x83L\x83\x83\x83"
        "b\x83V\x83\x85\x83t\x83@\x83"
        "C\x83\x8B %5d\n\n  \x95\xCF\x8A\xB7\x83t\x83@\x83"
        "C\x83\x8B       %5d\n    HTML\x83t\x83@\x83"
        "C\x83\x8B     %5d\n    \x89\xE6\x91\x9C\x83t\x83@\x83"
        "C\x83\x8B     %5d\n\n",
        c.cnt_cache, c.cnt_conv, c.cnt_html, c.cnt_image);
    // "  スキップファイル   %5d\n    前回実行以前     %5d\n"
    // "    ファイルなし     %5d\n    http 以外        %5d\n"
    // "    CGI 等           %5d\n\n"
    msg_print(
        "  \x83X\x83L\x83"
        "b\x83v\x83t\x83@\x83"
        "C\x83\x8B   %5d\n    \x91O\x89\xF1\x8E\xC0\x8Ds\x88\xC8\x91O     "
        "%5d\n    \x83t\x83@\x83"
        "C\x83\x8B\x82\xC8\x82\xB5     %5d\n    http \x88\xC8\x8AO        "
        "%5d\n    CGI \x93\x99           %5d\n\n",
        c.cnt_skip, c.cnt_before, c.cnt_nofile, c.cnt_nohttp, c.cnt_cgi);
  }
  if (settings.log_stream) {
    std::fclose(settings.log_stream);
    settings.log_stream = nullptr;
  }
  if (settings.flg_hst_only == 0) {
    dos_datetime t;
    dos_time_now(&t);
    char text[DOS_TIME_TEXT_SIZE];
    dos_time_text(t, text);
    profile_put(settings.sec_profile, settings.sec_dir, "LAST_TIME", text);
  }
  if (settings.flg_wait_key == 1) {
    // "\n何かキーを押すと OS に戻ります。\n"
    msg_print(
        "\n\x89\xBD\x82\xA9\x83L\x81[\x82\xF0\x89\x9F\x82\xB7\x82\xC6 OS "
        "\x82\xC9\x96\xDF\x82\xE8\x82\xDC\x82\xB7\x81"
        "B\n");
    std::fflush(stdout);
    key_wait();
  }
  return 1;
}

int run_loop(void) {
  int r = run_start();
  while (r != 0 && key_escape() == 0) {
    if (settings.flg_debug >= 1) msg_trace("call read\n");
    r = proc_read();
    if (r != 0) {
      if (settings.flg_debug >= 1) msg_trace("call conv\n");
      r = proc_conv();
    }
    if (settings.flg_test == 1 || settings.flg_hst_only != 0) continue;
    if (r != 0) {
      if (settings.flg_debug >= 1) msg_trace("call copy\n");
      r = proc_copy();
    }
  }
  return run_end();
}

int veldor_main(int argc, char **argv) {
  plat_init();
  // The program's own path in the program's path form, so that its directory
  // is found with backslashes.
  static char program_path[TEXT_SIZE];
  if (argc > 0 && argv[0]) {
    plat_program_path(argv[0], program_path, sizeof program_path);
    argv[0] = program_path;
  }
  settings_load(argc, argv);
  if (cmdline_parse(argc, argv))
    run_loop();
  else
    usage_print();
  std::fflush(stdout);
  return 0;
}
