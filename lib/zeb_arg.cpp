// The argument iterator: switches and plain arguments, wildcards expanded
// into the matching directory entries.
#include "lib/zeb_arg.h"

#include <cstring>

#include "lib/zeb_dsk.h"
#include "lib/zeb_str.h"

const char zeb_arg_version[] = "ZEB_ARG 1.12";

enum { ARG_SIZE = 260 };

char prog_directory[ARG_SIZE];

// The one iteration of the process; index 0 means none is under way.
static struct {
  int count;
  char **vector;
  int index;
  char match[ARG_SIZE];  // the current wildcard match
} args;

int arg_init(int argc, char **argv) {
  args.count = argc;
  args.vector = argv;
  args.index = 1;
  const char *program = (argc > 0 && argv != NULL) ? argv[0] : NULL;
  // A program started by its bare name lives in the current directory.
  if (program == NULL || !path_dir_part(program, prog_directory))
    string_copy(prog_directory, ARG_SIZE, ".");
  return argc == 1 ? -1 : 0;
}

int arg_next(char *buf) {
  if (args.index == 0) return -1;
  for (;;) {
    if (args.index >= args.count) {
      args.index = 0;
      return -1;
    }
    const char *arg = args.vector[args.index];
    if (arg == NULL) arg = "";
    // Switches come first, so "-*" is never expanded.
    if (arg[0] == '-' || arg[0] == '/') {
      string_copy(buf, ARG_SIZE, arg + 1);
      args.index++;
      return 1;
    }
    if (std::strpbrk(arg, "?*") == NULL) {
      string_copy(buf, ARG_SIZE, arg);
      args.index++;
      return 0;
    }
    // The pattern is cut like every other argument; the same cut text is
    // asked for on every call, so the search goes on from entry to entry.
    char pattern[ARG_SIZE];
    string_copy(pattern, ARG_SIZE, arg);
    if (dir_search(pattern, args.match, 1) != -1) {
      string_copy(buf, ARG_SIZE, args.match);
      return 0;
    }
    // No entry (left): the pattern is passed over without a word.
    args.index++;
  }
}
