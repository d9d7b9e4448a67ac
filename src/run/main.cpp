#include "src/run/run.h"

int main(int argc, char **argv) { return veldor_main(argc, argv); }
