// The one settings record of the process and the domain replacement table.
// Every part of the program reads and writes the fields by name.
#ifndef VELDOR_SETTINGS_H
#define VELDOR_SETTINGS_H

#include <cstdint>
#include <cstdio>

#include "lib/zeb_dsk.h"

enum { TEXT_SIZE = 260, PROFILE_PATH_SIZE = 272, DOMAIN_TABLE_SIZE = 100 };

struct settings_record {
  // section names
  char sec_profile[PROFILE_PATH_SIZE];
  char sec_dir[TEXT_SIZE];
  char sec_option[TEXT_SIZE];
  char sec_domain[TEXT_SIZE];
  // files and directories
  char fat_filename[TEXT_SIZE];
  char fat_directory[TEXT_SIZE];
  char out_directory[TEXT_SIZE];
  char hst_filename[TEXT_SIZE];
  char log_filename[TEXT_SIZE];
  // history and log switches
  int flg_hst_file;
  int flg_hst_mode;
  int flg_hst_type;
  int flg_hst_date;
  int flg_log_file;
  // previous run
  int flg_last_from;
  dos_datetime flg_last_time;
  // domain and name options
  char domain_only[TEXT_SIZE];
  char domain_ext[TEXT_SIZE];
  char domain_ip[TEXT_SIZE];
  char domain_root[TEXT_SIZE];
  char domain_sub[TEXT_SIZE];
  char cgi_name[TEXT_SIZE];
  int flg_dom_only;
  int flg_dom_flg;
  int flg_dom_dir;
  int flg_sub_dir;
  int flg_dir_max;
  int flg_dir_time;
  int flg_cap_file;
  int flg_cap_dir;
  int flg_cap_dom;
  int flg_skip_www;
  int flg_skip_url;
  int flg_cgi_file;
  int flg_shiftjis;
  // per-entry flags
  int flg_graphic;
  int flg_url_ftp;
  int flg_filename;
  // command-line switches
  int flg_verbose;
  int flg_result;
  int flg_wait_key;
  int flg_intel;
  int flg_debug;
  int flg_test;
  int flg_hst_only;
  // open streams
  FILE *fat_stream;
  FILE *hst_stream;
  FILE *log_stream;
};

struct domain_entry {
  char dom[TEXT_SIZE];
  char dir[TEXT_SIZE];
};

struct domain_table_record {
  uint32_t dom_count;
  domain_entry entry[DOMAIN_TABLE_SIZE];
};

extern settings_record settings;
extern domain_table_record domain_table;

// Puts both records back to their defaults, all streams none. The process
// starts with them so; tests call it between cases.
void settings_reset(void);

#endif
