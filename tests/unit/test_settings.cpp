// Loading the settings from the profile: the key table's found/missing rules,
// OUTDIR, LAST_TIME, the domain table, and the dump.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <functional>
#include <string>

#include "lib/zeb_arg.h"
#include "src/run/run.h"
#include "src/settings/profile_load.h"
#include "src/settings/settings.h"
#include "test_support.h"

namespace {


// Loads the settings for a program that lies in the scratch folder.
void load_from(const scratch_dir &dir) {
  settings_reset();
  std::string prog = dir.program_path() + "\\veldor";
  char *argv[] = {&prog[0], nullptr};
  settings_load(1, argv);
}

const char *const full_profile =
    "[DOS32]\nDIR=D\nOPTION=O\nDOMAIN=M\n"
    "[D]\nFATNAME=C:\\CACHE\\\nOUTDIR=D:\\OUT\\\nHISTORY=C:\\WEB\\\n"
    "HISTORYSET=3\nHISTORYPUT=4\nHISTORYDATE=12\nLOG=C:\\LOGS\\\n"
    "LAST_FROM=1\nLAST_TIME=1997/05/05 09:07\n"
    "[O]\nDOMAIN_EXT=.D\nIP_ADDRESS=IP\nROOTHTML=root.htm\nDOMAIN_FLG=1\n"
    "DOMAIN_DIR=9\nDOMAIN_SUB=SUB\nDIR_MAX=8\nDIR_TIME=1\nSKIP_WWW=3\n"
    "SKIP_URL=0\nCGI_FILE=2\nCGI_NAME=CGI.HTM\nSHIFTJIS=0\nCAPITAL_FILE=0\n"
    "CAPITAL_DIR=0\nCAPITAL_DOMAIN=0\n"
    "[M]\nDOM03=example.com\nDIR03=EX\nDOM05=five.com\nDOM07=b.org\n"
    "DIR07=B\n";

struct load_case {
  const char *name;
  const char *profile;  // nullptr: no profile file
  std::function<void(const settings_record &)> check;
};

const load_case load_cases[] = {
    {"no profile keeps every default", nullptr,
     [](const settings_record &s) {
       EXPECT_STREQ(s.sec_dir, "DIR");
       EXPECT_STREQ(s.fat_filename, "FAT.DB");
       EXPECT_STREQ(s.hst_filename, ".\\HISTORY.HTM");
       EXPECT_STREQ(s.log_filename, ".\\LOG.TXT");
       EXPECT_EQ(s.flg_hst_file, 1);
       EXPECT_EQ(s.flg_log_file, 1);
       EXPECT_EQ(s.flg_hst_mode, 2);
       EXPECT_EQ(s.flg_hst_type, 3);
       EXPECT_STREQ(s.domain_root, "INDEX.HTM");
       EXPECT_EQ(domain_table.dom_count, 0u);
     }},
    {"a profile without [DOS32] finds no key",
     "[DIR]\nLAST_TIME=1997/05/01 10:30\n",
     [](const settings_record &s) {
       EXPECT_STREQ(s.sec_dir, "");
       EXPECT_STREQ(s.sec_option, "");
       EXPECT_STREQ(s.sec_domain, "");
       EXPECT_STREQ(s.fat_filename, "");
       EXPECT_STREQ(s.fat_directory, ".\\");
       EXPECT_STREQ(s.domain_ip, "");
       EXPECT_STREQ(s.domain_root, "");
       EXPECT_STREQ(s.domain_ext, "");
       EXPECT_STREQ(s.cgi_name, "");
       EXPECT_EQ(s.flg_hst_file, 0);
       EXPECT_EQ(s.flg_hst_mode, 0);
       EXPECT_EQ(s.flg_log_file, 0);
       EXPECT_EQ(s.flg_sub_dir, 1);
       EXPECT_EQ(s.flg_last_time, 0u);
       EXPECT_EQ(s.flg_skip_www, 15);
       EXPECT_EQ(s.flg_dir_max, 260);
     }},
    {"every key read", full_profile,
     [](const settings_record &s) {
       EXPECT_STREQ(s.sec_dir, "D");
       EXPECT_STREQ(s.sec_option, "O");
       EXPECT_STREQ(s.sec_domain, "M");
       EXPECT_STREQ(s.fat_filename, "C:\\CACHE\\");
       EXPECT_STREQ(s.fat_directory, "C:\\CACHE\\");
       EXPECT_STREQ(s.out_directory, "D:\\OUT\\");
       EXPECT_STREQ(s.hst_filename, "C:\\WEB\\HISTORY.HTM");
       EXPECT_EQ(s.flg_hst_file, 1);
       EXPECT_EQ(s.flg_hst_mode, 3);
       EXPECT_EQ(s.flg_hst_type, 4);
       EXPECT_EQ(s.flg_hst_date, 12);
       EXPECT_STREQ(s.log_filename, "C:\\LOGS\\LOG.TXT");
       EXPECT_EQ(s.flg_log_file, 1);
       EXPECT_EQ(s.flg_last_from, 1);
       EXPECT_EQ(s.flg_last_time, dos_pack(1997, 5, 5, 9, 7, 0));
       EXPECT_STREQ(s.domain_ext, ".D");
       EXPECT_STREQ(s.domain_ip, "IP");
       EXPECT_STREQ(s.domain_root, "root.htm");
       EXPECT_EQ(s.flg_dom_flg, 1);
       EXPECT_EQ(s.flg_dom_dir, 9);
       EXPECT_STREQ(s.domain_sub, "SUB");
       EXPECT_EQ(s.flg_sub_dir, 1);
       EXPECT_EQ(s.flg_dir_max, 8);
       EXPECT_EQ(s.flg_dir_time, 1);
       EXPECT_EQ(s.flg_skip_www, 3);
       EXPECT_EQ(s.flg_skip_url, 0);
       EXPECT_EQ(s.flg_cgi_file, 2);
       EXPECT_STREQ(s.cgi_name, "CGI.HTM");
       EXPECT_EQ(s.flg_shiftjis, 0);
       EXPECT_EQ(s.flg_cap_file, 0);
       EXPECT_EQ(s.flg_cap_dir, 0);
       EXPECT_EQ(s.flg_cap_dom, 0);
       // DOM05 has no DIR05: the 05 pair is not taken, the table has no gap
       ASSERT_EQ(domain_table.dom_count, 2u);
       EXPECT_STREQ(domain_table.entry[0].dom, "example.com");
       EXPECT_STREQ(domain_table.entry[0].dir, "EX");
       EXPECT_STREQ(domain_table.entry[1].dom, "b.org");
       EXPECT_STREQ(domain_table.entry[1].dir, "B");
     }},
    {"zero values switch options off",
     "[DOS32]\nDIR=DIR\nOPTION=OPTION\n[DIR]\nHISTORY=h.htm\nHISTORYSET=0\n"
     "LOG=\nOUTDIR=Q:OUT\n[OPTION]\nDOMAIN_EXT=0abc\nDOMAIN_SUB=00\n"
     "CGI_NAME=0\n",
     [](const settings_record &s) {
       EXPECT_EQ(s.flg_hst_file, 0);
       EXPECT_EQ(s.flg_hst_mode, 0);
       EXPECT_STREQ(s.hst_filename, "h.htm");
       EXPECT_EQ(s.flg_log_file, 0);
       EXPECT_STREQ(s.out_directory, "Q:OUT\\");
       EXPECT_STREQ(s.domain_ext, "");
       EXPECT_EQ(s.flg_sub_dir, 0);
       EXPECT_STREQ(s.domain_sub, "");
       EXPECT_STREQ(s.cgi_name, "");
     }},
    {"a FATNAME without directory part gives a lone backslash",
     "[DOS32]\nDIR=DIR\n[DIR]\nFATNAME=cache\n",
     [](const settings_record &s) {
       EXPECT_STREQ(s.fat_filename, "cache");
       EXPECT_STREQ(s.fat_directory, "\\");
     }},
};

TEST(SettingsLoad, KeyTableRules) {
  for (const load_case &c : load_cases) {
    SCOPED_TRACE(c.name);
    scratch_dir dir;
    if (c.profile) write_host_file("VELDOR.INI", crlf(c.profile));
    load_from(dir);
    EXPECT_EQ(std::string(settings.sec_profile),
              dir.program_path() + "\\VELDOR.INI");
    c.check(settings);
  }
}

struct last_time_case {
  const char *text;
  unsigned year_field, month, day, hour, minute;
};

TEST(SettingsLoad, LastTimeParsing) {
  const last_time_case cases[] = {
      {"1997/05/05 09:07", 17, 5, 5, 9, 7},
      {"1997", 17, 0, 0, 0, 0},
      {"2026/12/31 23:59", 46, 12, 31, 23, 59},
      {"1998/1/2", 18, 1, 2, 0, 0},
      {"1998/01/02 3", 18, 1, 2, 3, 0},
      {"1999/17/40 31:70", 19, 1, 8, 31, 6},  // cut to the fields' low bits
  };
  for (const last_time_case &c : cases) {
    SCOPED_TRACE(c.text);
    scratch_dir dir;
    write_host_file("VELDOR.INI",
                    crlf(std::string("[DOS32]\nDIR=DIR\n[DIR]\nLAST_TIME=") +
                         c.text + "\n"));
    load_from(dir);
    dos_datetime t = settings.flg_last_time;
    EXPECT_EQ(dos_year_field(t), c.year_field);
    EXPECT_EQ(dos_month(t), c.month);
    EXPECT_EQ(dos_day(t), c.day);
    EXPECT_EQ(dos_hour(t), c.hour);
    EXPECT_EQ(dos_minute(t), c.minute);
    EXPECT_EQ(dos_second(t), 0u);
  }
}

TEST(SettingsLoad, RelativeOutdirIsEnteredAndTheProfileStaysFound) {
  scratch_dir dir;
  make_host_dir("work");
  make_host_dir("out");
  write_host_file("work/VELDOR.INI",
                  crlf("[DOS32]\nDIR=DIR\n[DIR]\nOUTDIR=..\\out\\\n"
                       "LOG=.\\LOG.TXT\nHISTORY=.\\H.HTM\n"));
  ASSERT_EQ(chdir("work"), 0);
  // Started by its bare name: the profile is the one in the start folder.
  settings_reset();
  char prog[] = "veldor";
  char *argv[] = {prog, nullptr};
  settings_load(1, argv);
  EXPECT_EQ(std::string(settings.out_directory), dir.program_path() + "\\out\\");
  char cwd[4096];
  ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
  EXPECT_EQ(std::string(cwd), dir.path() + "/out");
  // The keys after OUTDIR are still read from the profile in the start folder.
  EXPECT_STREQ(settings.log_filename, ".\\LOG.TXT");
  EXPECT_EQ(settings.flg_hst_file, 1);
  EXPECT_STREQ(settings.hst_filename, ".\\H.HTM");
  EXPECT_EQ(std::string(settings.sec_profile),
            dir.program_path() + "\\work\\.\\VELDOR.INI");
}

TEST(SettingsLoad, OutdirThatDoesNotExistIsTheCurrentDirectory) {
  scratch_dir dir;
  write_host_file("VELDOR.INI", crlf("[DOS32]\nDIR=DIR\n[DIR]\nOUTDIR=NOWHERE\n"));
  load_from(dir);
  EXPECT_EQ(std::string(settings.out_directory), dir.program_path() + "\\");
}

TEST(SettingsDump, PrintsOnlyAtADebugLevelWithTheTableRenumbered) {
  scratch_dir dir;
  write_host_file("VELDOR.INI",
                  crlf("[DOS32]\nDIR=DIR\nOPTION=OPTION\nDOMAIN=DOMAIN\n"
                       "[DOMAIN]\nDOM03=a.com\nDIR03=A\nDOM07=b.com\nDIR07=B\n"));
  load_from(dir);
  settings.flg_log_file = 0;  // the dump goes to the console only here
  {
    stdout_capture cap;
    settings_dump();
    EXPECT_EQ(cap.text(), "");
  }
  settings.flg_debug = 1;
  stdout_capture cap;
  settings_dump();
  std::string out = cap.text();
  EXPECT_EQ(out.rfind("<ARGUMENT>\nintel cpu  =1\n<SECTION>\nsec_profile=", 0),
            0u);
  EXPECT_NE(out.find("\nsec_dir    =DIR\nsec_option =OPTION\nsec_domain =DOMAIN\n"
                     "<DIR>\nfat_filename =\nfat_directory=.\\\n"),
            std::string::npos);
  EXPECT_NE(out.find("\nflg_last_time=1980/00/00 00:00\n<OPTION>\n"),
            std::string::npos);
  EXPECT_NE(out.find("\nflg_cap_dom =1\n<DOMAIN>\nDOM00=a.com\nDIR00=A\n"
                     "DOM01=b.com\nDIR01=B\n"),
            std::string::npos);
  ASSERT_GE(out.size(), 9u);
  EXPECT_EQ(out.substr(out.size() - 9), "\nDIR01=B\n");
}

}  // namespace
