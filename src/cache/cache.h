// The cache index reader: the eight index files read record by record.
#ifndef VELDOR_CACHE_H
#define VELDOR_CACHE_H

#include <cstdint>

#include "src/settings/settings.h"

enum { FAT_BUFFER_SIZE = 32512, FAT_HEADER_SIZE = 1024, FAT_URL_OFFSET = 112 };

struct cache_item {
  char file[TEXT_SIZE];
  char http[TEXT_SIZE];
};

struct cache_entry_record {
  uint32_t count;
  cache_item item[1];
};

extern cache_entry_record cache_entry;
extern unsigned char fat_buffer[FAT_BUFFER_SIZE];
extern uint32_t fat_number, fat_count, fat_read, fat_recsize;

// Puts the reader back to its start state (no file read yet). For tests.
void cache_reset(void);

// Opens index file n (1 to 8) and reads its header. 1 opened and read, 0 not
// (the message printed). n 0 does nothing and returns 1.
int cache_open(unsigned n);
// Reads the next record into fat_buffer, opening the next index file when
// the current one is exhausted. 1 a record was read, 0 none (all files done,
// a file not opened or read, a short read).
int proc_read(void);
// Copies URL and cache file name out of the record into cache_entry.
// 0 when Escape was pressed meanwhile, else 1.
int proc_conv(void);

#endif
