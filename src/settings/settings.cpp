#include "src/settings/settings.h"

#include <cstring>

#include "lib/zeb_str.h"

settings_record settings;
domain_table_record domain_table;

void settings_reset(void) {
  std::memset(&settings, 0, sizeof settings);
  std::memset(&domain_table, 0, sizeof domain_table);
  string_copy(settings.sec_dir, TEXT_SIZE, "DIR");
  string_copy(settings.sec_option, TEXT_SIZE, "OPTION");
  string_copy(settings.sec_domain, TEXT_SIZE, "DOMAIN");
  string_copy(settings.fat_filename, TEXT_SIZE, "FAT.DB");
  string_copy(settings.fat_directory, TEXT_SIZE, ".\\");
  string_copy(settings.out_directory, TEXT_SIZE, ".\\");
  string_copy(settings.hst_filename, TEXT_SIZE, ".\\HISTORY.HTM");
  string_copy(settings.log_filename, TEXT_SIZE, ".\\LOG.TXT");
  settings.flg_hst_file = 1;
  settings.flg_hst_mode = 2;
  settings.flg_hst_type = 3;
  settings.flg_hst_date = 0;
  settings.flg_log_file = 1;
  string_copy(settings.domain_ext, TEXT_SIZE, ".DOM");
  string_copy(settings.domain_ip, TEXT_SIZE, "00");
  string_copy(settings.domain_root, TEXT_SIZE, "INDEX.HTM");
  settings.flg_dom_dir = 1;
  settings.flg_dir_max = 260;
  settings.flg_cap_file = 1;
  settings.flg_cap_dir = 1;
  settings.flg_cap_dom = 1;
  settings.flg_skip_www = 15;
  settings.flg_skip_url = 6;
  settings.flg_shiftjis = 1;
  settings.flg_graphic = 0;
  settings.flg_filename = 0;
  settings.flg_verbose = 1;
  settings.flg_result = 1;
  settings.flg_intel = 1;
}

// The defaults are in place before main runs.
static struct settings_initialiser {
  settings_initialiser() { settings_reset(); }
} settings_initialiser_instance;
