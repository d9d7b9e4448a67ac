// The history lines of one copied entry: whether it gets any, the link to the
// local copy, the label, and the copy's date in front.
#include <cstdio>
#include <cstring>

#include "lib/zeb_dsk.h"
#include "lib/zeb_str.h"
#include "src/entry/entry.h"
#include "src/history/history.h"
#include "src/settings/settings.h"

namespace {

// An output path holds at most 260 bytes; its link path one byte more
// ("/d|" for "d:"), and the NUL.
enum { LINK_PATH_SIZE = TEXT_SIZE + 2, DATE_PREFIX_SIZE = 20 };
// Escaped texts: every byte may grow to "&lt;" (4 bytes) or "%22" (3).
enum { LABEL_SIZE = 4 * TEXT_SIZE + 1, HREF_SIZE = 3 * LINK_PATH_SIZE + 1 };

const char local_link[] = "    <DT>%s<A HREF=\"file://%s\">%s</A>\n";
const char web_link[] = "    <DT>%s<A HREF=\"%s\">%s</A>\n";
const char plain_link[] = "    <DT><A HREF=\"%s\">%s</A>\n";

// Whether HISTORYSET gives this entry its lines (9 is handled before).
bool entry_selected(const char *url_filename) {
  switch (settings.flg_hst_mode) {
    case 1:
      return settings.flg_filename == 0;
    case 2: {
      char name[TEXT_SIZE];
      string_copy(name, sizeof name, url_filename);
      string_upper(name);
      return std::strncmp(name, "INDEX.HTM", 9) == 0;
    }
    case 3:
      return settings.flg_graphic == 0 ||
             (settings.flg_url_ftp == 1 && settings.flg_filename == 0);
    default:
      return false;
  }
}

// The output path as the path part of a file URL: "d:" becomes "/d|", every
// backslash a slash. The second byte of a double-byte character stays as it
// is even when it is 5C, so that the link names the file the copy went to.
// Cut to the buffer, never inside a character.
void make_link_path(const char *out_filename, char *link) {
  size_t o = 0;
  const char *p = out_filename;
  if (p[0] != '\0' && p[1] == ':') {
    link[o++] = '/';
    link[o++] = p[0];
    link[o++] = '|';
    p += 2;
  }
  for (size_t n; *p != '\0'; p += n) {
    n = string_char_size(p);
    if (o + n >= LINK_PATH_SIZE) break;
    if (n == 2) {
      link[o++] = p[0];
      link[o++] = p[1];
    } else {
      link[o++] = *p == '\\' ? '/' : *p;
    }
  }
  link[o] = '\0';
}

// The copy's date, and time when asked, or empty. A copy that failed before
// its output existed has no time to show, and gets no prefix.
void make_date_prefix(const char *out_filename, char *prefix) {
  prefix[0] = '\0';
  if ((settings.flg_hst_date & (4 | 8)) == 0) return;
  dos_datetime t = 0;
  dos_time_file(out_filename, &t);
  if (t == 0) return;
  std::snprintf(prefix, DATE_PREFIX_SIZE, "%02u/%02u/%02u ",
                (dos_year_field(t) + 80) % 100, dos_month(t), dos_day(t));
  if ((settings.flg_hst_date & 8) != 0) {
    size_t used = std::strlen(prefix);
    std::snprintf(prefix + used, DATE_PREFIX_SIZE - used, "%02u:%02u:%02u  ",
                  dos_hour(t), dos_minute(t), dos_second(t));
  }
}

// Appends text to out at *o, when it fits whole before the NUL.
bool put_text(char *out, unsigned size, unsigned *o, const char *text) {
  size_t n = std::strlen(text);
  if (*o + n + 1 > size) return false;
  std::memcpy(out + *o, text, n);
  *o += static_cast<unsigned>(n);
  return true;
}

}  // namespace

// '<', '>' and '"' are below 0x40 and so never the trail byte of a Shift-JIS
// character: a byte-wise replacement cannot split one.
void hst_escape_label(const char *text, char *out, unsigned size) {
  if (size == 0) return;
  unsigned o = 0;
  for (const char *p = text; *p != '\0'; p++) {
    char one[2] = {*p, '\0'};
    const char *piece = *p == '<' ? "&lt;" : *p == '>' ? "&gt;" : one;
    if (!put_text(out, size, &o, piece)) break;
  }
  out[o] = '\0';
}

void hst_escape_href(const char *text, char *out, unsigned size) {
  if (size == 0) return;
  unsigned o = 0;
  for (const char *p = text; *p != '\0'; p++) {
    char one[2] = {*p, '\0'};
    const char *piece = *p == '"' ? "%22" : one;
    if (!put_text(out, size, &o, piece)) break;
  }
  out[o] = '\0';
}

void hst_entry(const char *url, const char *url_filename,
               const char *out_filename) {
  // Titles and URLs come from the web: escaped, they cannot add markup to
  // the page.
  static char url_label[LABEL_SIZE];
  static char url_href[HREF_SIZE];
  static char title_label[LABEL_SIZE];
  static char link_href[HREF_SIZE];

  hst_escape_label(url, url_label, sizeof url_label);
  hst_escape_href(url, url_href, sizeof url_href);

  if (settings.flg_hst_mode == 9) {
    hst_print(plain_link, url_href, url_label);
    return;
  }
  if (!entry_selected(url_filename)) return;

  char link_path[LINK_PATH_SIZE];
  make_link_path(out_filename, link_path);
  hst_escape_href(link_path, link_href, sizeof link_href);

  if (hst_title[0] == '\0') {
    // A URL used as label is never converted.
    string_copy(hst_title, TEXT_SIZE, url);
  } else if (settings.flg_shiftjis == 0) {
    // The title holds the document's raw bytes. At most TEXT_SIZE-1 bytes
    // go in, so the converted title (one byte longer at most) and its NUL
    // fit hst_title.
    string_copy(copybuf, TEXT_SIZE, hst_title);
    unsigned length = static_cast<unsigned>(std::strlen(copybuf));
    jis_to_sjis(copybuf, hst_title, &length);
  }
  hst_escape_label(hst_title, title_label, sizeof title_label);

  char prefix[DATE_PREFIX_SIZE];
  make_date_prefix(out_filename, prefix);

  switch (settings.flg_hst_type) {
    case 1:
      hst_print(local_link, prefix, link_href, title_label);
      break;
    case 2:
      hst_print(local_link, prefix, link_href, url_label);
      break;
    case 3:
      hst_print(local_link, prefix, link_href, title_label);
      hst_print(local_link, prefix, link_href, url_label);
      break;
    case 4:
      hst_print(local_link, prefix, link_href, title_label);
      hst_print(web_link, prefix, url_href, url_label);
      break;
    default:
      break;
  }
}
