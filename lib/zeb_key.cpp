// Keyboard checks for the Escape key.
#include "lib/zeb_key.h"

#include "platform/platform.h"

const char zeb_key_version[] = "ZEB_KEY 1.03";

enum { KEY_ESCAPE = 27 };

int key_escape(void) {
  if (!plat_key_waiting()) return 0;
  // Any other key is consumed and lost, one code per check.
  return plat_key_read() == KEY_ESCAPE ? KEY_ESCAPE : 0;
}

int key_wait(void) { return plat_key_read() == KEY_ESCAPE ? KEY_ESCAPE : 0; }
