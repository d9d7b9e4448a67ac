// Loading the settings from VELDOR.INI beside the program, key by key, and
// the debug dump of the settings.
#include "src/settings/profile_load.h"

#include <cstdio>
#include <cstring>

#include "lib/zeb_arg.h"
#include "lib/zeb_con.h"
#include "lib/zeb_dsk.h"
#include "lib/zeb_str.h"
#include "platform/platform.h"
#include "src/run/run.h"
#include "src/settings/settings.h"

// A profile value is shorter than a profile line; the buffers the values are
// read into have a field's size, so every copy fits.
static int get(const char *section, const char *key, char *value_out) {
  return profile_get(settings.sec_profile, section, key, value_out);
}

static int ends_with_backslash(const char *text) {
  size_t n = std::strlen(text);
  return n > 0 && text[n - 1] == '\\';
}

// Reads a number key into field; a missing key leaves the field alone.
static void get_number(const char *section, const char *key, int *field) {
  char value[TEXT_SIZE];
  if (get(section, key, value)) *field = string_to_int(value);
}

// A path is absolute when it begins with a separator or a drive letter.
static int path_is_absolute(const char *path) {
  return path[0] == '\\' || path[0] == '/' ||
         (path[0] != '\0' && path[1] == ':');
}

// The profile's full name. A program directory that is relative (".", for a
// program started through PATH) is made absolute against the directory the
// program started in, so that the profile is still found after OUTDIR has
// changed the current directory.
static void profile_name(void) {
  char cwd[TEXT_SIZE];
  if (!path_is_absolute(prog_directory) && plat_getcwd(cwd, sizeof cwd)) {
    int n = std::snprintf(settings.sec_profile, PROFILE_PATH_SIZE,
                          "%s\\%s\\VELDOR.INI", cwd, prog_directory);
    if (n >= 0 && n < PROFILE_PATH_SIZE) return;
  }
  std::snprintf(settings.sec_profile, PROFILE_PATH_SIZE, "%s\\VELDOR.INI",
                prog_directory);
}

// OUTDIR: a value without a drive letter is entered and read back as the
// absolute current directory.
static void load_outdir(const char *value) {
  char *out = settings.out_directory;
  string_copy(out, TEXT_SIZE, value);
  size_t n = std::strlen(out);
  if (n > 0 && out[n - 1] == '\\') out[n - 1] = '\0';
  if (out[0] == '\0' || out[1] != ':') {
    plat_chdir(out);
    // A current directory that leaves no room for the backslash is named
    // relatively: the process stands in it.
    if (!plat_getcwd(out, TEXT_SIZE - 1)) {
      string_copy(out, TEXT_SIZE, ".\\");
      return;
    }
  }
  string_append(out, TEXT_SIZE, "\\");
}

// LAST_TIME: "1997/05/05 09:07", read from the front; a missing separator
// leaves every later field 0.
static dos_datetime parse_last_time(const char *text) {
  const char *p = text;
  unsigned year = static_cast<unsigned>(string_to_int(p));
  unsigned fields[4] = {0, 0, 0, 0};
  const char separators[4] = {'/', '/', ' ', ':'};
  for (int i = 0; i < 4; i++) {
    const char *s = std::strchr(p, separators[i]);
    p = s ? s + 1 : p + std::strlen(p);
    fields[i] = static_cast<unsigned>(string_to_int(p));
  }
  return ((year - 1980u) << 25) | ((fields[0] & 0x0F) << 21) |
         ((fields[1] & 0x1F) << 16) | ((fields[2] & 0x1F) << 11) |
         ((fields[3] & 0x3F) << 5);
}

static void load_domain_table(void) {
  uint32_t j = 0;
  char key[16];
  char value[TEXT_SIZE];
  for (int i = 0; i < 100; i++) {
    std::snprintf(key, sizeof key, "DOM%02d", i);
    if (!get(settings.sec_domain, key, value) || value[0] == '\0') continue;
    string_copy(domain_table.entry[j].dom, TEXT_SIZE, value);
    std::snprintf(key, sizeof key, "DIR%02d", i);
    if (!get(settings.sec_domain, key, value) || value[0] == '\0') continue;
    string_copy(domain_table.entry[j].dir, TEXT_SIZE, value);
    j++;
  }
  domain_table.dom_count = j;
}

void settings_load(int argc, char **argv) {
  arg_init(argc, argv);
  profile_name();
  domain_table.dom_count = 0;
  if (!file_exists(settings.sec_profile)) return;

  char value[TEXT_SIZE];
  get("DOS32", "DIR", settings.sec_dir);
  get("DOS32", "OPTION", settings.sec_option);
  get("DOS32", "DOMAIN", settings.sec_domain);

  const char *dir = settings.sec_dir;
  if (get(dir, "FATNAME", settings.fat_filename)) {
    path_dir_part(settings.fat_filename, settings.fat_directory);
    if (!ends_with_backslash(settings.fat_directory))
      string_append(settings.fat_directory, TEXT_SIZE, "\\");
  }
  if (get(dir, "OUTDIR", value)) load_outdir(value);
  if (get(dir, "HISTORY", value)) {
    string_copy(settings.hst_filename, TEXT_SIZE, value);
    if (ends_with_backslash(value))
      string_append(settings.hst_filename, TEXT_SIZE, "HISTORY.HTM");
    settings.flg_hst_file = 1;
  } else {
    settings.flg_hst_file = 0;
    settings.flg_hst_mode = 0;
  }
  if (get(dir, "HISTORYSET", value)) {
    settings.flg_hst_mode = string_to_int(value);
    if (settings.flg_hst_mode == 0) settings.flg_hst_file = 0;
  }
  get_number(dir, "HISTORYPUT", &settings.flg_hst_type);
  get_number(dir, "HISTORYDATE", &settings.flg_hst_date);
  if (get(dir, "LOG", value) && value[0] != '\0') {
    string_copy(settings.log_filename, TEXT_SIZE, value);
    if (ends_with_backslash(value))
      string_append(settings.log_filename, TEXT_SIZE, "LOG.TXT");
    settings.flg_log_file = 1;
  } else {
    settings.flg_log_file = 0;
  }
  get_number(dir, "LAST_FROM", &settings.flg_last_from);
  if (get(dir, "LAST_TIME", value) && value[0] != '\0')
    settings.flg_last_time = parse_last_time(value);

  const char *opt = settings.sec_option;
  get(opt, "DOMAIN_EXT", value);
  string_copy(settings.domain_ext, TEXT_SIZE, value[0] == '0' ? "" : value);
  get(opt, "IP_ADDRESS", settings.domain_ip);
  get(opt, "ROOTHTML", settings.domain_root);
  get_number(opt, "DOMAIN_FLG", &settings.flg_dom_flg);
  get_number(opt, "DOMAIN_DIR", &settings.flg_dom_dir);
  get(opt, "DOMAIN_SUB", value);
  if (value[0] != '0') {
    string_copy(settings.domain_sub, TEXT_SIZE, value);
    settings.flg_sub_dir = 1;
  }
  get_number(opt, "DIR_MAX", &settings.flg_dir_max);
  get_number(opt, "DIR_TIME", &settings.flg_dir_time);
  get_number(opt, "SKIP_WWW", &settings.flg_skip_www);
  get_number(opt, "SKIP_URL", &settings.flg_skip_url);
  get_number(opt, "CGI_FILE", &settings.flg_cgi_file);
  get(opt, "CGI_NAME", value);
  if (value[0] != '0') string_copy(settings.cgi_name, TEXT_SIZE, value);
  get_number(opt, "SHIFTJIS", &settings.flg_shiftjis);
  get_number(opt, "CAPITAL_FILE", &settings.flg_cap_file);
  get_number(opt, "CAPITAL_DIR", &settings.flg_cap_dir);
  get_number(opt, "CAPITAL_DOMAIN", &settings.flg_cap_dom);

  load_domain_table();
}

void settings_dump(void) {
  if (settings.flg_debug == 0) return;
  const settings_record &s = settings;
  msg_trace("<ARGUMENT>\n");
  msg_trace("intel cpu  =%d\n", s.flg_intel);
  msg_trace("<SECTION>\n");
  msg_trace("sec_profile=%s\n", s.sec_profile);
  msg_trace("sec_dir    =%s\n", s.sec_dir);
  msg_trace("sec_option =%s\n", s.sec_option);
  msg_trace("sec_domain =%s\n", s.sec_domain);
  msg_trace("<DIR>\n");
  msg_trace("fat_filename =%s\n", s.fat_filename);
  msg_trace("fat_directory=%s\n", s.fat_directory);
  msg_trace("out_directory=%s\n", s.out_directory);
  msg_trace("hst_filename =%s\n", s.hst_filename);
  msg_trace("log_filename =%s\n", s.log_filename);
  msg_trace("flg_hst_file =%d\n", s.flg_hst_file);
  msg_trace("flg_hst_mode =%d\n", s.flg_hst_mode);
  msg_trace("flg_hst_type =%d\n", s.flg_hst_type);
  msg_trace("flg_hst_date =%d\n", s.flg_hst_date);
  msg_trace("flg_log_file =%d\n", s.flg_log_file);
  msg_trace("flg_last_from=%d\n", s.flg_last_from);
  char last_time[DOS_TIME_TEXT_SIZE];
  dos_time_text(s.flg_last_time, last_time);
  msg_trace("flg_last_time=%s\n", last_time);
  msg_trace("<OPTION>\n");
  msg_trace("domain_only =%s\n", s.domain_only);
  msg_trace("domain_ext  =%s\n", s.domain_ext);
  msg_trace("domain_ip   =%s\n", s.domain_ip);
  msg_trace("domain_root =%s\n", s.domain_root);
  msg_trace("domain_sub  =%s\n", s.domain_sub);
  msg_trace("flg_dom_only=%d\n", s.flg_dom_only);
  msg_trace("flg_dom_flg =%d\n", s.flg_dom_flg);
  msg_trace("flg_dom_dir =%d\n", s.flg_dom_dir);
  msg_trace("flg_sub_dir =%d\n", s.flg_sub_dir);
  msg_trace("flg_dir_max =%d\n", s.flg_dir_max);
  msg_trace("flg_dir_time=%d\n", s.flg_dir_time);
  msg_trace("flg_skip_www=%d\n", s.flg_skip_www);
  msg_trace("flg_skip_url=%d\n", s.flg_skip_url);
  msg_trace("flg_cgi_file=%d\n", s.flg_cgi_file);
  msg_trace("flg_shiftjis=%d\n", s.flg_shiftjis);
  msg_trace("flg_cap_file=%d\n", s.flg_cap_file);
  msg_trace("flg_cap_dir =%d\n", s.flg_cap_dir);
  msg_trace("flg_cap_dom =%d\n", s.flg_cap_dom);
  msg_trace("<DOMAIN>\n");
  for (uint32_t i = 0; i < domain_table.dom_count && i < DOMAIN_TABLE_SIZE;
       i++) {
    msg_trace("DOM%02d=%s\n", static_cast<int>(i), domain_table.entry[i].dom);
    msg_trace("DIR%02d=%s\n", static_cast<int>(i), domain_table.entry[i].dir);
  }
}
