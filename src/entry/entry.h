// Entry processing: the per-entry pipeline, the file copy with its title
// capture, and the JIS to Shift-JIS line converter.
#ifndef VELDOR_ENTRY_H
#define VELDOR_ENTRY_H

#include "src/settings/settings.h"

enum { COPYBUF_SIZE = 32512 };

extern char copybuf[COPYBUF_SIZE];
// The captured title; one byte more than a text field, since converting a
// title may lengthen it by one byte.
extern char hst_title[TEXT_SIZE + 1];

// Processes the entry in cache_entry. 1 done, 0 Escape was pressed.
int proc_copy(void);

// Copies cache_filename to out_filename, as converted text or byte for byte,
// capturing the title and giving the copy the source's times.
// 1 the copy succeeded, 0 it failed (the message traced).
int file_copy(const char *cache_filename, const char *out_filename);
// Takes the first title in bytes[0..count) into hst_title when asked for.
void title_capture(const char *bytes, unsigned count);
// Gives dst's file the access and write times of src's file.
void stream_time_copy(FILE *src, FILE *dst);

// Converts length bytes of input (input[length] must be readable) from any
// mix of JIS, EUC and Shift-JIS into Shift-JIS in output, which needs room
// for length+2 bytes; writes a NUL after it and stores its length in length.
void jis_to_sjis(const char *input, char *output, unsigned *length);
// As jis_to_sjis into an output of size bytes: at most size-1 bytes and the
// NUL are written, the rest cut. For a conversion buffer that cannot hold
// length+2 bytes.
void jis_to_sjis_cut(const char *input, char *output, unsigned *length,
                     unsigned size);

#endif
