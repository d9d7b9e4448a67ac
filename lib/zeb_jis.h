// Character codes: JIS X 0208 to Shift-JIS.
#ifndef VELDOR_ZEB_JIS_H
#define VELDOR_ZEB_JIS_H

extern const char zeb_jis_version[];  // "ZEB_JIS 1.10"

// Maps a two-byte JIS code (first byte in bits 8-15) to Shift-JIS (first byte
// in bits 8-15 of the result). Pure arithmetic; malformed codes follow it too.
int jis_code_to_sjis(unsigned code);

#endif
