// The history page: the lines of a copied entry and the page file.
#ifndef VELDOR_HISTORY_H
#define VELDOR_HISTORY_H

// Writes the history lines of an entry as the settings ask.
void hst_entry(const char *url, const char *url_filename,
               const char *out_filename);

// Appends one formatted line to the history page, opening it (and writing
// its head and the run's heading) at the run's first line.
void hst_print(const char *format, ...) __attribute__((format(printf, 1, 2)));

// Escapes a label for the page: "<" and ">" become "&lt;" and "&gt;".
// out has size bytes; the result is cut to fit. 
void hst_escape_label(const char *text, char *out, unsigned size);
// Escapes a link target: '"' becomes "%22". out has size bytes; cut to fit.
void hst_escape_href(const char *text, char *out, unsigned size);

#endif
