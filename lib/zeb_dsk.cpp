// Disk and dates: existence tests, the directory search, directory creation
// and the packed MS-DOS date and time.
#include "lib/zeb_dsk.h"

#include <cstdio>
#include <cstring>

#include "lib/zeb_str.h"
#include "platform/platform.h"

const char zeb_dsk_version[] = "ZEB_DSK 1.31";

enum { PATH_SIZE = 260 };

// The one directory search of the process.
static struct {
  int open;                 // 1 while a search is under way
  char pattern[PATH_SIZE];  // the pattern that started it
  plat_find find;           // the platform's search and its current entry
} search;

dos_datetime dos_pack(unsigned year, unsigned month, unsigned day,
                      unsigned hour, unsigned minute, unsigned second) {
  // The year field wraps at 100 instead of counting from 1980, so 2080 gives
  // 0 again; every field is masked to its width.
  return (static_cast<dos_datetime>(((year + 20) % 100) & 0x7F) << 25) |
         (static_cast<dos_datetime>(month & 0x0F) << 21) |
         (static_cast<dos_datetime>(day & 0x1F) << 16) |
         (static_cast<dos_datetime>(hour & 0x1F) << 11) |
         (static_cast<dos_datetime>(minute & 0x3F) << 5) |
         static_cast<dos_datetime>((second / 2) & 0x1F);
}

static dos_datetime pack_systime(const plat_systime *t) {
  return dos_pack(t->year, t->month, t->day, t->hour, t->minute, t->second);
}

int file_exists(const char *path) {
  FILE *f = plat_fopen(path, "r");
  if (f == NULL) return 0;
  std::fclose(f);
  return 1;
}

int is_dir_or_drive(const char *path) {
  FILE *f = plat_fopen(path, "r");
  if (f != NULL) {
    std::fclose(f);
    return 0;
  }
  // Whatever exists but cannot be opened as a file counts as a directory.
  if (plat_exists(path)) return 1;
  unsigned char c = static_cast<unsigned char>(path[0]);
  int letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
  // A drive counts whether or not it is ready.
  if (letter && path[1] == ':' && path[2] == '\0') return 1;
  return 0;
}

void dos_time_text(dos_datetime t, char out[DOS_TIME_TEXT_SIZE]) {
  std::snprintf(out, DOS_TIME_TEXT_SIZE, "%04u/%02u/%02u %02u:%02u",
                dos_year_field(t) + 1980, dos_month(t), dos_day(t), dos_hour(t),
                dos_minute(t));
}

// The first and last separator of text, passing over the second byte of each
// double-byte character; NULL when there is none. A slash separates as a
// backslash does, since the host takes both, so a search for SUB/* names its
// matches SUB/NAME.
static void find_backslashes(char *text, char **first, char **last) {
  *first = *last = NULL;
  for (char *p = text; *p != '\0'; p += string_char_size(p)) {
    if (*p == '\\' || *p == '/') {
      if (*first == NULL) *first = p;
      *last = p;
    }
  }
}

int path_dir_part(const char *path, char *out) {
  string_copy(out, PATH_SIZE, path);
  char *first;
  char *last;
  find_backslashes(out, &first, &last);
  if (first != NULL) {
    if (last == first)
      last[1] = '\0';  // the root keeps its backslash: C:\X gives C:\ .
    else
      last[0] = '\0';
    return 1;
  }
  char *colon = std::strrchr(out, ':');
  if (colon != NULL) {
    colon[1] = '\0';
    return 1;
  }
  out[0] = '\0';
  return 0;
}

static void search_close(void) {
  if (search.open) plat_find_close(&search.find);
  search.open = 0;
}

int dir_search(const char *pattern, char *path_out, int flags) {
  // The pattern is held cut to the path size; a longer one counts as the
  // same pattern when its first 259 bytes agree.
  if (search.open && std::strncmp(search.pattern, pattern, PATH_SIZE - 1) != 0)
    search_close();
  int have;
  if (!search.open) {
    string_copy(search.pattern, PATH_SIZE, pattern);
    have = plat_find_first(search.pattern, &search.find);
    search.open = 1;
  } else {
    have = plat_find_next(&search.find);
  }
  for (;;) {
    if (!have) {
      search_close();
      if (path_out != NULL) path_out[0] = '\0';
      return -1;
    }
    const char *name = search.find.name;
    int dot_dir = search.find.is_dir && name[0] == '.';
    if (!dot_dir || (flags & 4)) {
      if (path_out != NULL) {
        // A root (C:\ or \) already ends with its backslash, and a bare
        // drive (C:) names its current directory, where the search looked:
        // neither takes another backslash.
        path_dir_part(search.pattern, path_out);
        size_t len = std::strlen(path_out);
        if (len > 0 && path_out[len - 1] != '\\' && path_out[len - 1] != '/' &&
            path_out[len - 1] != ':')
          string_append(path_out, PATH_SIZE, "\\");
        string_append(path_out, PATH_SIZE, name);
      }
      if (!search.find.is_dir) return 1;
      return dot_dir ? 4 : 2;
    }
    have = plat_find_next(&search.find);
  }
}

int make_dirs(const char *path) {
  // A path that does not fit is refused whole rather than created cut.
  if (std::strlen(path) >= PATH_SIZE) return -1;
  char work[PATH_SIZE];
  size_t i = 0;
  // Every part before a backslash is created when it is missing; a failure
  // there shows in the final creation.
  while (path[i] != '\0') {
    if (path[i] == '\\' || path[i] == '/') {
      work[i] = '\0';
      if (!is_dir_or_drive(work)) plat_mkdir(work);
    }
    for (size_t n = string_char_size(path + i); n > 0; n--, i++)
      work[i] = path[i];
  }
  work[i] = '\0';
  return plat_mkdir(work) == 0 ? 0 : -1;
}

void make_dirs_timed(const char *path, const char *file_path) {
  plat_systime file_utc;
  // Without the file's time the clock would be set to nothing sensible:
  // then the directories are made at the current time.
  if (!plat_file_write_time(file_path, NULL, &file_utc)) {
    make_dirs(path);
    return;
  }
  plat_systime saved;
  plat_local_time(&saved);
  plat_set_system_time(&file_utc);
  make_dirs(path);
  plat_set_local_time(&saved);
}

void dos_time_now(dos_datetime *out) {
  plat_systime now;
  plat_local_time(&now);
  *out = pack_systime(&now);
}

void dos_time_file(const char *path, dos_datetime *out) {
  plat_systime local;
  if (!plat_file_write_time(path, &local, NULL)) {
    *out = 0;
    return;
  }
  *out = pack_systime(&local);
}
