// The road of one cache entry: filters, mapping, directories, the per-file
// line, the counters, the copy and the history lines.
#include <cstdio>
#include <cstring>

#include "lib/zeb_dsk.h"
#include "lib/zeb_key.h"
#include "lib/zeb_str.h"
#include "src/cache/cache.h"
#include "src/entry/entry.h"
#include "src/history/history.h"
#include "src/run/run.h"
#include "src/settings/settings.h"
#include "src/urlmap/urlmap.h"

// The position of the last path separator of path, or -1; a trail byte 5C
// is no separator.
static long last_separator(const char *path) {
  long last = -1;
  for (long i = 0; path[i] != '\0';
       i += static_cast<long>(string_char_size(path + i)))
    if (path[i] == '\\' || path[i] == '/') last = i;
  return last;
}

static int ascii_equal_nocase(const char *a, const char *b) {
  for (;; a++, b++) {
    unsigned char x = static_cast<unsigned char>(*a);
    unsigned char y = static_cast<unsigned char>(*b);
    if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y - 'A' + 'a');
    if (x != y) return 0;
    if (x == '\0') return 1;
  }
}

// Creates the directories that the output file needs. A path whose folder
// is the root or a bare drive needs none.
static void make_output_dirs(const char *out_filename,
                             const char *cache_filename) {
  char dir[OUT_PATH_SIZE];
  long cut = last_separator(out_filename);
  if (cut <= 0) return;
  std::memcpy(dir, out_filename, static_cast<size_t>(cut));
  dir[cut] = '\0';
  if (cut == 2 && dir[1] == ':') return;
  if (settings.flg_dir_time != 0)
    make_dirs_timed(dir, cache_filename);
  else
    make_dirs(dir);
}

// One item of cache_entry. Returns 0 when Escape was pressed before it.
static int proc_item(uint32_t i) {
  if (key_escape()) return 0;
  run_counters_record &cnt = run_counters;
  char file[TEXT_SIZE];
  char url[TEXT_SIZE];
  string_copy(file, sizeof file, cache_entry.item[i].file);
  string_copy(url, sizeof url, cache_entry.item[i].http);
  cnt.cnt_cache++;

  settings.flg_graphic = 1;
  settings.flg_url_ftp = 0;
  settings.flg_filename = 1;

  // A cache file name too long to be joined to its directory cannot be named,
  // so it counts as missing rather than as a cut, other, name.
  char cache_filename[TEXT_SIZE];
  int joined = std::snprintf(cache_filename, sizeof cache_filename, "%s%s",
                             settings.fat_directory, file);
  if (joined < 0 || joined >= TEXT_SIZE || !file_exists(cache_filename)) {
    if (settings.flg_debug >= 2)
      msg_trace("\tcache not exist %s\n", cache_filename);
    cnt.cnt_nofile++;
    return 1;
  }

  if (settings.flg_last_from != 0) {
    dos_datetime t;
    dos_time_file(cache_filename, &t);
    dos_datetime last = settings.flg_last_time;
    if (settings.flg_debug >= 2) {
      char text[DOS_TIME_TEXT_SIZE];
      dos_time_text(last, text);
      msg_trace("\tbefore %s\n", text);
      dos_time_text(t, text);
      msg_trace("\tftime  %s\n", text);
    }
    if ((t >> 5) < (last >> 5)) {
      if (settings.flg_debug >= 2)
        msg_trace("\tbefore run %s\n", cache_filename);
      cnt.cnt_before++;
      return 1;
    }
  }

  if (settings.flg_debug >= 1) {
    msg_trace("No. =%d\n", static_cast<int>(i));
    msg_trace("http=%s\n", url);
    msg_trace("file=%s\n", file);
  }

  int kind = url_kind(url);
  switch (kind) {
    case URL_HTTP:
    case URL_HTTPS:
      if (settings.flg_skip_url & 1) return 1;
      break;
    case URL_FTP:
      cnt.cnt_nohttp++;
      if (settings.flg_skip_url & 2) return 1;
      settings.flg_url_ftp = 1;
      break;
    case URL_FILE:
      if (settings.flg_skip_url & 4) return 1;
      settings.flg_url_ftp = 1;
      break;
    default:
      break;
  }

  entry_paths p;
  std::memset(&p, 0, sizeof p);
  url_split_domain(kind, url, p.url_domain);
  url_split_directory(kind, url, p.url_directory);
  url_split_filename(kind, url, p.url_filename);
  if (settings.flg_debug >= 1) {
    msg_trace("\turl_domain   =%s\n", p.url_domain);
    msg_trace("\turl_directory=%s\n", p.url_directory);
    msg_trace("\turl_filename =%s\n", p.url_filename);
  }
  if (settings.flg_test == 4) {
    msg_trace("\ttodir proc skip\n");
    return 1;
  }

  if (settings.flg_dom_only != 0 &&
      !ascii_equal_nocase(p.url_domain, settings.domain_only)) {
    cnt.cnt_nofile++;
    return 1;
  }

  todir_domain(p.url_domain, p.dir_domain);
  todir_directory(p.url_directory, p.dir_directory);
  settings.flg_filename = todir_filename(p.url_filename, p.dir_filename);
  if (settings.flg_debug >= 1) {
    msg_trace("\tdir_domain   =%s\n", p.dir_domain);
    msg_trace("\tdir_directory=%s\n", p.dir_directory);
    msg_trace("\tdir_filename =%s\n", p.dir_filename);
  }
  if (settings.flg_test == 3) {
    msg_trace("\tcgi proc skip\n");
    return 1;
  }

  if (cgi_proc(p.dir_directory) == 0) {
    cnt.cnt_cgi++;
    return 1;
  }
  int r = cgi_proc(p.dir_filename);
  if (r == 0) {
    cnt.cnt_cgi++;
    return 1;
  }
  if (r == 3 && settings.cgi_name[0] != '\0')
    string_copy(p.dir_filename, TEXT_SIZE, settings.cgi_name);
  if (settings.flg_url_ftp == 0)
    settings.flg_graphic = graphic_test(p.dir_filename);
  if (settings.flg_debug >= 1) {
    msg_trace("\tflg_graphic =%d\n", settings.flg_graphic);
    msg_trace("\tflg_url_ftp =%d\n", settings.flg_url_ftp);
    msg_trace("\tflg_filename=%d\n", settings.flg_filename);
  }

  if (todir_path(p.dir_domain, p.dir_directory, p.dir_filename,
                 p.out_filename)) {
    cnt.cnt_cgi++;
    return 1;
  }
  if (settings.flg_test == 0) make_output_dirs(p.out_filename, cache_filename);
  msg_trace("%s\n -> %s\n", url, p.out_filename);

  if (settings.flg_graphic == 0 ||
      (settings.flg_url_ftp == 1 && settings.flg_filename == 0))
    cnt.cnt_html++;
  else
    cnt.cnt_image++;
  cnt.cnt_conv++;

  if (settings.flg_test == 0) {
    file_copy(cache_filename, p.out_filename);
    hst_entry(url, p.url_filename, p.out_filename);
  }
  return 1;
}

int proc_copy(void) {
  for (uint32_t i = 0; i < cache_entry.count && i < 1; i++)
    if (!proc_item(i)) return 0;
  return 1;
}
