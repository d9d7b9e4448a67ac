// Disk and dates: existence tests, directory search and creation, and the
// packed MS-DOS date and time.
#ifndef VELDOR_ZEB_DSK_H
#define VELDOR_ZEB_DSK_H

#include <cstdint>

extern const char zeb_dsk_version[];  // "ZEB_DSK 1.31"

// Local date and time packed as the MS-DOS file date and time:
// bits 31-25 (year+20) mod 100, 24-21 month, 20-16 day, 15-11 hour,
// 10-5 minute, 4-0 second/2.
typedef uint32_t dos_datetime;

// Field access of a dos_datetime.
inline unsigned dos_year_field(dos_datetime t) { return (t >> 25) & 0x7F; }
inline unsigned dos_month(dos_datetime t) { return (t >> 21) & 0x0F; }
inline unsigned dos_day(dos_datetime t) { return (t >> 16) & 0x1F; }
inline unsigned dos_hour(dos_datetime t) { return (t >> 11) & 0x1F; }
inline unsigned dos_minute(dos_datetime t) { return (t >> 5) & 0x3F; }
inline unsigned dos_second(dos_datetime t) { return (t & 0x1F) * 2; }

// Packs calendar fields; year is the full year (1997).
dos_datetime dos_pack(unsigned year, unsigned month, unsigned day,
                      unsigned hour, unsigned minute, unsigned second);

// Room for the text of dos_time_text and its NUL.
enum { DOS_TIME_TEXT_SIZE = 17 };

// The date and time of t to the minute as "1997/05/05 09:07" (the year as
// field + 1980), the form LAST_TIME is stored and traced in.
void dos_time_text(dos_datetime t, char out[DOS_TIME_TEXT_SIZE]);

// 1 when the path can be opened for reading as a file, else 0 (a directory
// gives 0).
int file_exists(const char *path);

// 1 when the path names an existing directory (or something that exists but
// cannot be opened as a file), or is a letter and a colon; 0 otherwise.
int is_dir_or_drive(const char *path);

// The next entry matching pattern. path_out (260 bytes, or NULL) receives the
// pattern's directory part, a backslash and the name. Returns 1 a file, 2 a
// directory, 4 a directory whose name begins with "." (only with flags bit 4),
// -1 no entry left (path_out emptied).
int dir_search(const char *pattern, char *path_out, int flags);

// The directory part of path into out (260 bytes). 1 when there is one,
// 0 (out empty) when not.
int path_dir_part(const char *path, char *out);

// Creates every missing directory along path, the last one included.
// 0 when the last one was created, -1 when not.
int make_dirs(const char *path);

// As make_dirs, with the clock set to the last-write time of file_path while
// the directories are created, so that they bear that time. When the file
// cannot be read the clock is left alone and the directories are created
// plainly.
void make_dirs_timed(const char *path, const char *file_path);

// The current local date and time (the program's clock).
void dos_time_now(dos_datetime *out);

// The last-write time of the file at path, in local time. A file that cannot
// be read gives 0.
void dos_time_file(const char *path, dos_datetime *out);

#endif
