// Fuzz target: the cache index reader on whole index files.
//
// The input is the eight index files back to back, in reading order
// (cache1\mm256.dat, cache1\mm2048.dat, cache2\mm256.dat, ...), as `cat` of
// the files that mkcache writes: each file takes its 1024-byte header and as
// many records as the header counts; a negative count, or the eighth file,
// takes all that is left. Files the input does not reach are missing. Byte 0
// of the first header (not read by the reader) picks the debug level, so the
// traces run too.
//
// Checked: the reader stops within a bound set by the input's size, after
// exactly the records a model of the reading rules predicts; every entry's
// texts are terminated within their fields and are the record's texts, cut
// to 259 bytes; the cache directory is the index file's folder.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "fuzz/fuzz_support.h"
#include "src/cache/cache.h"
#include "src/settings/settings.h"

namespace {

std::string cache_root;  // host path of the scratch folder, with '/'
std::string fat_root;    // the same in program form, trailing backslash

const char *const index_names[8] = {"cache1/mm256.dat", "cache1/mm2048.dat",
                                    "cache2/mm256.dat", "cache2/mm2048.dat",
                                    "cache3/mm256.dat", "cache3/mm2048.dat",
                                    "cache4/mm256.dat", "cache4/mm2048.dat"};

uint32_t record_size(unsigned n) { return (n % 2) ? 256 : 2048; }

int16_t header_count(const uint8_t *header) {
  return static_cast<int16_t>(
      static_cast<uint16_t>(header[40] | (header[41] << 8)));
}

// The records the reader must deliver from files of these sizes: file by
// file, the first record at once, then while fewer than the count (as an
// unsigned number) were read; a missing file, a short header or a short read
// ends the run. final is set when the end is for good (every file done, or
// one missing or without its header); after a short read the next call
// would go on with the next file.
unsigned long expected_records(const uint8_t *data, const size_t *offset,
                               const size_t *length, int files, bool *final) {
  unsigned long total = 0;
  *final = true;
  for (int i = 0; i < 8; i++) {
    if (i >= files) return total;
    if (length[i] < FAT_HEADER_SIZE) return total;
    uint32_t count = static_cast<uint32_t>(
        static_cast<int32_t>(header_count(data + offset[i])));
    uint64_t attempts = count < 1 ? 1 : count;
    uint64_t present = (length[i] - FAT_HEADER_SIZE) / record_size(i + 1);
    if (present < attempts) {
      *final = false;
      return total + present;
    }
    total += attempts;
  }
  return total;
}

// 1 when text (a cut copy) is the record's text at from: its first bytes,
// ending at the text's NUL, the record's end, or after 259 bytes.
bool is_record_text(const char *text, uint32_t from, uint32_t recsize) {
  size_t n = std::strlen(text);
  if (from >= recsize) return n == 0;
  size_t whole = strnlen(reinterpret_cast<const char *>(fat_buffer) + from,
                         recsize - from);
  size_t cut = whole < TEXT_SIZE - 1 ? whole : TEXT_SIZE - 1;
  return n == cut && std::memcmp(text, fat_buffer + from, n) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  fuzz::silence_stdout();
  fuzz::no_keyboard();
  cache_root = fuzz::scratch() + "/";
  for (int d = 1; d <= 4; d++)
    ::mkdir((cache_root + "cache" + std::to_string(d)).c_str(), 0755);
  fat_root = fuzz::program_form(cache_root);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (fat_root.empty()) LLVMFuzzerInitialize(nullptr, nullptr);

  // Split the input into the index files.
  size_t offset[8] = {0};
  size_t length[8] = {0};
  int files = 0;
  size_t pos = 0;
  for (unsigned n = 1; n <= 8 && pos < size; n++) {
    size_t rest = size - pos;
    size_t take = rest;
    if (n < 8 && rest >= FAT_HEADER_SIZE) {
      int16_t count = header_count(data + pos);
      if (count >= 0) {
        size_t want =
            FAT_HEADER_SIZE + static_cast<size_t>(count) * record_size(n);
        if (want < rest) take = want;
      }
    }
    offset[files] = pos;
    length[files] = take;
    files++;
    pos += take;
  }
  for (int i = 0; i < 8; i++) {
    std::string path = cache_root + index_names[i];
    if (i < files)
      fuzz::write_file(path, data + offset[i], length[i]);
    else
      ::unlink(path.c_str());
  }

  settings_reset();
  FUZZ_CHECK(std::strlen(fat_root.c_str()) < TEXT_SIZE);
  std::snprintf(settings.fat_filename, TEXT_SIZE, "%s", fat_root.c_str());
  settings.flg_debug = size > 0 ? data[0] % 4 : 0;
  cache_reset();

  // Each record read takes at least 256 bytes of the input.
  const unsigned long bound = size / 256 + 16;
  unsigned long reads = 0;
  while (proc_read()) {
    reads++;
    FUZZ_CHECK(reads <= bound);
    FUZZ_CHECK(fat_number >= 1 && fat_number <= 8);
    FUZZ_CHECK(fat_recsize == record_size(fat_number));
    FUZZ_CHECK(fat_read >= 1);

    char expected_dir[TEXT_SIZE + 16];
    std::snprintf(expected_dir, sizeof expected_dir, "%scache%u\\",
                  fat_root.c_str(), (fat_number + 1) / 2);
    FUZZ_CHECK(std::strcmp(settings.fat_directory, expected_dir) == 0);

    FUZZ_CHECK(proc_conv() == 1);  // no key is ever pressed
    FUZZ_CHECK(cache_entry.count == 1);
    const cache_item &item = cache_entry.item[0];
    FUZZ_CHECK(fuzz::terminated(item.http, TEXT_SIZE));
    FUZZ_CHECK(fuzz::terminated(item.file, TEXT_SIZE));
    FUZZ_CHECK(is_record_text(item.http, FAT_URL_OFFSET, fat_recsize));
    // The file name follows the whole URL, not its cut copy.
    size_t url_whole =
        strnlen(reinterpret_cast<const char *>(fat_buffer) + FAT_URL_OFFSET,
                fat_recsize - FAT_URL_OFFSET);
    FUZZ_CHECK(is_record_text(
        item.file, static_cast<uint32_t>(FAT_URL_OFFSET + url_whole + 1),
        fat_recsize));
  }
  bool final = false;
  FUZZ_CHECK(reads == expected_records(data, offset, length, files, &final));
  if (final) FUZZ_CHECK(proc_read() == 0);
  FUZZ_CHECK(fat_number <= 9);
  cache_reset();  // closes the index file still open
  return 0;
}
