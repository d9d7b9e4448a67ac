// The command line: switches over the profile's values, and the usage texts.
#include <cstring>

#include "lib/zeb_arg.h"
#include "lib/zeb_str.h"
#include "src/run/run.h"
#include "src/settings/settings.h"

// The name both usage texts show twice; usage texts never reach the log.
static const char *const usage_name = "PELKAR";

#define USAGE_BANNER \
  "\n%s - VELDOR  version 1.08  (C) 1997-1998 VELDOR developers"

void usage_print(void) {
  msg_console(USAGE_BANNER
              "\n\n    using : %s [options...] [url]\n"
              "\t-i    : not Intel data\n"
              "\t-v    : verbose not display\n"
              "\t-r    : result not display\n"
              "\t-k    : wait key press\n"
              "\t-?    : display help message\n\n",
              usage_name, usage_name);
}

void usage_debug(void) {
  msg_console(USAGE_BANNER
              "\n\n    using : %s [options...]\n"
              "\t-!    : debug1 mode  disp copy\n"
              "\t-!2   : debug2 mode  disp copy+conv+all\n"
              "\t-!3   : debug3 mode  disp copy+conv+all+detail\n"
              "\t-t    : test1  mode  proc read+conv\n"
              "\t-t2   : test2  mode  proc read+conv+copy\n"
              "\t-t3   : test3  mode  proc read+conv+copy(cgi skip)\n"
              "\t-t4   : test4  mode  proc read+conv+copy(dir skip)\n\n",
              usage_name, usage_name);
}

int cmdline_parse(int argc, char **argv) {
  if (arg_init(argc, argv) == -1) return 1;
  int result = 1;
  char arg[TEXT_SIZE];
  int kind;
  while ((kind = arg_next(arg)) != -1) {
    if (kind == 0) {
      settings.flg_dom_only = 1;
      string_copy(settings.domain_only, TEXT_SIZE, arg);
      for (char *p = settings.domain_only; *p; p++)
        if (*p >= 'A' && *p <= 'Z') *p = static_cast<char>(*p - 'A' + 'a');
      continue;
    }
    char letter = arg[0];
    if (letter >= 'A' && letter <= 'Z')
      letter = static_cast<char>(letter - 'A' + 'a');
    const char *rest = arg[0] ? arg + 1 : arg;
    switch (letter) {
      case '!':
        settings.flg_debug = *rest ? string_to_int(rest) : 1;
        break;
      case 't':
        settings.flg_test = *rest ? string_to_int(rest) : 1;
        break;
      case '?':
        result = 0;
        if (*rest == '?') usage_debug();
        break;
      case 'h':
        settings.flg_hst_only = 1;
        string_copy(settings.fat_filename, TEXT_SIZE,
                    *rest ? rest : "NETSCAPE.HST");
        string_copy(settings.log_filename, TEXT_SIZE, "HISTORY.TXT");
        string_copy(settings.hst_filename, TEXT_SIZE, "HISTORY.HTM");
        settings.flg_hst_file = 1;
        settings.flg_hst_mode = 9;
        break;
      case 'i':
        settings.flg_intel = 0;
        break;
      case 'k':
        settings.flg_wait_key = 1;
        break;
      case 'r':
        settings.flg_result = 0;
        break;
      case 'v':
        settings.flg_verbose = 0;
        break;
      default:
        break;
    }
  }
  return result;
}
