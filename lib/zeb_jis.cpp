// Character codes: JIS X 0208 to Shift-JIS by arithmetic, no table.
#include "lib/zeb_jis.h"

#include <cstdint>

const char zeb_jis_version[] = "ZEB_JIS 1.10";

int jis_code_to_sjis(unsigned code) {
  uint32_t hi = (code >> 8) & 0xFF;
  uint32_t lo = code & 0xFF;
  // Unsigned arithmetic throughout: malformed codes (hi 0) wrap instead of
  // overflowing, and the caller takes only the two low bytes.
  uint32_t s1 = ((hi - 1) >> 1) + (hi <= 0x5E ? 0x71 : 0xB1);
  uint32_t s2;
  if (hi & 1) {
    s2 = lo + 0x1F;
    if (s2 >= 0x7F) s2++;  // 7F is no trail byte of Shift-JIS
  } else {
    s2 = lo + 0x7E;
  }
  return static_cast<int>(((s1 << 8) | s2) & 0x7FFFFFFFu);
}
