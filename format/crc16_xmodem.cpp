#include "format/crc16_xmodem.h"

uint16_t crc16_xmodem_update(uint16_t crc, const uint8_t* data, size_t len) {
    for (size_t i = 0; i < len; i++) {
        crc ^= static_cast<uint16_t>(data[i] << 8);
        for (int bit = 0; bit < 8; bit++) {
            crc = (crc & 0x8000) ? static_cast<uint16_t>((crc << 1) ^ 0x1021)
                                 : static_cast<uint16_t>(crc << 1);
        }
    }
    return crc;
}

uint16_t CRC16_XMODEM(const uint8_t* data, size_t len) {
    // Below a few blocks the kernel's set-up and final reduction cost more
    // than they save.
    if (len >= 64 && crc16_xmodem_clmul_available()) return crc16_xmodem_clmul(data, len);
    return crc16_xmodem_update(0, data, len);
}
