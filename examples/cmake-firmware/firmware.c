/* A firmware's raw image, the way a device build makes one. */

/* What the device boots from: the first 0x100 bytes. */
__attribute__((section(".vectors"), used)) static const unsigned int vectors[64] = {0x20001000u, 0x00000201u};

/* The label the OTA header copies: a NUL-terminated string at 0x100 of the
   raw image, at most 31 bytes before its NUL. The linker script places it. */
__attribute__((section(".ota_label"), used)) static const char ota_label[32] = "wifi-app v2.3.1";

int app_main(void) { return 0; }
