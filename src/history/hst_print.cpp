// The history page file: lines appended, the page head written into a new
// page, and a heading at the first line of every run.
#include <cstdarg>
#include <cstdio>

#include "lib/zeb_con.h"
#include "lib/zeb_dsk.h"
#include "platform/platform.h"
#include "src/history/history.h"
#include "src/settings/settings.h"

namespace {

enum { HST_LINE_SIZE = 2048, HST_MESSAGE_SIZE = TEXT_SIZE + 32 };

const char page_head[] =
    "<TITLE>History from TORVIK</TITLE>\n<H2>History from TORVIK</H2>\n"
    "<DL><P>\n";

// "</DL>\n<HR><DT><H3>変換時刻   %s</H3>\n<DL><P>\n"
const char run_heading[] =
    "</DL>\n<HR><DT><H3>\x95\xcf\x8a\xb7\x8e\x9e\x8d\x8f   %s</H3>\n<DL><P>\n";

// Writes the heading that opens this run's list, dated now.
void write_run_heading(FILE *page) {
  dos_datetime now = 0;
  dos_time_now(&now);
  char date_text[TEXT_SIZE];
  char time_text[TEXT_SIZE];
  std::snprintf(date_text, sizeof date_text, "%02u/%02u/%02u ",
                (dos_year_field(now) + 80) % 100, dos_month(now), dos_day(now));
  time_text[0] = '\0';
  if ((settings.flg_hst_date & 2) != 0)
    std::snprintf(time_text, sizeof time_text, "%02u:%02u:%02u", dos_hour(now),
                  dos_minute(now), dos_second(now));
  char date_time[2 * TEXT_SIZE];
  std::snprintf(date_time, sizeof date_time, "%s%s", date_text, time_text);
  std::fprintf(page, run_heading, date_time);
}

}  // namespace

void hst_print(const char *format, ...) {
  if (settings.flg_hst_file == 0) return;

  // A line too long for the buffer is cut; the lines of an entry never are.
  char line[HST_LINE_SIZE];
  va_list args;
  va_start(args, format);
  std::vsnprintf(line, sizeof line, format, args);
  va_end(args);

  if (settings.hst_stream == nullptr) {
    const int existed = file_exists(settings.hst_filename);
    FILE *page = plat_fopen(settings.hst_filename, "a");
    if (page == nullptr) {
      // The line is lost; the next line of the run tries again.
      char message[HST_MESSAGE_SIZE];
      std::snprintf(message, sizeof message, "file can't open '%s'.",
                    settings.hst_filename);
      line_print(message);
      return;
    }
    if (!existed) std::fputs(page_head, page);
    if ((settings.flg_hst_date & 3) != 0) write_run_heading(page);
    settings.hst_stream = page;
  }
  std::fputs(line, settings.hst_stream);
}
