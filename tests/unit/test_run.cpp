// The command line, the run's clock arithmetic and the message functions.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "src/run/run.h"
#include "src/settings/settings.h"
#include "test_support.h"

namespace {

int parse(std::vector<std::string> args) {
  args.insert(args.begin(), "veldor");
  std::vector<char *> argv;
  for (std::string &a : args) argv.push_back(&a[0]);
  argv.push_back(nullptr);
  return cmdline_parse(static_cast<int>(args.size()), argv.data());
}

struct switch_case {
  std::vector<std::string> args;
  int result;
  std::function<void(const settings_record &)> check;
};

TEST(Cmdline, SwitchTable) {
  const switch_case cases[] = {
      {{}, 1,
       [](const settings_record &s) {
         EXPECT_EQ(s.flg_debug, 0);
         EXPECT_EQ(s.flg_verbose, 1);
       }},
      {{"-v"}, 1, [](const settings_record &s) { EXPECT_EQ(s.flg_verbose, 0); }},
      {{"-V"}, 1, [](const settings_record &s) { EXPECT_EQ(s.flg_verbose, 0); }},
      {{"/v"}, 1, [](const settings_record &s) { EXPECT_EQ(s.flg_verbose, 0); }},
      {{"-vr"}, 1,
       [](const settings_record &s) {
         EXPECT_EQ(s.flg_verbose, 0);
         EXPECT_EQ(s.flg_result, 1);  // the text after the letter is ignored
       }},
      {{"-!"}, 1, [](const settings_record &s) { EXPECT_EQ(s.flg_debug, 1); }},
      {{"-!3"}, 1, [](const settings_record &s) { EXPECT_EQ(s.flg_debug, 3); }},
      {{"-!2", "-!abc"}, 1,
       [](const settings_record &s) { EXPECT_EQ(s.flg_debug, 0); }},
      {{"-t"}, 1, [](const settings_record &s) { EXPECT_EQ(s.flg_test, 1); }},
      {{"-t4"}, 1, [](const settings_record &s) { EXPECT_EQ(s.flg_test, 4); }},
      {{"-r", "-k", "-i"}, 1,
       [](const settings_record &s) {
         EXPECT_EQ(s.flg_result, 0);
         EXPECT_EQ(s.flg_wait_key, 1);
         EXPECT_EQ(s.flg_intel, 0);
       }},
      {{"-h"}, 1,
       [](const settings_record &s) {
         EXPECT_EQ(s.flg_hst_only, 1);
         EXPECT_STREQ(s.fat_filename, "NETSCAPE.HST");
         EXPECT_STREQ(s.log_filename, "HISTORY.TXT");
         EXPECT_STREQ(s.hst_filename, "HISTORY.HTM");
         EXPECT_EQ(s.flg_hst_file, 1);
         EXPECT_EQ(s.flg_hst_mode, 9);
       }},
      {{"-hC:\\CACHE\\"}, 1,
       [](const settings_record &s) {
         EXPECT_STREQ(s.fat_filename, "C:\\CACHE\\");
       }},
      {{"Example.COM", "Second.ORG"}, 1,
       [](const settings_record &s) {
         EXPECT_EQ(s.flg_dom_only, 1);
         EXPECT_STREQ(s.domain_only, "second.org");
       }},
      {{"-x", "-", "/"}, 1,
       [](const settings_record &s) {
         EXPECT_EQ(s.flg_debug, 0);
         EXPECT_EQ(s.flg_dom_only, 0);
       }},
      {{"-?", "-v"}, 0,
       [](const settings_record &s) { EXPECT_EQ(s.flg_verbose, 0); }},
      {{std::string(1000, 'a')}, 1,
       [](const settings_record &s) {
         EXPECT_EQ(std::strlen(s.domain_only), 259u);
       }},
  };
  for (const switch_case &c : cases) {
    std::string label;
    for (const std::string &a : c.args) label += a.substr(0, 20) + " ";
    SCOPED_TRACE(label);
    settings_reset();
    stdout_capture cap;
    EXPECT_EQ(parse(c.args), c.result);
    c.check(settings);
  }
}

const char usage_text[] =
    "\nPELKAR - VELDOR  version 1.08  (C) 1997-1998 VELDOR developers"
    "\n\n    using : PELKAR [options...] [url]\n\t-i    : not Intel data\n"
    "\t-v    : verbose not display\n\t-r    : result not display\n"
    "\t-k    : wait key press\n\t-?    : display help message\n\n";
const char debug_text[] =
    "\nPELKAR - VELDOR  version 1.08  (C) 1997-1998 VELDOR developers"
    "\n\n    using : PELKAR [options...]\n"
    "\t-!    : debug1 mode  disp copy\n"
    "\t-!2   : debug2 mode  disp copy+conv+all\n"
    "\t-!3   : debug3 mode  disp copy+conv+all+detail\n"
    "\t-t    : test1  mode  proc read+conv\n"
    "\t-t2   : test2  mode  proc read+conv+copy\n"
    "\t-t3   : test3  mode  proc read+conv+copy(cgi skip)\n"
    "\t-t4   : test4  mode  proc read+conv+copy(dir skip)\n\n";

TEST(Cmdline, UsageTexts) {
  struct {
    std::vector<std::string> args;
    std::string during_parse;
  } cases[] = {
      {{"-?"}, ""},
      {{"-?x"}, ""},
      {{"-??"}, debug_text},
  };
  for (auto &c : cases) {
    SCOPED_TRACE(c.args[0]);
    settings_reset();
    stdout_capture cap;
    EXPECT_EQ(parse(c.args), 0);
    usage_print();
    EXPECT_EQ(cap.text(), c.during_parse + usage_text);
  }
}

TEST(RunClock, AdvanceCarriesUpToTheDayOnly) {
  struct {
    plat_systime start;
    uint32_t elapsed;
    plat_systime end;
  } cases[] = {
      // 90 minutes from 23:10:30.500 on day 5
      {{1997, 5, 1, 5, 23, 10, 30, 500}, 90u * 60 * 1000,
       {1997, 5, 1, 6, 0, 40, 30, 500}},
      {{1997, 1, 5, 31, 23, 59, 59, 999}, 1, {1997, 1, 5, 32, 0, 0, 0, 0}},
      {{1997, 5, 1, 5, 0, 0, 0, 0}, 0, {1997, 5, 1, 5, 0, 0, 0, 0}},
      // the largest elapsed count: 49 days, 17:02:47.295
      {{1997, 5, 1, 1, 0, 0, 0, 0}, 0xFFFFFFFFu, {1997, 5, 1, 50, 17, 2, 47, 295}},
  };
  for (auto &c : cases) {
    plat_systime t = c.start;
    run_clock_advance(&t, c.elapsed);
    EXPECT_EQ(t.year, c.end.year);
    EXPECT_EQ(t.month, c.end.month);
    EXPECT_EQ(t.day_of_week, c.end.day_of_week);
    EXPECT_EQ(t.day, c.end.day);
    EXPECT_EQ(t.hour, c.end.hour);
    EXPECT_EQ(t.minute, c.end.minute);
    EXPECT_EQ(t.second, c.end.second);
    EXPECT_EQ(t.millisecond, c.end.millisecond);
  }
}

// A whole run without a cache: run_end sets the program clock from the start
// plus the elapsed ticks, or leaves it alone when the day does not exist.
TEST(RunClock, RunEndSetsTheProgramClock) {
  tz_guard tz("UTC");
  struct {
    int64_t start_ms;
    int64_t run_ms;
    int64_t drift_ms;  // the real time source runs ahead of the ticks
    int64_t expected_ms;
  } cases[] = {
      // 23:10:30.500 on 5 May, 90 minutes: set to 00:40:30.500 on 6 May
      {utc_seconds(1997, 5, 5, 23, 10, 30) * 1000 + 500, 90 * 60 * 1000, 7000,
       utc_seconds(1997, 5, 6, 0, 40, 30) * 1000 + 500},
      // across the end of May: day 32 refused, the clock keeps its time
      {utc_seconds(1997, 5, 31, 23, 30, 0) * 1000, 60 * 60 * 1000, 7000,
       utc_seconds(1997, 6, 1, 0, 30, 7) * 1000},
  };
  for (auto &c : cases) {
    scratch_dir dir;
    settings_reset();
    settings.flg_log_file = 0;
    settings.flg_hst_file = 0;
    settings.flg_result = 0;
    std::string profile = dir.program_path() + "\\VELDOR.INI";
    std::snprintf(settings.sec_profile, sizeof settings.sec_profile, "%s",
                  profile.c_str());
    set_fake_now(c.start_ms, 5000);
    stdout_capture cap;
    run_start();
    set_fake_now(c.start_ms + c.run_ms + c.drift_ms, 5000 + static_cast<uint32_t>(c.run_ms));
    run_end();
    plat_systime now;
    plat_local_time(&now);
    int64_t got = utc_seconds(now.year, now.month, now.day, now.hour,
                              now.minute, now.second) * 1000 + now.millisecond;
    EXPECT_EQ(got, c.expected_ms);
    restore_real_clock();
  }
}

TEST(Messages, TraceObeysVerboseAndTheLogGetsBoth) {
  scratch_dir dir;
  settings_reset();
  settings.flg_log_file = 1;
  settings.log_stream = plat_fopen("LOG.TXT", "a");
  ASSERT_NE(settings.log_stream, nullptr);
  settings.flg_verbose = 0;
  stdout_capture cap;
  msg_print("print %d\n", 1);
  msg_trace("trace %s\n", "x");
  std::string big(3000, 'b');
  msg_print("%s", big.c_str());  // cut to the buffer, never past it
  std::fclose(settings.log_stream);
  settings.log_stream = nullptr;
  EXPECT_EQ(cap.text(), "print 1\n" + std::string(2047, 'b'));
  EXPECT_EQ(read_host_file("LOG.TXT"),
            "print 1\r\ntrace x\r\n" + std::string(2047, 'b'));
}

}  // namespace
