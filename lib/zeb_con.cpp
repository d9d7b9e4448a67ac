// Console lines and profile access.
#include "lib/zeb_con.h"

#include <cstring>

#include "lib/zeb_str.h"
#include "platform/platform.h"

const char zeb_con_version[] = "ZEB_CON 1.22";

enum {
  LINE_PRINT_SIZE = 512,  // a text of 510 bytes, a line end and the NUL
  LINE_SIZE = 80,         // one profile line: 79 bytes with its line end
  TEMP_PATH_SIZE = 288    // the profile's path with ".new" appended
};

// The temporary file of older versions, in the current directory; a leftover
// one is removed by every rewrite.
static const char old_temp_name[] = "ZEB_LIB.TMP";
static const char temp_suffix[] = ".new";

void line_print(const char *text) {
  size_t len = std::strlen(text);
  int has_end = len > 0 && text[len - 1] == '\n';
  if (len > LINE_PRINT_SIZE - 2) {
    // Too long for the buffer: printed as it is, under the same rule.
    plat_console_write(text, len);
    if (!has_end) plat_console_write("\n", 1);
    plat_console_write("\n", 1);
    return;
  }
  char buf[LINE_PRINT_SIZE];
  std::memcpy(buf, text, len);
  if (!has_end) buf[len++] = '\n';
  buf[len++] = '\n';
  plat_console_write(buf, len);
}

// Removes the line end of a line as read, in place.
static void strip_line_end(char *line) {
  size_t len = std::strlen(line);
  if (len > 0 && line[len - 1] == '\n') line[len - 1] = '\0';
}

// 1 when line (line end removed) is the header of section: it begins with
// "[" and the text up to the first "]" is the name.
static int is_section_header(const char *line, const char *section) {
  if (line[0] != '[') return 0;
  const char *close = std::strchr(line, ']');
  if (close == NULL) return 0;
  size_t n = static_cast<size_t>(close - (line + 1));
  return std::strlen(section) == n && std::memcmp(line + 1, section, n) == 0;
}

// The value of line when it is a key line of key, else NULL. Nothing is
// trimmed: "LOG = x" is not a line of the key "LOG".
static const char *key_line_value(const char *line, const char *key) {
  const char *eq = std::strchr(line, '=');
  if (eq == NULL) return NULL;
  size_t n = static_cast<size_t>(eq - line);
  if (std::strlen(key) != n || std::memcmp(line, key, n) != 0) return NULL;
  return eq + 1;
}

int profile_get(const char *path, const char *section, const char *key,
                char *value_out) {
  // Emptied before anything else, so a missing key leaves no old text.
  value_out[0] = '\0';
  FILE *f = plat_fopen(path, "r");
  if (f == NULL) return 0;
  int in_section = 0;
  char line[LINE_SIZE];
  // Longer lines arrive in pieces, each taken as a line of its own.
  while (std::fgets(line, LINE_SIZE, f) != NULL) {
    strip_line_end(line);
    if (line[0] == ';') continue;
    if (!in_section) {
      in_section = is_section_header(line, section);
      continue;
    }
    // Any line beginning with "[" ends the first section of the name.
    if (line[0] == '[') break;
    const char *value = key_line_value(line, key);
    if (value != NULL) {
      string_copy(value_out, LINE_SIZE, value);
      std::fclose(f);
      return 1;
    }
  }
  std::fclose(f);
  return 0;
}

// Where the rewrite of the profile stands after the scan.
enum section_state { SEC_LOOKING, SEC_IN_SECTION, SEC_FOUND, SEC_NEW };

// Writes the new content of the profile from src (NULL: there is no profile)
// into dst. 1 when every write succeeded and src was read without error.
static int profile_rewrite(FILE *src, FILE *dst, const char *section,
                           const char *key, const char *value) {
  section_state state = src == NULL ? SEC_NEW : SEC_LOOKING;
  int at_end = 0;
  int ok = 1;
  // Whether the last line written ended with its line end: a profile whose
  // last line has none gets one before anything is added after it.
  int ended = 1;
  char line[LINE_SIZE];
  char held[LINE_SIZE];  // the header that ended the section, as read
  held[0] = '\0';
  char look[LINE_SIZE];
  while (state == SEC_LOOKING || state == SEC_IN_SECTION) {
    if (std::fgets(line, LINE_SIZE, src) == NULL) {
      at_end = 1;
      break;
    }
    string_copy(look, LINE_SIZE, line);
    strip_line_end(look);
    if (look[0] != ';') {
      if (state == SEC_IN_SECTION) {
        if (look[0] == '[') {
          string_copy(held, LINE_SIZE, line);
          break;
        }
        if (key_line_value(look, key) != NULL) {
          state = SEC_FOUND;  // the old key line is dropped
          break;
        }
      } else if (is_section_header(look, section)) {
        state = SEC_IN_SECTION;
      }
    }
    if (std::fputs(line, dst) < 0) ok = 0;
    size_t len = std::strlen(line);
    ended = len > 0 && line[len - 1] == '\n';
  }
  if (src != NULL && std::ferror(src)) ok = 0;
  if (at_end && !ended && std::fputs("\n", dst) < 0) ok = 0;

  int n = 0;
  switch (state) {
    case SEC_FOUND:
      n = std::fprintf(dst, "%s=%s\n", key, value);
      break;
    case SEC_IN_SECTION:
      n = std::fprintf(dst, "%s=%s\n", key, value);
      if (n >= 0 && !at_end) n = std::fputs(held, dst);
      break;
    case SEC_LOOKING:
      n = std::fprintf(dst, "\n[%s]\n%s=%s\n", section, key, value);
      break;
    case SEC_NEW:
      n = std::fprintf(dst, "[%s]\n%s=%s\n", section, key, value);
      break;
  }
  if (n < 0) ok = 0;

  if (!at_end && (state == SEC_FOUND || state == SEC_IN_SECTION)) {
    // The rest goes over in the same pieces, so long lines arrive whole.
    while (ok && std::fgets(line, LINE_SIZE, src) != NULL)
      if (std::fputs(line, dst) < 0) ok = 0;
    if (std::ferror(src)) ok = 0;
  }
  return ok;
}

void profile_put(const char *path, const char *section, const char *key,
                 const char *value) {
  char found[LINE_SIZE];
  // The value already there: nothing is opened for writing, and the profile
  // keeps its bytes and its time.
  if (profile_get(path, section, key, found) && found[0] != '\0' &&
      std::strcmp(found, value) == 0)
    return;

  char temp_path[TEMP_PATH_SIZE];
  // The new content goes beside the profile and is put in its place whole,
  // so the profile is never seen empty or half written.
  if (string_copy(temp_path, sizeof temp_path, path) == std::strlen(path) &&
      string_append(temp_path, sizeof temp_path, temp_suffix)) {
    FILE *src = plat_fopen(path, "r");
    // A profile that exists but cannot be read is left alone: its content
    // could not be carried over.
    if (src != NULL || !plat_exists(path)) {
      FILE *dst = plat_fopen(temp_path, "w");
      if (dst != NULL) {
        int ok = profile_rewrite(src, dst, section, key, value);
        if (std::fflush(dst) != 0 || plat_fsync(dst) != 0) ok = 0;
        if (std::fclose(dst) != 0) ok = 0;
        if (src != NULL) std::fclose(src);
        src = NULL;
        if (!ok || plat_rename(temp_path, path) != 0) plat_remove(temp_path);
      }
      if (src != NULL) std::fclose(src);
    }
  }
  // A leftover of the old temporary file is removed; its absence is no
  // failure.
  plat_remove(old_temp_name);
}
