// The line converter: any mixture of JIS (ISO-2022-JP), EUC and Shift-JIS
// turned into Shift-JIS, deciding byte by byte with no look at the rest of
// the document.
#include <cstring>

#include "lib/zeb_jis.h"
#include "src/entry/entry.h"

namespace {

enum { ESC = 0x1B };
enum jis_mode { MODE_SINGLE, MODE_NEW_JIS, MODE_OLD_JIS };

// The converter's output: bytes go in while there is room for them and the
// terminating NUL; the rest is cut.
struct jis_output {
  char *buf;
  unsigned size;  // bytes of buf, the NUL included
  unsigned pos;
};

void put_byte(jis_output *out, unsigned value) {
  if (out->pos + 1 < out->size) {
    out->buf[out->pos] = static_cast<char>(value & 0xFF);
    out->pos++;
  }
}

void put_mapped(jis_output *out, unsigned code) {
  unsigned sjis = static_cast<unsigned>(jis_code_to_sjis(code));
  put_byte(out, sjis >> 8);
  put_byte(out, sjis);
}

// An escape sequence is only taken when it lies wholly within the length;
// with the NUL after the text this is what a byte-wise test would find too.
bool escape_at(const unsigned char *in, unsigned pos, unsigned length,
               unsigned second, unsigned third) {
  return pos + 3 <= length && in[pos] == ESC && in[pos + 1] == second &&
         in[pos + 2] == third;
}

}  // namespace

void jis_to_sjis_cut(const char *input, char *output, unsigned *length,
                     unsigned size) {
  if (size == 0) return;
  const unsigned char *in = reinterpret_cast<const unsigned char *>(input);
  const unsigned len = *length;
  jis_output out = {output, size, 0};
  jis_mode mode = MODE_SINGLE;
  unsigned pos = 0;

  while (pos < len) {
    // n may be the NUL after the text: a two-byte unit that begins in the
    // last byte takes it as its second byte.
    unsigned c = in[pos];
    unsigned n = in[pos + 1];
    if (mode != MODE_SINGLE) {
      if (escape_at(in, pos, len, '(', 'J') ||
          (mode == MODE_NEW_JIS && escape_at(in, pos, len, '(', 'B')) ||
          (mode == MODE_OLD_JIS && escape_at(in, pos, len, '(', 'H'))) {
        pos += 3;
        mode = MODE_SINGLE;
      } else {
        // Every pair is a character here, control bytes included.
        put_mapped(&out, c * 256 + n);
        pos += 2;
      }
      continue;
    }
    if (escape_at(in, pos, len, '$', 'B')) {
      pos += 3;
      mode = MODE_NEW_JIS;
    } else if (escape_at(in, pos, len, '$', '@')) {
      pos += 3;
      mode = MODE_OLD_JIS;
    } else if (c >= 0xA0 && n >= 0xA1) {  // EUC
      put_mapped(&out, (c * 256 + n) & 0x7F7F);
      pos += 2;
    } else if (c >= 0xE0) {  // Shift-JIS, lead byte E0 and up
      put_byte(&out, c);
      put_byte(&out, n);
      pos += 2;
    } else if (c >= 0xA0) {  // half-width katakana
      put_byte(&out, c);
      pos += 1;
    } else if (c >= 0x81) {  // Shift-JIS, lead byte 81 to 9F
      put_byte(&out, c);
      put_byte(&out, n);
      pos += 2;
    } else {  // ASCII, control bytes, other escapes
      put_byte(&out, c);
      pos += 1;
    }
  }
  output[out.pos] = '\0';
  *length = out.pos;
}

void jis_to_sjis(const char *input, char *output, unsigned *length) {
  // The output never grows by more than one byte, so length+2 always holds
  // it and nothing is cut.
  jis_to_sjis_cut(input, output, length, *length + 2);
}
