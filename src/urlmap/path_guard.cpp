// Keeps an output path below its root: a path component that the host could
// resolve as "." or ".." is rewritten to a harmless name, the way such a
// component is written escaped ("." as "%2E", ".." as "%2E%2E").
//
// Components are separated by '\' and '/', both separators on the host. A
// Shift-JIS lead byte (81-9F, E0-FC) followed by a trail byte (40-7E, 80-FC)
// is one character, so a trail byte 5C is not a separator; the host splits
// paths by the same rule. Were a host to split byte by byte instead, such a
// component would fall apart into pieces of which all but the last hold a
// lead byte and so climb one level each, while the last climbs back at most
// one: it still never leaves its parent.
//
// The rule, taken wider than any host needs: a component made only of dots
// and blanks, with at least one dot, is rewritten, each dot becoming "%2E"
// and each blank kept. Linux resolves only "." and ".."; Windows also drops
// trailing dots and blanks, so "...", ". ." or ".. " can name "." or "..".
// Empty components (doubled separators) are harmless and stay.
#include <cstring>

#include "lib/zeb_str.h"
#include "src/urlmap/urlmap.h"

namespace {

int is_separator(char c) { return c == '\\' || c == '/'; }

// 1 when the n bytes at p are only dots and blanks, with at least one dot.
int is_dot_name(const char *p, size_t n) {
  int dots = 0;
  for (size_t i = 0; i < n; i++) {
    if (p[i] == '.')
      dots = 1;
    else if (p[i] != ' ')
      return 0;
  }
  return dots;
}

}  // namespace

int path_guard(char *text, size_t size, size_t start) {
  if (size == 0) return 0;
  if (size > OUT_PATH_SIZE) size = OUT_PATH_SIZE;
  if (start >= size - 1) {
    text[size - 1] = '\0';
    return 1;
  }
  char src[OUT_PATH_SIZE];
  size_t len = strnlen(text + start, size - 1 - start);
  std::memcpy(src, text + start, len);
  src[len] = '\0';

  char *out = text + start;
  size_t room = size - 1 - start;
  size_t w = 0;
  size_t r = 0;
  size_t component_out = 0;  // where the component being written began
  int fitted = 1;
  for (;;) {
    size_t begin = r;
    while (src[r] != '\0' && !is_separator(src[r]))
      r += string_char_size(src + r);
    int dot_name = is_dot_name(src + begin, r - begin);
    component_out = w;
    // Written a whole character (or a whole "%2E") at a time, so that a cut
    // never splits one.
    for (size_t k = begin; k < r;) {
      size_t step = string_char_size(src + k);
      const char *piece = src + k;
      size_t n = step;
      if (dot_name && src[k] == '.') {
        piece = "%2E";
        n = 3;
      }
      if (w + n > room) {
        fitted = 0;
        break;
      }
      std::memcpy(out + w, piece, n);
      w += n;
      k += step;
    }
    if (!fitted || src[r] == '\0') break;
    if (w + 1 > room) {
      fitted = 0;
      break;
    }
    out[w++] = src[r++];
    component_out = w;
  }
  // What a cut left of the last component may itself be a dot name (".." of
  // "..a"); it goes.
  if (!fitted && is_dot_name(out + component_out, w - component_out))
    w = component_out;
  out[w] = '\0';
  return fitted;
}
