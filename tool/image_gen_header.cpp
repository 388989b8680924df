// image_gen_header INPUT MODE: packs a raw flash image into an OTA file.
#include "tool/pack.h"

int main(int argc, char** argv) { return pack_run(argc, argv); }
