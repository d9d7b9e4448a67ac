// Keyboard checks for the Escape key.
#ifndef VELDOR_ZEB_KEY_H
#define VELDOR_ZEB_KEY_H

extern const char zeb_key_version[];  // "ZEB_KEY 1.03"

// 27 when a key press was waiting and it was Escape; 0 when it was another
// key (consumed) or when none was waiting.
int key_escape(void);

// Waits for one key press: 27 for Escape, 0 for any other key.
int key_wait(void);

#endif
