// Console lines and profile access.
#ifndef VELDOR_ZEB_CON_H
#define VELDOR_ZEB_CON_H

extern const char zeb_con_version[];  // "ZEB_CON 1.22"

// Prints text to standard output (never to the log), then a line end when
// the text does not end with one, then one more line end.
void line_print(const char *text);

// Reads the value of key in section of the profile at path into value_out
// (at least 80 bytes), which is emptied first. Returns 1 when the key was
// found (its value may be empty), 0 when not (no file, section or key).
int profile_get(const char *path, const char *section, const char *key,
                char *value_out);

// Makes key in section of the profile at path hold value, creating the
// section and the file when missing. Nothing is written when the key already
// holds exactly this value. The profile is never left empty or half written:
// the new content is written completely beside it and then put in its place.
void profile_put(const char *path, const char *section, const char *key,
                 const char *value);

#endif
