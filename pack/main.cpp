// image_gen_header INPUT MODE: packs a raw flash image into an OTA file.
#include "pack/pack.h"
#include "sys/process.h"

int main(int argc, char** argv) {
    process_setup(argc, argv);
    return pack_run(argc, argv);
}
