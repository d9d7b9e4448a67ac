// Loading the settings from the profile, and their debug dump.
#ifndef VELDOR_PROFILE_LOAD_H
#define VELDOR_PROFILE_LOAD_H

// Fills settings and domain_table from the profile beside the program.
void settings_load(int argc, char **argv);
// Prints the settings through msg_trace when flg_debug is not 0.
void settings_dump(void);

#endif
