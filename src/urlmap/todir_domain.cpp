// The domain folder of a host: port and user part cut, known endings replaced
// through the domain table, the labels reversed and turned into folder levels,
// numeric hosts sent to one folder, levels shortened, extension appended.
#include <cstring>

#include "lib/zeb_str.h"
#include "src/urlmap/urlmap.h"

namespace {

// Drops everything up to and including the first '.' when the text begins
// with one of the two spellings and holds a '.'.
void drop_first_label(char *text, const char *lower, const char *upper) {
  if (std::strncmp(text, lower, 3) != 0 && std::strncmp(text, upper, 3) != 0)
    return;
  char *dot = std::strchr(text, '.');
  if (dot != nullptr) std::memmove(text, dot + 1, std::strlen(dot + 1) + 1);
}

}  // namespace

int domain_table_apply(char *text) {
  size_t len = std::strlen(text);
  uint32_t count = domain_table.dom_count;
  if (count > DOMAIN_TABLE_SIZE) count = DOMAIN_TABLE_SIZE;
  for (uint32_t i = 0; i < count; i++) {
    const domain_entry &e = domain_table.entry[i];
    size_t dom_len = strnlen(e.dom, TEXT_SIZE - 1);
    if (dom_len > len) continue;
    if (std::memcmp(text + len - dom_len, e.dom, dom_len) != 0) continue;
    size_t head = len - dom_len;
    text[head] = '\0';
    // A replacement longer than the ending it replaces may not fit: the text
    // is cut to 259 bytes, and only what of the replacement got in counts as
    // protected.
    char dir[TEXT_SIZE];
    string_copy(dir, TEXT_SIZE, e.dir);
    string_append(text, TEXT_SIZE, dir);
    if (settings.flg_dom_flg & 1)
      return static_cast<int>(std::strlen(text) - head);
    return 0;
  }
  return 0;
}

void domain_reverse(char *text, int keep_length) {
  size_t len = strnlen(text, TEXT_SIZE - 1);
  text[len] = '\0';
  size_t tail = 0;
  if (keep_length > 0) {
    tail = static_cast<size_t>(keep_length);
    if (tail > len) tail = len;
  }
  size_t rest = len - tail;
  char work[TEXT_SIZE];
  size_t w = 0;
  // The pieces between the dots are taken from the last to the first; an
  // empty piece stays a piece, so the count of dots is kept.
  size_t end = rest;
  for (;;) {
    size_t start = end;
    while (start > 0 && text[start - 1] != '.') start--;
    std::memcpy(work + w, text + start, end - start);
    w += end - start;
    if (start == 0) break;
    work[w++] = '.';
    end = start - 1;
  }
  std::memcpy(work + w, text + rest, tail);
  w += tail;
  work[w] = '\0';
  std::memcpy(text, work, w + 1);
}

void dir_max_cut(char *text) {
  // Only 0 to 8 shorten; the unsigned compare sends negative values past 8.
  if (static_cast<unsigned>(settings.flg_dir_max) > 8) return;
  size_t max = static_cast<size_t>(settings.flg_dir_max);
  char ext[TEXT_SIZE];
  ext[0] = '\0';
  int has_ext = 0;
  char *dot = std::strrchr(text, '.');
  char *backslash = std::strrchr(text, '\\');
  if (dot != nullptr && (backslash == nullptr || dot > backslash)) {
    string_copy(ext, TEXT_SIZE, dot);
    *dot = '\0';
    has_ext = 1;
  }
  size_t w = 0;
  size_t level = 0;
  for (size_t r = 0; text[r] != '\0'; r++) {
    if (text[r] == '\\') {
      text[w++] = '\\';
      level = 0;
    } else if (level < max) {
      text[w++] = text[r];
      level++;
    }
  }
  text[w] = '\0';
  // The extension comes back only when no earlier level left a '.'.
  if (has_ext && std::strchr(text, '.') == nullptr) {
    ext[4] = '\0';
    string_append(text, TEXT_SIZE, ext);
  }
}

void todir_domain(const char *url_domain, char *dir_domain) {
  char *text = dir_domain;
  string_copy(text, TEXT_SIZE, url_domain);

  if (settings.flg_skip_www & 1) {
    char *colon = std::strrchr(text, ':');
    if (colon != nullptr) *colon = '\0';
  }

  char *at = std::strrchr(text, '@');
  if (at != nullptr) {
    if (settings.flg_skip_www & 8)
      std::memmove(text, at + 1, std::strlen(at + 1) + 1);
    else
      *at = '.';
  }

  int keep_length = domain_table_apply(text);

  if (settings.flg_skip_www & 2) drop_first_label(text, "www", "WWW");
  if (settings.flg_skip_www & 4) drop_first_label(text, "ftp", "FTP");

  if (settings.flg_dom_dir & 1) domain_reverse(text, keep_length);

  // Dot scan: the protected tail is left alone and makes the host
  // non-numeric.
  int dom_dir = settings.flg_dom_dir;
  size_t keep = keep_length > 0 ? static_cast<size_t>(keep_length) : 0;
  int numeric = 1;
  size_t len = std::strlen(text);
  size_t i = 0;
  for (;;) {
    if (len - i <= keep) {
      if (keep != 0) numeric = 0;
      break;
    }
    char c = text[i];
    if (c == '.') {
      if ((dom_dir & (2 | 4 | 8)) == 0) {
        text[i++] = '\\';
      } else if (dom_dir & 4) {
        std::memmove(text + i, text + i + 1, len - i);
        len--;
      } else if (dom_dir & 8) {
        text[i++] = '_';
      } else {
        i++;
      }
    } else {
      if (c < '0' || c > '9') numeric = 0;
      i++;
    }
  }

  if (numeric && settings.domain_ip[0] != '\0')
    string_copy(text, TEXT_SIZE, settings.domain_ip);

  if (text[0] == '\\') std::memmove(text, text + 1, std::strlen(text + 1) + 1);

  dir_max_cut(text);

  // domain_ext is appended whole when it fits; an overlong folder is cut to
  // the field's 259 bytes.
  if (settings.domain_ext[0] != '\0') {
    char ext[TEXT_SIZE];
    string_copy(ext, TEXT_SIZE, settings.domain_ext);
    string_append(text, TEXT_SIZE, ext);
  }

  if (settings.flg_cap_dom) string_upper(text);

  // A host of dots can leave "." or ".." levels; they must not climb out of
  // the output root.
  path_guard(text, TEXT_SIZE, 0);
}
