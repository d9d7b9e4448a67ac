// Fuzz target: the profile reader and writer on fuzzed profiles.
//
// Input: SECTION NUL KEY NUL VALUE NUL PROFILE. An input with fewer than
// three NUL bytes is a profile alone, stored as LAST_TIME in section DIR as
// a run's end does. The profile is written as the file VELDOR.INI in the
// scratch folder, which is the current directory.
//
// Checked against a model of the profile rules written out here: the text
// stream (CR LF read as LF, Ctrl-Z ends the input, LF written as CR LF),
// lines read in pieces of at most 79 bytes, each handled as a text up to
// its first NUL; profile_get's result and value for a few keys (into a heap
// block of exactly 80 bytes); and after profile_put the profile's bytes (the
// old lines kept, the key line in place, added or the file left untouched),
// with no temporary file left behind.
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "lib/zeb_con.h"

namespace {

const char profile_name[] = "VELDOR.INI";
std::string folder;   // the scratch folder, host form
std::string profile;  // host path of the profile

enum { LINE_SIZE = 80 };

// The pieces a reader with an 80-byte line buffer gets: up to and with a
// line feed, at most 79 bytes; each as the text up to its first NUL.
std::vector<std::string> pieces(const std::string &text) {
  std::vector<std::string> out;
  for (size_t pos = 0; pos < text.size();) {
    size_t end = pos;
    while (end < text.size() && end - pos < LINE_SIZE - 1)
      if (text[end++] == '\n') break;
    std::string p = text.substr(pos, end - pos);
    out.push_back(p.substr(0, std::strlen(p.c_str())));
    pos = end;
  }
  return out;
}

std::string strip(const std::string &line) {
  if (!line.empty() && line.back() == '\n')
    return line.substr(0, line.size() - 1);
  return line;
}

bool is_header_of(const std::string &line, const std::string &section) {
  if (line.empty() || line[0] != '[') return false;
  size_t close = line.find(']');
  return close != std::string::npos && line.substr(1, close - 1) == section;
}

bool is_key_line(const std::string &line, const std::string &key,
                 std::string *value) {
  size_t eq = line.find('=');
  if (eq == std::string::npos || line.substr(0, eq) != key) return false;
  if (value) *value = line.substr(eq + 1);
  return true;
}

// profile_get on the text: 1 and the value, or 0 and an empty value.
int model_get(const std::vector<std::string> &lines, const std::string &section,
              const std::string &key, std::string *value) {
  value->clear();
  bool in_section = false;
  for (const std::string &piece : lines) {
    std::string line = strip(piece);
    if (!line.empty() && line[0] == ';') continue;
    if (!in_section) {
      in_section = is_header_of(line, section);
      continue;
    }
    if (!line.empty() && line[0] == '[') return 0;
    if (is_key_line(line, key, value)) return 1;
  }
  return 0;
}

// The text profile_put makes of an existing profile's text.
std::string model_put(const std::vector<std::string> &lines,
                      const std::string &section, const std::string &key,
                      const std::string &value) {
  enum { LOOKING, IN_SECTION, FOUND } state = LOOKING;
  std::string out, held;
  bool ended = true;
  size_t i = 0;
  bool at_end = false;
  for (;; i++) {
    if (i == lines.size()) {
      at_end = true;
      break;
    }
    const std::string &line = lines[i];
    std::string look = strip(line);
    if (look.empty() || look[0] != ';') {
      if (state == IN_SECTION) {
        if (!look.empty() && look[0] == '[') {
          held = line;
          i++;
          break;
        }
        if (is_key_line(look, key, nullptr)) {
          state = FOUND;
          i++;
          break;
        }
      } else if (is_header_of(look, section)) {
        state = IN_SECTION;
      }
    }
    out += line;
    ended = !line.empty() && line.back() == '\n';
  }
  // A last line without its line end gets one before anything follows.
  if (at_end && !ended) out += "\n";
  std::string key_line = key + "=" + value + "\n";
  if (state == FOUND) {
    out += key_line;
  } else if (state == IN_SECTION) {
    out += key_line;
    if (!at_end) out += held;
  } else {
    out += "\n[" + section + "]\n" + key_line;
  }
  if (!at_end)
    for (; i < lines.size(); i++) out += lines[i];
  return out;
}

void check_get(const std::vector<std::string> &lines,
               const std::string &section, const std::string &key) {
  char *value = new char[LINE_SIZE];
  std::memset(value, 'X', LINE_SIZE);
  int found = profile_get(profile_name, section.c_str(), key.c_str(), value);
  FUZZ_CHECK(fuzz::terminated(value, LINE_SIZE));
  std::string expect;
  int expect_found = model_get(lines, section, key, &expect);
  FUZZ_CHECK(found == expect_found);
  FUZZ_CHECK(expect == value);
  delete[] value;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  fuzz::silence_stdout();
  fuzz::no_keyboard();
  folder = fuzz::scratch();
  if (::chdir(folder.c_str()) != 0) std::abort();
  profile = folder + "/" + profile_name;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (folder.empty()) LLVMFuzzerInitialize(nullptr, nullptr);
  std::string input(reinterpret_cast<const char *>(data), size);
  std::string section = "DIR", key = "LAST_TIME", value = "1997/05/01 10:30";
  std::string raw = input;
  size_t a = input.find('\0');
  size_t b = a == std::string::npos ? a : input.find('\0', a + 1);
  size_t c = b == std::string::npos ? b : input.find('\0', b + 1);
  if (c != std::string::npos) {
    section = input.substr(0, a);
    key = input.substr(a + 1, b - a - 1);
    value = input.substr(b + 1, c - b - 1);
    raw = input.substr(c + 1);
  }

  for (const std::string &name : fuzz::list_dir(folder))
    ::unlink((folder + "/" + name).c_str());
  fuzz::write_file(profile, raw);
  std::vector<std::string> lines = pieces(fuzz::text_read(raw));

  check_get(lines, section, key);
  check_get(lines, "DIR", "OUTDIR");
  check_get(lines, "OPTION", "SHIFTJIS");
  check_get(lines, "DOMAIN", "DOMAIN1");

  std::string old_value;
  bool same = model_get(lines, section, key, &old_value) &&
              !old_value.empty() && old_value == value;
  profile_put(profile_name, section.c_str(), key.c_str(), value.c_str());

  std::string after;
  FUZZ_CHECK(fuzz::read_file(profile, &after));
  if (same) {
    FUZZ_CHECK(after == raw);  // the value was there: untouched
  } else {
    FUZZ_CHECK(after ==
               fuzz::text_write(model_put(lines, section, key, value)));
    FUZZ_CHECK(after.find(fuzz::text_write(key + "=" + value + "\n")) !=
               std::string::npos);
  }
  // Nothing but the profile is left in the folder: no temporary file.
  std::vector<std::string> names = fuzz::list_dir(folder);
  FUZZ_CHECK(names.size() == 1 && names[0] == profile_name);
  return 0;
}
