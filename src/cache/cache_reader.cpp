// The cache index reader. The eight index files (cache1\mm256.dat to
// cache4\mm2048.dat under fat_filename) are read one after the other, one
// record at a time into fat_buffer; proc_conv takes the URL and the cache
// file name out of the record.
//
// A URL or file name that is not terminated within its record is taken up
// to the record's end (and cut to 259 bytes like any other); a URL that runs
// to the record's end leaves no room for a file name, which is then empty.
// Nothing past the record just read is ever looked at.
#include <cstdio>
#include <cstring>

#include "lib/zeb_con.h"
#include "lib/zeb_key.h"
#include "platform/platform.h"
#include "src/cache/cache.h"
#include "src/run/run.h"
#include "src/settings/settings.h"

cache_entry_record cache_entry;
unsigned char fat_buffer[FAT_BUFFER_SIZE];
uint32_t fat_number, fat_count, fat_read, fat_recsize;

// Set when an index file could not be opened or its header not read: the
// reading has ended for good, and every later proc_read returns 0 without
// touching the (possibly missing) stream or the stale record count.
static int fat_failed;

enum { FAT_COUNT_OFFSET = 40, FAT_LAST_FILE = 8 };

void cache_reset(void) {
  if (settings.fat_stream) {
    std::fclose(settings.fat_stream);
    settings.fat_stream = nullptr;
  }
  fat_number = 0;
  fat_count = 0;
  fat_read = 0;
  fat_recsize = 0;
  fat_failed = 0;
  std::memset(&cache_entry, 0, sizeof cache_entry);
  std::memset(fat_buffer, 0, sizeof fat_buffer);
}

// fat_directory = fat_filename, "cache<d>\", and with a record size the
// index file's name "mm<size>.dat". Cut when fat_filename is too long.
static void fat_directory_format(unsigned d, unsigned recsize) {
  int n;
  if (recsize)
    n = std::snprintf(settings.fat_directory, TEXT_SIZE, "%scache%u\\mm%u.dat",
                      settings.fat_filename, d, recsize);
  else
    n = std::snprintf(settings.fat_directory, TEXT_SIZE, "%scache%u\\",
                      settings.fat_filename, d);
  if (n < 0) settings.fat_directory[0] = '\0';
}

int cache_open(unsigned n) {
  if (n == 0) return 1;
  unsigned d = (n + 1) / 2;
  fat_read = 0;
  fat_recsize = (n % 2) ? 256 : 2048;
  fat_directory_format(d, fat_recsize);
  if (settings.flg_debug >= 1)
    msg_trace("open cache %s\n", settings.fat_directory);

  // A stream left open by a file whose header could not be read is not
  // carried over into the next one.
  if (settings.fat_stream) {
    std::fclose(settings.fat_stream);
    settings.fat_stream = nullptr;
  }
  int result = 0;
  settings.fat_stream = plat_fopen(settings.fat_directory, "rb");
  if (settings.fat_stream) {
    if (std::fread(fat_buffer, 1, FAT_HEADER_SIZE, settings.fat_stream) <
        FAT_HEADER_SIZE) {
      line_print("cache file can't read");
    } else {
      int16_t count = static_cast<int16_t>(
          static_cast<uint16_t>(fat_buffer[FAT_COUNT_OFFSET] |
                                (fat_buffer[FAT_COUNT_OFFSET + 1] << 8)));
      fat_count = static_cast<uint32_t>(static_cast<int32_t>(count));
      if (settings.flg_debug >= 1)
        msg_trace("IE cache %d\n", static_cast<int>(count));
      result = 1;
    }
  } else {
    // The path is at most 259 bytes, so the message is never cut.
    char message[TEXT_SIZE + 32];
    std::snprintf(message, sizeof message, "cache file can't open '%s'.",
                  settings.fat_directory);
    line_print(message);
  }
  fat_directory_format(d, 0);
  return result;
}

int proc_read(void) {
  if (fat_failed) return 0;
  if (!(fat_read < fat_count)) {
    if (settings.fat_stream) {
      std::fclose(settings.fat_stream);
      settings.fat_stream = nullptr;
    }
    if (fat_number >= FAT_LAST_FILE) {
      fat_number = FAT_LAST_FILE + 1;
      return 0;
    }
    fat_number = fat_number + 1;
    if (!cache_open(fat_number)) {
      fat_failed = 1;
      return 0;
    }
    // The first record of the new file is read at once, whatever its count.
  }
  int result = 0;
  if (settings.fat_stream && fat_recsize <= FAT_BUFFER_SIZE)
    result = std::fread(fat_buffer, 1, fat_recsize, settings.fat_stream) ==
             fat_recsize;
  fat_read = fat_read + 1;
  if (settings.flg_debug >= 1)
    msg_trace("IE read  %d\n", static_cast<int>(fat_read));
  return result;
}

// Copies the text at record offset from into out (TEXT_SIZE bytes), ending
// at its NUL or at the record's end, cut to 259 bytes. Returns the length of
// the whole text in the record (not of the possibly cut copy).
static uint32_t record_text(uint32_t from, char *out) {
  out[0] = '\0';
  uint32_t end = fat_recsize <= FAT_BUFFER_SIZE ? fat_recsize : 0;
  if (from >= end) return 0;
  const unsigned char *start = fat_buffer + from;
  const void *nul = std::memchr(start, 0, end - from);
  uint32_t length = nul ? static_cast<uint32_t>(
                              static_cast<const unsigned char *>(nul) - start)
                        : end - from;
  uint32_t copy = length < TEXT_SIZE - 1 ? length : TEXT_SIZE - 1;
  std::memcpy(out, start, copy);
  out[copy] = '\0';
  return length;
}

int proc_conv(void) {
  if (settings.flg_debug >= 2) msg_trace("cache get\n");
  cache_item &item = cache_entry.item[0];
  uint32_t url_length = record_text(FAT_URL_OFFSET, item.http);
  record_text(FAT_URL_OFFSET + url_length + 1, item.file);
  cache_entry.count = 1;
  if (settings.flg_debug >= 2) {
    msg_trace("No. =%d\n", static_cast<int>(fat_read));
    msg_trace("http=%3d:%s\n", static_cast<int>(std::strlen(item.http)),
              item.http);
    msg_trace("file=%3d:%s\n", static_cast<int>(std::strlen(item.file)),
              item.file);
  }
  return key_escape() == 27 ? 0 : 1;
}
