// URL classification by scheme and the cutting of a URL into domain,
// directory and file name. The parts are copied byte for byte; nothing is
// decoded here.
#include <cstring>

#include "lib/zeb_str.h"
#include "src/urlmap/urlmap.h"

namespace {

// Bytes of scheme prefix skipped for each kind; slot 0 is never selected.
const int prefix_length[6] = {0, 7, 8, 6, 7, 0};

// The URL from its prefix on. A kind out of range, or one that does not
// belong to this URL (shorter than its prefix), skips nothing or everything
// rather than reading past the text.
const char *after_prefix(int kind, const char *url) {
  int skip = 0;
  if (kind >= 1 && kind <= 5) skip = prefix_length[kind];
  size_t len = std::strlen(url);
  if (len < static_cast<size_t>(skip)) return url + len;
  return url + skip;
}

}  // namespace

int url_kind(const char *url) {
  char work[TEXT_SIZE];
  string_copy(work, TEXT_SIZE, url);
  string_upper(work);
  if (std::strncmp(work, "HTTP://", 7) == 0) return URL_HTTP;
  if (std::strncmp(work, "HTTPS://", 8) == 0) return URL_HTTPS;
  if (std::strncmp(work, "FTP://", 6) == 0) return URL_FTP;
  if (std::strncmp(work, "FILE://", 7) == 0) return URL_FILE;
  return URL_OTHER;
}

void url_split_domain(int kind, const char *url, char *url_domain) {
  string_copy(url_domain, TEXT_SIZE, after_prefix(kind, url));
  char *slash = std::strchr(url_domain, '/');
  if (slash != nullptr) *slash = '\0';
}

void url_split_directory(int kind, const char *url, char *url_directory) {
  url_directory[0] = '\0';
  const char *slash = std::strchr(after_prefix(kind, url), '/');
  if (slash == nullptr) return;
  string_copy(url_directory, TEXT_SIZE, slash + 1);
  char *last = std::strrchr(url_directory, '/');
  if (last != nullptr)
    *last = '\0';
  else
    url_directory[0] = '\0';
}

void url_split_filename(int kind, const char *url, char *url_filename) {
  url_filename[0] = '\0';
  const char *slash = std::strchr(after_prefix(kind, url), '/');
  if (slash == nullptr) return;
  string_copy(url_filename, TEXT_SIZE, slash + 1);
  char *last = std::strrchr(url_filename, '/');
  if (last != nullptr)
    std::memmove(url_filename, last + 1, std::strlen(last + 1) + 1);
}
