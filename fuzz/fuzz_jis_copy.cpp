// Fuzz target: the JIS/EUC/Shift-JIS line converter and the file copy
// around it.
//
// The input is one text. It is converted whole by jis_to_sjis (input with
// its NUL after it, output in a heap block of exactly length+2 bytes) and by
// jis_to_sjis_cut into a smaller block; then it is written to a file and
// copied by file_copy, once as converted text with title capture and once
// byte for byte.
//
// Checked against a model of the documented rules, written out here on its
// own: the converted bytes and length, the cut conversion, the bytes of both
// copies (text streams: CR LF in, Ctrl-Z ends the input, LF written as CR
// LF; lines read in pieces of at most 32511 bytes, each ending at its first
// NUL), and the captured title, which stays within 259 bytes.
#include <cstdint>
#include <cstring>
#include <string>

#include "fuzz/fuzz_support.h"
#include "src/cache/cache.h"
#include "src/entry/entry.h"
#include "src/settings/settings.h"

namespace {

std::string src_host, out_host;  // host paths of the two files
std::string src_path, out_path;  // the same in program form

// JIS X 0208 code to Shift-JIS, in unsigned 32-bit arithmetic: the two bytes
// of the result (bits 8-15, bits 0-7), the OR of an overlong second byte
// included.
void model_map(std::string *out, uint32_t code) {
  uint32_t hi = (code >> 8) & 0xFF, lo = code & 0xFF;
  uint32_t s1 = ((hi - 1) >> 1) + (hi <= 0x5E ? 0x71 : 0xB1);
  uint32_t s2;
  if (hi & 1) {
    s2 = lo + 0x1F;
    if (s2 >= 0x7F) s2++;
  } else {
    s2 = lo + 0x7E;
  }
  uint32_t r = (s1 * 256) | s2;
  out->push_back(static_cast<char>((r >> 8) & 0xFF));
  out->push_back(static_cast<char>(r & 0xFF));
}

// The conversion of in[0..len); in[len] is readable and is a NUL.
std::string model_convert(const unsigned char *in, unsigned len) {
  enum { SINGLE, NEW_JIS, OLD_JIS } mode = SINGLE;
  std::string out;
  unsigned pos = 0;
  // An escape test stops at the first byte that differs, so it never reads
  // past the NUL after the text.
  auto esc = [&](unsigned char a, unsigned char b) {
    return in[pos] == 0x1B && in[pos + 1] == a && in[pos + 2] == b;
  };
  while (pos < len) {
    unsigned c = in[pos], n = in[pos + 1];
    if (mode != SINGLE) {
      if (esc('(', 'J') || (mode == NEW_JIS && esc('(', 'B')) ||
          (mode == OLD_JIS && esc('(', 'H'))) {
        pos += 3;
        mode = SINGLE;
      } else {
        model_map(&out, c * 256 + n);
        pos += 2;
      }
    } else if (esc('$', 'B')) {
      pos += 3;
      mode = NEW_JIS;
    } else if (esc('$', '@')) {
      pos += 3;
      mode = OLD_JIS;
    } else if (c >= 0xA0 && n >= 0xA1) {
      model_map(&out, (c * 256 + n) & 0x7F7F);
      pos += 2;
    } else if (c >= 0xE0 || (c >= 0x81 && c <= 0x9F)) {
      out.push_back(static_cast<char>(c));
      out.push_back(static_cast<char>(n));
      pos += 2;
    } else {
      out.push_back(static_cast<char>(c));
      pos += 1;
    }
  }
  return out;
}

// Title capture on bytes[0..count), into title (at most 259 bytes).
void model_title(std::string *title, const char *bytes, size_t count) {
  if (!title->empty() || count <= 7) return;
  for (size_t i = 0; i + 8 <= count; i++) {
    if (std::memcmp(bytes + i, "<TITLE>", 7) != 0 &&
        std::memcmp(bytes + i, "<title>", 7) != 0)
      continue;
    for (size_t k = i + 7; k < count && title->size() < 259 && bytes[k]; k++)
      title->push_back(bytes[k]);
    break;
  }
  for (size_t i = 0; i + 8 <= title->size(); i++) {
    if (title->compare(i, 8, "</TITLE>") == 0 ||
        title->compare(i, 8, "</title>") == 0) {
      title->resize(i);
      break;
    }
  }
}

void check_conversion(const uint8_t *data, size_t size) {
  unsigned len = static_cast<unsigned>(size);
  char *input = new char[size + 1];
  if (size > 0) std::memcpy(input, data, size);
  input[size] = '\0';
  std::string expect =
      model_convert(reinterpret_cast<const unsigned char *>(input), len);

  char *output = new char[size + 2];
  unsigned length = len;
  jis_to_sjis(input, output, &length);
  FUZZ_CHECK(length <= len + 1);
  FUZZ_CHECK(output[length] == '\0');
  FUZZ_CHECK(length == expect.size());
  FUZZ_CHECK(std::memcmp(output, expect.data(), length) == 0);
  delete[] output;

  // A block smaller than length+2 keeps the first size-1 bytes.
  uint32_t hash = 0;
  for (size_t i = 0; i < size; i++) hash = hash * 31 + data[i];
  unsigned cut_size = 1 + hash % (len + 3);
  char *cut = new char[cut_size];
  length = len;
  jis_to_sjis_cut(input, cut, &length, cut_size);
  size_t keep = expect.size() < cut_size - 1 ? expect.size() : cut_size - 1;
  FUZZ_CHECK(length == keep);
  FUZZ_CHECK(cut[length] == '\0');
  FUZZ_CHECK(std::memcmp(cut, expect.data(), keep) == 0);
  delete[] cut;
  delete[] input;
}

void check_text_copy(const uint8_t *data, size_t size) {
  settings.flg_graphic = 0;
  settings.flg_shiftjis = 1;
  settings.flg_hst_type = 3;
  FUZZ_CHECK(file_copy(src_path.c_str(), out_path.c_str()) == 1);
  FUZZ_CHECK(strnlen(hst_title, sizeof hst_title) <= TEXT_SIZE - 1);

  // The model: pieces of at most 32511 bytes up to and with a line feed,
  // each taken up to its first NUL, converted, cut to the 32511 bytes the
  // conversion buffer holds, and written up to its first NUL.
  std::string text =
      fuzz::text_read(std::string(reinterpret_cast<const char *>(data), size));
  std::string written, title;
  for (size_t pos = 0; pos < text.size();) {
    size_t end = pos;
    while (end < text.size() && end - pos < COPYBUF_SIZE - 1) {
      if (text[end++] == '\n') break;
    }
    std::string piece = text.substr(pos, end - pos);
    pos = end;
    piece.resize(std::strlen(piece.c_str()));
    std::string conv =
        model_convert(reinterpret_cast<const unsigned char *>(piece.c_str()),
                      static_cast<unsigned>(piece.size()));
    if (conv.size() > FAT_BUFFER_SIZE - 1) conv.resize(FAT_BUFFER_SIZE - 1);
    written += conv.c_str();
    model_title(&title, conv.data(), conv.size());
  }
  std::string got;
  FUZZ_CHECK(fuzz::read_file(out_host, &got));
  FUZZ_CHECK(got == fuzz::text_write(written));
  FUZZ_CHECK(title == hst_title);
}

void check_byte_copy(const uint8_t *data, size_t size) {
  settings.flg_graphic = 1;
  settings.flg_shiftjis = 1;
  settings.flg_hst_type = 1;
  FUZZ_CHECK(file_copy(src_path.c_str(), out_path.c_str()) == 1);
  FUZZ_CHECK(strnlen(hst_title, sizeof hst_title) <= TEXT_SIZE - 1);
  std::string got;
  FUZZ_CHECK(fuzz::read_file(out_host, &got));
  FUZZ_CHECK(got.size() == size &&
             (size == 0 || std::memcmp(got.data(), data, size) == 0));
  std::string title;
  const size_t chunk = COPYBUF_SIZE;
  for (size_t pos = 0; pos < size; pos += chunk) {
    size_t n = size - pos < chunk ? size - pos : chunk;
    model_title(&title, reinterpret_cast<const char *>(data + pos), n);
  }
  FUZZ_CHECK(title == hst_title);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  fuzz::silence_stdout();
  fuzz::no_keyboard();
  src_host = fuzz::scratch() + "/C0A1.htm";
  out_host = fuzz::scratch() + "/OUT.HTM";
  src_path = fuzz::program_form(src_host);
  out_path = fuzz::program_form(out_host);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (src_path.empty()) LLVMFuzzerInitialize(nullptr, nullptr);
  check_conversion(data, size);

  settings_reset();
  fuzz::write_file(src_host, data, size);
  check_text_copy(data, size);
  check_byte_copy(data, size);
  return 0;
}
