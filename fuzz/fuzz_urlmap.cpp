// Fuzz target: the URL-to-output-path chain, as the entry pipeline runs it,
// under options taken from the input.
//
// Input: six option bytes, then the URL (cut to 259 bytes). After a NUL, the
// URL may be followed by further NUL-separated texts that replace, in this
// order, the first domain table entry's ending and folder, domain_sub,
// cgi_name, domain_ext, domain_ip and domain_root.
//
//   byte 0  flg_cgi_file: low nibble through a table of in- and out-of-range
//           values
//   byte 1  flg_dir_max: low nibble through a table (negative, 0..9, 260, ...)
//   byte 2  flg_dom_dir: low nibble; bits 4-5 the domain table size (0..3);
//           bits 6-7 the output root
//   byte 3  flg_skip_www: low nibble; bit 4 flg_dom_flg; bit 5 flg_cap_dom;
//           bit 6 flg_cap_dir; bit 7 flg_cap_file
//   byte 4  bit 0 flg_sub_dir; bits 1-2 domain_ext; bits 3-4 domain_ip;
//           bits 5-6 domain_root; bit 7 cgi_name
//   byte 5  bits 0-1 domain_sub
//
// Checked: every part stays terminated within its field (each lives in a
// heap block of exactly its size); an accepted output path begins with the
// output root, is at most 260 bytes long, and holds below the root no
// component that a host could resolve as "." or ".." (only dots and blanks,
// with a dot), components split at '\' and '/' with Shift-JIS characters
// kept whole.
#include <climits>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "lib/zeb_str.h"
#include "src/settings/settings.h"
#include "src/urlmap/urlmap.h"

namespace {

const int cgi_values[16] = {0,  1, 2, 3, 0,   1,    2,       3,
                            -1, 4, 5, 7, 100, -100, INT_MAX, INT_MIN};
const int dir_max_values[16] = {260, 0, 1, 2,  3,    4,  5,       6,
                                7,   8, 9, -1, -260, 12, INT_MAX, INT_MIN};
const char *const out_roots[4] = {
    "C:\\OUT\\", ".\\", "\\\\",
    "D:\\"
    "a-root-folder-long-enough-to-leave-little-room-for-the-parts-"
    "a-root-folder-long-enough-to-leave-little-room-for-the-parts-"
    "a-root-folder-long-enough-to-leave-little-room-for-the-parts\\"};
const char *const domain_exts[4] = {".DOM", "", ".", "..\\.."};
const char *const domain_ips[4] = {"00", "", "..", ". ."};
const char *const domain_roots[4] = {"INDEX.HTM", "index.html", "..", ""};
const char *const domain_subs[4] = {"", "SUB", "..", "a/../.."};

struct table_row {
  const char *dom;
  const char *dir;
};
const table_row table_rows[3] = {
    {"example.com", "EX.COM"}, {"co.jp", ".."}, {".", "..\\.."}};

// A 260-byte (or other sized) text field on the heap, so that a write past
// it is caught.
struct field {
  explicit field(size_t n) : size(n), bytes(new char[n]) {
    std::memset(bytes, 'X', n);
    bytes[0] = '\0';
  }
  ~field() { delete[] bytes; }
  field(const field &) = delete;
  field &operator=(const field &) = delete;
  size_t size;
  char *bytes;
};

void set_text(char *dst, const std::string &src) {
  string_copy(dst, TEXT_SIZE, src.c_str());
}

int sjis_lead(unsigned char c) {
  return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
}
int sjis_trail(unsigned char c) {
  return (c >= 0x40 && c <= 0x7E) || (c >= 0x80 && c <= 0xFC);
}

// 1 when the component is only dots and blanks, with a dot.
bool dot_component(const std::string &c) {
  bool dot = false;
  for (char ch : c) {
    if (ch == '.')
      dot = true;
    else if (ch != ' ')
      return false;
  }
  return dot;
}

// The components of path, split at '\' and '/' outside Shift-JIS characters.
std::vector<std::string> components(const char *path) {
  std::vector<std::string> parts(1);
  for (size_t i = 0; path[i] != '\0';) {
    unsigned char c = static_cast<unsigned char>(path[i]);
    if (sjis_lead(c) && path[i + 1] != '\0' &&
        sjis_trail(static_cast<unsigned char>(path[i + 1]))) {
      parts.back().append(path + i, 2);
      i += 2;
    } else if (c == '\\' || c == '/') {
      parts.emplace_back();
      i++;
    } else {
      parts.back().push_back(static_cast<char>(c));
      i++;
    }
  }
  return parts;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  fuzz::silence_stdout();
  fuzz::no_keyboard();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 6) return 0;
  settings_reset();
  const uint8_t b0 = data[0], b1 = data[1], b2 = data[2], b3 = data[3],
                b4 = data[4], b5 = data[5];
  settings.flg_cgi_file = cgi_values[b0 & 15];
  settings.flg_dir_max = dir_max_values[b1 & 15];
  settings.flg_dom_dir = b2 & 15;
  unsigned table_size = (b2 >> 4) & 3;
  set_text(settings.out_directory, out_roots[(b2 >> 6) & 3]);
  settings.flg_skip_www = b3 & 15;
  settings.flg_dom_flg = (b3 >> 4) & 1;
  settings.flg_cap_dom = (b3 >> 5) & 1;
  settings.flg_cap_dir = (b3 >> 6) & 1;
  settings.flg_cap_file = (b3 >> 7) & 1;
  settings.flg_sub_dir = b4 & 1;
  set_text(settings.domain_ext, domain_exts[(b4 >> 1) & 3]);
  set_text(settings.domain_ip, domain_ips[(b4 >> 3) & 3]);
  set_text(settings.domain_root, domain_roots[(b4 >> 5) & 3]);
  set_text(settings.cgi_name, (b4 & 0x80) ? "CGI.HTM" : "");
  set_text(settings.domain_sub, domain_subs[b5 & 3]);
  domain_table.dom_count = table_size;
  for (unsigned i = 0; i < table_size; i++) {
    set_text(domain_table.entry[i].dom, table_rows[i].dom);
    set_text(domain_table.entry[i].dir, table_rows[i].dir);
  }

  // The URL and the optional texts after it.
  std::vector<std::string> texts(1);
  for (size_t i = 6; i < size; i++) {
    if (data[i] == '\0')
      texts.emplace_back();
    else
      texts.back().push_back(static_cast<char>(data[i]));
  }
  std::string url_text = texts[0].substr(0, TEXT_SIZE - 1);
  if (texts.size() > 2) {
    if (domain_table.dom_count == 0) domain_table.dom_count = 1;
    set_text(domain_table.entry[0].dom, texts[1]);
    set_text(domain_table.entry[0].dir, texts[2]);
  }
  char *const overrides[] = {settings.domain_sub, settings.cgi_name,
                             settings.domain_ext, settings.domain_ip,
                             settings.domain_root};
  for (size_t i = 3; i < texts.size() && i - 3 < 5; i++)
    set_text(overrides[i - 3], texts[i]);
  if (texts.size() > 3) settings.flg_sub_dir = 1;

  // The URL in a block of its own length, so that no function reads past it.
  field url(url_text.size() + 1);
  std::memcpy(url.bytes, url_text.c_str(), url_text.size() + 1);
  field url_domain(TEXT_SIZE), url_directory(TEXT_SIZE),
      url_filename(TEXT_SIZE);
  field dir_domain(TEXT_SIZE), dir_directory(TEXT_SIZE),
      dir_filename(TEXT_SIZE);
  field out_filename(OUT_PATH_SIZE);

  int kind = url_kind(url.bytes);
  FUZZ_CHECK(kind >= URL_HTTP && kind <= URL_OTHER);
  url_split_domain(kind, url.bytes, url_domain.bytes);
  url_split_directory(kind, url.bytes, url_directory.bytes);
  url_split_filename(kind, url.bytes, url_filename.bytes);
  FUZZ_CHECK(fuzz::terminated(url_domain.bytes, TEXT_SIZE));
  FUZZ_CHECK(fuzz::terminated(url_directory.bytes, TEXT_SIZE));
  FUZZ_CHECK(fuzz::terminated(url_filename.bytes, TEXT_SIZE));
  // The parts are pieces of the URL, in order.
  FUZZ_CHECK(std::strstr(url.bytes, url_domain.bytes) != nullptr);
  FUZZ_CHECK(std::strchr(url_filename.bytes, '/') == nullptr);

  todir_domain(url_domain.bytes, dir_domain.bytes);
  todir_directory(url_directory.bytes, dir_directory.bytes);
  int named = todir_filename(url_filename.bytes, dir_filename.bytes);
  FUZZ_CHECK(named == 0 || named == 1);
  FUZZ_CHECK(named == (url_filename.bytes[0] != '\0'));
  FUZZ_CHECK(fuzz::terminated(dir_domain.bytes, TEXT_SIZE));
  FUZZ_CHECK(fuzz::terminated(dir_directory.bytes, TEXT_SIZE));
  FUZZ_CHECK(fuzz::terminated(dir_filename.bytes, TEXT_SIZE));
  // The domain folder never climbs by itself either.
  for (const std::string &c : components(dir_domain.bytes))
    FUZZ_CHECK(!dot_component(c));

  int r = cgi_proc(dir_directory.bytes);
  FUZZ_CHECK(r >= 0 && r <= 3);
  FUZZ_CHECK(fuzz::terminated(dir_directory.bytes, TEXT_SIZE));
  if (r == 0) return 0;
  r = cgi_proc(dir_filename.bytes);
  FUZZ_CHECK(r >= 0 && r <= 3);
  FUZZ_CHECK(fuzz::terminated(dir_filename.bytes, TEXT_SIZE));
  if (r == 0) return 0;
  if (r == 3 && settings.cgi_name[0] != '\0')
    string_copy(dir_filename.bytes, TEXT_SIZE, settings.cgi_name);
  if (kind != URL_FTP && kind != URL_FILE) {
    int g = graphic_test(dir_filename.bytes);
    FUZZ_CHECK(g == 0 || g == 1);
  }

  if (todir_path(dir_domain.bytes, dir_directory.bytes, dir_filename.bytes,
                 out_filename.bytes) != 0)
    return 0;

  // The accepted path stays below the output root.
  const char *out = out_filename.bytes;
  FUZZ_CHECK(fuzz::terminated(out, OUT_PATH_SIZE));
  FUZZ_CHECK(std::strlen(out) <= 260);
  size_t root = std::strlen(settings.out_directory);
  FUZZ_CHECK(std::strncmp(out, settings.out_directory, root) == 0);
  // The root ends in a backslash, so the text after it starts a component.
  for (const std::string &c : components(out + root))
    FUZZ_CHECK(!dot_component(c));
  return 0;
}
