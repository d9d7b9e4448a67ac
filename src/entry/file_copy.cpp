// The copy of one cached file into the output tree: converted text line by
// line, or bytes in blocks; the document's title is caught on the way and the
// copy gets the cached file's times.
#include <cstdint>
#include <cstring>

#include "platform/platform.h"
#include "src/cache/cache.h"
#include "src/entry/entry.h"
#include "src/run/run.h"

char copybuf[COPYBUF_SIZE];
char hst_title[TEXT_SIZE + 1];

namespace {

// "ERROR:ファイルのコピーに失敗しました\n"
const char copy_failed_message[] =
    "ERROR:\x83\x74\x83\x40\x83\x43\x83\x8b\x82\xcc\x83\x52\x83\x73\x81\x5b"
    "\x82\xc9\x8e\xb8\x94\x73\x82\xb5\x82\xdc\x82\xb5\x82\xbd\n";

enum { TITLE_TAG_SIZE = 7, TITLE_END_TAG_SIZE = 8 };

// Copies the source in blocks of COPYBUF_SIZE bytes. 1 every block went
// through, 0 a block was not read or written whole (or the size is unknown).
int copy_bytes(FILE *src, FILE *out) {
  int64_t remaining = plat_stream_size(src);
  if (remaining < 0) return 0;
  while (remaining > 0) {
    size_t chunk = remaining < COPYBUF_SIZE ? static_cast<size_t>(remaining)
                                            : static_cast<size_t>(COPYBUF_SIZE);
    remaining -= static_cast<int64_t>(chunk);
    if (std::fread(copybuf, chunk, 1, src) != 1) return 0;
    if (std::fwrite(copybuf, chunk, 1, out) != 1) return 0;
    title_capture(copybuf, static_cast<unsigned>(chunk));
  }
  return 1;
}

// Copies the source line by line, each line converted to Shift-JIS. The text
// streams do the line-end and Ctrl-Z rules. Errors after the open go unseen.
void copy_text(FILE *src, FILE *out) {
  char *converted = reinterpret_cast<char *>(fat_buffer);
  // A line longer than the buffer arrives in pieces of COPYBUF_SIZE-1 bytes.
  while (std::fgets(copybuf, COPYBUF_SIZE, src) != nullptr) {
    if (settings.flg_debug >= 3) msg_trace("copybuf=%s\n", copybuf);
    unsigned length = static_cast<unsigned>(std::strlen(copybuf));
    // A full piece ending in a lead byte would convert to one byte more than
    // the buffer holds; that byte is cut (it is the NUL paired with the lead
    // byte unless a JIS mode is still open).
    jis_to_sjis_cut(copybuf, converted, &length, FAT_BUFFER_SIZE);
    if (settings.flg_debug >= 3) msg_trace("cache  =%s\n", converted);
    std::fputs(converted, out);
    title_capture(converted, length);
  }
}

// True when a title tag of the given size, in capitals or in small letters,
// begins at p.
bool tag_at(const char *p, const char *upper, const char *lower, size_t size) {
  return std::memcmp(p, upper, size) == 0 || std::memcmp(p, lower, size) == 0;
}

}  // namespace

int file_copy(const char *cache_filename, const char *out_filename) {
  hst_title[0] = '\0';
  if (settings.flg_debug != 0)
    msg_trace("%s -> %s\n", cache_filename, out_filename);

  const bool text = settings.flg_graphic != 1 && settings.flg_shiftjis != 0;
  // Both are opened before either is tested: a missing source still leaves
  // an empty output behind.
  FILE *src = plat_fopen(cache_filename, text ? "r" : "rb");
  FILE *out = plat_fopen(out_filename, text ? "w" : "wb");
  int result = 0;
  if (src != nullptr && out != nullptr) {
    if (text) {
      copy_text(src, out);
      result = 1;
    } else {
      result = copy_bytes(src, out);
    }
  }

  if (result == 1) {
    // The close writes the buffered data and so stamps the file with the
    // current time; the times set through the second stream are final,
    // since nothing is written through it.
    std::fclose(out);
    out = plat_fopen(out_filename, "ab");
    if (out != nullptr) stream_time_copy(src, out);
  }
  if (out != nullptr) std::fclose(out);
  if (src != nullptr) std::fclose(src);

  if (result == 0) msg_trace("%s", copy_failed_message);
  return result;
}

void stream_time_copy(FILE *src, FILE *dst) {
  // A failure leaves the times as the copy made them; it is not reported.
  (void)plat_stream_copy_times(src, dst);
}

void title_capture(const char *bytes, unsigned count) {
  if ((settings.flg_hst_type & 1) == 0 || hst_title[0] != '\0' ||
      count <= TITLE_TAG_SIZE)
    return;

  // The tag must lie wholly within the bytes, and one byte must follow it.
  for (unsigned i = 0; i + TITLE_END_TAG_SIZE <= count; i++) {
    if (bytes[i] != '<' ||
        !tag_at(bytes + i, "<TITLE>", "<title>", TITLE_TAG_SIZE))
      continue;
    const char *from = bytes + i + TITLE_TAG_SIZE;
    unsigned available = count - i - TITLE_TAG_SIZE;
    unsigned n = 0;
    while (n < available && n < TEXT_SIZE - 1 && from[n] != '\0') {
      hst_title[n] = from[n];
      n++;
    }
    hst_title[n] = '\0';
    break;
  }

  // The title ends at its closing tag when that lies within the same bytes.
  size_t title_length = std::strlen(hst_title);
  for (size_t i = 0; i + TITLE_END_TAG_SIZE <= title_length; i++) {
    if (hst_title[i] == '<' &&
        tag_at(hst_title + i, "</TITLE>", "</title>", TITLE_END_TAG_SIZE)) {
      hst_title[i] = '\0';
      break;
    }
  }
}
