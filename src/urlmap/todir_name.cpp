// The output directory and file name of a URL, the treatment of its percent
// escapes and CGI characters, the text/graphic test and the joined output
// path.
#include <cstring>

#include "lib/zeb_str.h"
#include "src/urlmap/urlmap.h"

namespace {

int is_cgi_char(char c) {
  return c == '&' || c == '*' || c == ':' || c == ';' || c == '=' || c == '?' ||
         c == '|';
}

// The value of a hexadecimal digit in either case, or -1.
int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

void todir_directory(const char *url_directory, char *dir_directory) {
  string_copy(dir_directory, TEXT_SIZE, url_directory);
  if (settings.flg_sub_dir) {
    if (dir_directory[0] != '\0')
      string_copy(dir_directory, TEXT_SIZE, settings.domain_sub);
    return;
  }
  for (char *p = dir_directory; *p != '\0'; p++)
    if (*p == '/') *p = '\\';
  dir_max_cut(dir_directory);
  if (settings.flg_cap_dir) string_upper(dir_directory);
}

void file_max_cut(char *name) {
  if (static_cast<unsigned>(settings.flg_dir_max) > 8) return;
  size_t max = static_cast<size_t>(settings.flg_dir_max);
  char base[TEXT_SIZE];
  string_copy(base, TEXT_SIZE, name);
  const char *ext = nullptr;
  char *dot = std::strrchr(base, '.');
  if (dot != nullptr) {
    *dot = '\0';
    ext = dot + 1;
    for (char *p = base; *p != '\0'; p++)
      if (*p == '.') *p = '_';
  }
  if (std::strlen(base) > max) base[max] = '\0';
  // At most 8 + 1 + 3 bytes: the name's own field always has room.
  string_copy(name, TEXT_SIZE, base);
  if (ext == nullptr) return;
  char short_ext[5];
  if (std::strcmp(ext, "jpeg") == 0)
    string_copy(short_ext, sizeof short_ext, ".jpg");
  else if (std::strcmp(ext, "JPEG") == 0)
    string_copy(short_ext, sizeof short_ext, ".JPG");
  else {
    short_ext[0] = '.';
    string_copy(short_ext + 1, 4, ext);
  }
  string_append(name, TEXT_SIZE, short_ext);
}

int todir_filename(const char *url_filename, char *dir_filename) {
  string_copy(dir_filename, TEXT_SIZE, url_filename);
  if (dir_filename[0] == '\0') {
    string_copy(dir_filename, TEXT_SIZE, settings.domain_root);
    return 0;
  }
  file_max_cut(dir_filename);
  if (settings.flg_cap_file) string_upper(dir_filename);
  if (std::strchr(dir_filename, '.') == nullptr)
    string_append(dir_filename, TEXT_SIZE, ".HTM");
  return 1;
}

// Written over the text from left to right: the output never runs ahead of
// the input, since a decoded escape takes three bytes and gives one.
//
// CGI_FILE values other than 0 to 3 are taken as 0: the entry is dropped at
// the first CGI character, the one choice that never lets such a name
// through. On a drop the text is left ended at the character, holding what
// was decoded before it.
int cgi_proc(char *text) {
  int mode = settings.flg_cgi_file;
  size_t r = 0;
  size_t w = 0;
  while (text[r] != '\0') {
    char c = text[r];
    if (c == '%') {
      if (text[r + 1] == '\0' || text[r + 2] == '\0') break;
      int high = hex_value(text[r + 1]);
      int low = hex_value(text[r + 2]);
      if (high >= 0 && low >= 0) {
        char decoded = static_cast<char>(high * 16 + low);
        if (decoded == '\0') break;
        text[w++] = decoded;
        r += 3;
      } else {
        text[w++] = c;
        r++;
      }
      continue;
    }
    if (is_cgi_char(c)) {
      if (mode == 2) {
        text[w++] = '_';
        r++;
        continue;
      }
      text[w] = '\0';
      if (mode == 1) return 1;
      if (mode == 3) return 3;
      return 0;
    }
    text[w++] = c;
    r++;
  }
  text[w] = '\0';
  return 2;
}

int graphic_test(const char *name) {
  const char *dot = std::strrchr(name, '.');
  if (dot == nullptr) return 0;
  char ext[TEXT_SIZE];
  string_copy(ext, TEXT_SIZE, dot + 1);
  string_upper(ext);
  if (std::strncmp(ext, "HTM", 3) == 0 || std::strncmp(ext, "TXT", 3) == 0)
    return 0;
  return 1;
}

int todir_path(const char *dir_domain, const char *dir_directory,
               const char *dir_filename, char *out_filename) {
  // Each part is taken through a field-sized copy, so that a part is never
  // read past its 260 bytes.
  // The folders take a backslash after them, the file name none.
  const char *const parts[3] = {dir_domain, dir_directory, dir_filename};
  char part[TEXT_SIZE];
  string_copy(out_filename, OUT_PATH_SIZE, settings.out_directory);
  size_t root = std::strlen(out_filename);
  for (int i = 0; i < 3; i++) {
    string_copy(part, TEXT_SIZE, parts[i]);
    if (part[0] == '\0') continue;
    string_append(out_filename, OUT_PATH_SIZE, part);
    if (i < 2) string_append(out_filename, OUT_PATH_SIZE, "\\");
  }
  // Decoded escapes may have made "." or ".." levels below the root; they are
  // rewritten before the length is judged, so the path tested is the path
  // used. A rewrite that overflows the buffer is far past 260 bytes anyway.
  if (!path_guard(out_filename, OUT_PATH_SIZE, root)) return 1;
  if (std::strlen(out_filename) > 260) return 1;
  return 0;
}
