// The argument iterator: switches and plain arguments, wildcards expanded.
#ifndef VELDOR_ZEB_ARG_H
#define VELDOR_ZEB_ARG_H

extern const char zeb_arg_version[];  // "ZEB_ARG 1.12"

// The directory part of the program path; "." for a program started by its
// bare name. Set by arg_init.
extern char prog_directory[260];

// Starts an iteration over argv (argv[0] the program path). Returns -1 when
// argc is 1 (no argument), else 0.
int arg_init(int argc, char **argv);

// The next argument into buf (260 bytes; longer arguments are cut to 259).
// Returns 1 a switch (buf: the text after "-" or "/"), 0 a plain argument
// (buf: the argument or its next wildcard match), -1 none left (buf unchanged).
int arg_next(char *buf);

#endif
