// The packing run of image_gen_header: raw image in, OTA file out.
#pragma once

// Runs `image_gen_header [-o OUTPUT] INPUT MODE [ignored...]` and returns
// main's status: 0, or 255 on every failure, which prints its line last.
int pack_run(int argc, char** argv);
