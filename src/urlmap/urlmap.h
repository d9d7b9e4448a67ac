// URL classification and splitting, and the mapping of the URL's parts to
// the output path: domain folder, directory, file name.
#ifndef VELDOR_URLMAP_H
#define VELDOR_URLMAP_H

#include <cstddef>

#include "src/settings/settings.h"

// URL kinds.
enum { URL_HTTP = 1, URL_HTTPS = 2, URL_FTP = 3, URL_FILE = 4, URL_OTHER = 5 };

// Room for the joined output path before its length is tested: the root and
// three parts of at most 259 bytes each, their separators and the NUL.
enum { OUT_PATH_SIZE = 4 * TEXT_SIZE + 4 };

// One entry's path parts; all but out_filename hold at most 259 bytes.
struct entry_paths {
  char url_domain[TEXT_SIZE];
  char url_directory[TEXT_SIZE];
  char url_filename[TEXT_SIZE];
  char dir_domain[TEXT_SIZE];
  char dir_directory[TEXT_SIZE];
  char dir_filename[TEXT_SIZE];
  char out_filename[OUT_PATH_SIZE];
};

// The kind of url: URL_HTTP .. URL_OTHER.
int url_kind(const char *url);
// The text between the scheme prefix and the first '/'.
void url_split_domain(int kind, const char *url, char *url_domain);
// The text between the first and the last '/' after the prefix.
void url_split_directory(int kind, const char *url, char *url_directory);
// The text after the last '/' after the prefix.
void url_split_filename(int kind, const char *url, char *url_filename);

// The domain folder of url_domain into dir_domain (260 bytes; an overlong
// folder is cut to 259 bytes).
void todir_domain(const char *url_domain, char *dir_domain);
// Replaces the end of text by the first domain table entry that ends it.
// Returns the number of protected bytes at the end (keep_length).
int domain_table_apply(char *text);
// Reverses the dot-separated labels of text, its last keep_length bytes left
// in place.
void domain_reverse(char *text, int keep_length);
// Shortens every backslash-separated level of text to flg_dir_max bytes when
// flg_dir_max is 0 to 8.
void dir_max_cut(char *text);

// The output directory of url_directory into dir_directory.
void todir_directory(const char *url_directory, char *dir_directory);
// The output file name of url_filename into dir_filename. Returns 1 when the
// URL named the file, 0 when domain_root was used.
int todir_filename(const char *url_filename, char *dir_filename);
// The short-name fitting of a file name (flg_dir_max 0 to 8).
void file_max_cut(char *name);
// Decodes percent escapes and treats the CGI characters by flg_cgi_file.
// Returns 0 the entry is dropped, 1 cut, 2 go on, 3 cut (cgi_name may
// replace a file name).
int cgi_proc(char *text);
// 1 for a graphic file, 0 for a text file (no extension, or one beginning
// with HTM or TXT).
int graphic_test(const char *name);
// Joins out_directory and the three parts into out_filename (OUT_PATH_SIZE
// bytes). Returns 1 when the path is longer than 260 bytes, else 0.
int todir_path(const char *dir_domain, const char *dir_directory,
               const char *dir_filename, char *out_filename);

// Rewrites every component of text from byte start on that the host could
// resolve as "." or ".." (one made only of dots and blanks, with a dot): each
// dot becomes "%2E". Components end at '\' or '/'; a Shift-JIS trail byte is
// not a separator. The text stays within size bytes (at most OUT_PATH_SIZE).
// Returns 1 when all of it fitted, 0 when it was cut.
int path_guard(char *text, size_t size, size_t start);

#endif
