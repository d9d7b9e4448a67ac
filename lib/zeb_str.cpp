// Strings: double-byte-aware upper-casing and the bounded copies.
#include "lib/zeb_str.h"

#include <climits>
#include <cstring>

const char zeb_str_version[] = "ZEB_STR 1.49";

char *string_upper(char *text) {
  // The length is taken once: a lead byte in the last place must not pull
  // the terminating NUL into the walk.
  size_t len = std::strlen(text);
  size_t i = 0;
  while (i < len) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (c >= 0x80) {
      i += 2;
      continue;
    }
    if (c >= 'a' && c <= 'z') text[i] = static_cast<char>(c - 'a' + 'A');
    i++;
  }
  return text;
}

size_t string_copy(char *dst, size_t size, const char *src) {
  if (size == 0) return 0;
  size_t n = 0;
  while (n + 1 < size && src[n] != '\0') {
    dst[n] = src[n];
    n++;
  }
  dst[n] = '\0';
  return n;
}

int string_append(char *dst, size_t size, const char *src) {
  if (size == 0) return src[0] == '\0';
  size_t len = 0;
  while (len < size && dst[len] != '\0') len++;
  if (len == size) {
    // Not terminated within its size: end it where it must end.
    dst[size - 1] = '\0';
    return src[0] == '\0';
  }
  size_t n = string_copy(dst + len, size - len, src);
  return src[n] == '\0';
}

int string_to_int(const char *text) {
  const char *p = text;
  while (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\v' || *p == '\f' ||
         *p == '\r')
    p++;
  int negative = 0;
  if (*p == '+' || *p == '-') {
    negative = *p == '-';
    p++;
  }
  // Accumulated as a magnitude that stops growing just past the int range.
  const unsigned long long limit = static_cast<unsigned long long>(INT_MAX) + 1;
  unsigned long long value = 0;
  while (*p >= '0' && *p <= '9') {
    if (value <= limit) value = value * 10 + static_cast<unsigned>(*p - '0');
    p++;
  }
  if (negative) {
    if (value >= limit) return INT_MIN;
    return -static_cast<int>(value);
  }
  if (value > static_cast<unsigned long long>(INT_MAX)) return INT_MAX;
  return static_cast<int>(value);
}

size_t string_char_size(const char *text) {
  unsigned char lead = static_cast<unsigned char>(text[0]);
  unsigned char trail = static_cast<unsigned char>(text[1]);
  if (((lead >= 0x81 && lead <= 0x9F) || (lead >= 0xE0 && lead <= 0xFC)) &&
      ((trail >= 0x40 && trail <= 0x7E) || (trail >= 0x80 && trail <= 0xFC)))
    return 2;
  return 1;
}
