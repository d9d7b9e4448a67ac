// Fuzz target: the argument iterator and the command-line reader.
//
// The input is split at NUL bytes into an argument vector (at most 64
// elements; element 0 the program path). A plain argument with a wildcard is
// kept inside the scratch folder, the current directory, which holds a few
// files and folders to match: its ':' and a leading backslash become '_',
// and so does the first dot of "..".
//
// Checked: arg_init's result; arg_next ends within a bound, every buffer is
// terminated within its 260 bytes (a heap block of exactly that size), the
// switches come out in order with their text, the plain arguments without
// wildcards come out in order and whole (cut to 259 bytes), and every other
// result is an existing entry that is not "." or ".."; then cmdline_parse on
// the same vector gives the result and the fields its switches ask for.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "lib/zeb_arg.h"
#include "src/run/run.h"
#include "src/settings/settings.h"

namespace {

enum { MAX_ARGS = 64, ARG_SIZE = 260 };

std::string folder;

bool is_switch(const std::string &a) {
  return !a.empty() && (a[0] == '-' || a[0] == '/');
}
bool is_pattern(const std::string &a) {
  return !is_switch(a) && a.find_first_of("?*") != std::string::npos;
}
std::string cut(const std::string &s) { return s.substr(0, ARG_SIZE - 1); }

// Keeps a pattern's search inside the current directory.
void confine(std::string *a) {
  for (size_t i = 0; i < a->size(); i++) {
    char &c = (*a)[i];
    if (c == ':' || (i == 0 && c == '\\') ||
        (c == '.' && i + 1 < a->size() && (*a)[i + 1] == '.'))
      c = '_';
  }
}

// The last component of a result path.
std::string last_component(const std::string &path) {
  size_t p = path.rfind('\\');
  return p == std::string::npos ? path : path.substr(p + 1);
}

// The number a switch's text reads as, for plain digits only; -1 otherwise.
long plain_number(const std::string &s) {
  if (s.empty() || s.size() > 6) return -1;
  long n = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return -1;
    n = n * 10 + (c - '0');
  }
  return n;
}

struct result {
  int kind;
  std::string text;
};

// The results of one iteration over argv.
std::vector<result> iterate(int argc) {
  // Each pattern looks into one folder and gives each of its entries at most
  // once.
  const int bound = argc * 16 + 4;
  char *buf = new char[ARG_SIZE];
  std::vector<result> results;
  for (int calls = 0;; calls++) {
    FUZZ_CHECK(calls <= bound);
    std::memset(buf, 'X', ARG_SIZE);
    buf[0] = '\0';
    int kind = arg_next(buf);
    FUZZ_CHECK(kind >= -1 && kind <= 1);
    if (kind == -1) {
      FUZZ_CHECK(buf[0] == '\0');  // unchanged
      break;
    }
    FUZZ_CHECK(fuzz::terminated(buf, ARG_SIZE));
    results.push_back({kind, buf});
  }
  FUZZ_CHECK(arg_next(buf) == -1);  // and again
  delete[] buf;
  return results;
}

// Walks the arguments and the results segment by segment, each switch
// ending a segment.
void check_results(const std::vector<std::string> &args,
                   const std::vector<result> &results) {
  size_t r = 0;
  size_t a = 1;
  for (;;) {
    bool has_pattern = false;
    std::vector<std::string> plain;
    for (; a < args.size() && !is_switch(args[a]); a++) {
      if (is_pattern(args[a]))
        has_pattern = true;
      else
        plain.push_back(cut(args[a]));
    }
    size_t p = 0;
    for (; r < results.size() && results[r].kind == 0; r++) {
      const std::string &text = results[r].text;
      if (p < plain.size() && text == plain[p]) {
        p++;
        continue;
      }
      // A wildcard match: an entry that exists, never "." or "..".
      FUZZ_CHECK(has_pattern);
      std::string name = last_component(text);
      FUZZ_CHECK(name != "." && name != "..");
      if (text.size() < ARG_SIZE - 1) FUZZ_CHECK(plat_exists(text.c_str()));
    }
    FUZZ_CHECK(p == plain.size());
    if (a == args.size()) {
      FUZZ_CHECK(r == results.size());
      return;
    }
    FUZZ_CHECK(r < results.size() && results[r].kind == 1);
    FUZZ_CHECK(results[r].text == cut(args[a].substr(1)));
    r++;
    a++;
  }
}

// cmdline_parse over the defaults, against what its switches ask for.
void check_cmdline(const std::vector<std::string> &args, char **argv,
                   const std::vector<result> &results) {
  settings_reset();
  int run = cmdline_parse(static_cast<int>(args.size()), argv);
  int expect_run = 1;
  long debug = 0, test = 0;
  int intel = 1, verbose = 1, result_flag = 1, wait_key = 0, hst_only = 0;
  std::string fat = "FAT.DB";
  for (size_t i = 1; i < args.size(); i++) {
    if (!is_switch(args[i])) continue;
    std::string text = cut(args[i].substr(1));
    char letter = text.empty() ? '\0' : text[0];
    if (letter >= 'A' && letter <= 'Z') letter = static_cast<char>(letter + 32);
    std::string rest = text.empty() ? "" : text.substr(1);
    long n = rest.empty() ? 1 : plain_number(rest);
    switch (letter) {
      case '!':
        debug = n;
        break;
      case 't':
        test = n;
        break;
      case '?':
        expect_run = 0;
        break;
      case 'h':
        hst_only = 1;
        fat = rest.empty() ? "NETSCAPE.HST" : rest;
        break;
      case 'i':
        intel = 0;
        break;
      case 'k':
        wait_key = 1;
        break;
      case 'r':
        result_flag = 0;
        break;
      case 'v':
        verbose = 0;
        break;
      default:
        break;
    }
  }
  FUZZ_CHECK(run == expect_run);
  if (debug >= 0) FUZZ_CHECK(settings.flg_debug == debug);
  if (test >= 0) FUZZ_CHECK(settings.flg_test == test);
  FUZZ_CHECK(settings.flg_intel == intel);
  FUZZ_CHECK(settings.flg_verbose == verbose);
  FUZZ_CHECK(settings.flg_result == result_flag);
  FUZZ_CHECK(settings.flg_wait_key == wait_key);
  FUZZ_CHECK(settings.flg_hst_only == hst_only);
  FUZZ_CHECK(fuzz::terminated(settings.fat_filename, TEXT_SIZE));
  FUZZ_CHECK(fat == settings.fat_filename);
  if (hst_only) {
    FUZZ_CHECK(std::strcmp(settings.log_filename, "HISTORY.TXT") == 0);
    FUZZ_CHECK(std::strcmp(settings.hst_filename, "HISTORY.HTM") == 0);
    FUZZ_CHECK(settings.flg_hst_file == 1 && settings.flg_hst_mode == 9);
  }

  // The last plain result is the domain, in lower case.
  FUZZ_CHECK(fuzz::terminated(settings.domain_only, TEXT_SIZE));
  std::string domain;
  bool any_plain = false;
  for (const result &res : results) {
    if (res.kind != 0) continue;
    any_plain = true;
    domain = res.text;
  }
  for (char &ch : domain)
    if (ch >= 'A' && ch <= 'Z') ch = static_cast<char>(ch + 32);
  FUZZ_CHECK(settings.flg_dom_only == (any_plain ? 1 : 0));
  FUZZ_CHECK(domain == settings.domain_only);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  fuzz::silence_stdout();
  fuzz::no_keyboard();
  folder = fuzz::scratch();
  if (::chdir(folder.c_str()) != 0) std::abort();
  ::mkdir("SUB", 0755);
  ::mkdir(".dotdir", 0755);
  const char *files[] = {"A.DAT",   "b.dat",     "readme.txt",
                         ".hidden", "SUB/x.dat", "SUB/Y.TXT"};
  for (const char *f : files) fuzz::write_file(f, std::string("x"));
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (folder.empty()) LLVMFuzzerInitialize(nullptr, nullptr);
  std::vector<std::string> args(1);
  for (size_t i = 0; i < size; i++) {
    if (data[i] == '\0') {
      if (args.size() == MAX_ARGS) break;
      args.emplace_back();
    } else {
      args.back().push_back(static_cast<char>(data[i]));
    }
  }
  for (size_t i = 1; i < args.size(); i++)
    if (is_pattern(args[i])) confine(&args[i]);
  std::vector<char *> argv;
  for (std::string &a : args) argv.push_back(&a[0]);
  argv.push_back(nullptr);
  const int argc = static_cast<int>(args.size());

  FUZZ_CHECK(arg_init(argc, argv.data()) == (argc == 1 ? -1 : 0));
  FUZZ_CHECK(fuzz::terminated(prog_directory, ARG_SIZE));
  std::vector<result> results = iterate(argc);
  check_results(args, results);
  check_cmdline(args, argv.data(), results);
  return 0;
}
