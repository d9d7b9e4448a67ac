// Strings: upper-casing that leaves double-byte characters alone, and the
// bounded copies every module uses for its fixed fields.
#ifndef VELDOR_ZEB_STR_H
#define VELDOR_ZEB_STR_H

#include <cstddef>

extern const char zeb_str_version[];  // "ZEB_STR 1.49"

// Upper-cases every byte below 0x80 in place; a byte of 0x80 or above is a
// lead byte and it and the byte after it stay as they are. Returns text.
char *string_upper(char *text);

// The bytes of the character at text in a path: 2 for a Shift-JIS lead byte
// (81-9F, E0-FC) followed by a trail byte (40-7E, 80-FC), else 1. Paths are
// walked by it, as the platform maps them, so that a trail byte 5C is never
// taken for a backslash while a slash after a lead byte still separates.
size_t string_char_size(const char *text);

// Copies src into dst of size bytes (size >= 1), cutting it to size-1 bytes;
// dst is always terminated. Returns the length of the copy.
size_t string_copy(char *dst, size_t size, const char *src);

// Appends src to the text in dst of size bytes, cutting it; dst stays
// terminated. Returns 1 when all of src fitted, 0 when it was cut.
int string_append(char *dst, size_t size, const char *src);

// Reads a decimal integer as the runtime's atoi does: leading blanks, an
// optional sign, digits up to the first non-digit; 0 when there is none.
// Saturates instead of overflowing.
int string_to_int(const char *text);

#endif
