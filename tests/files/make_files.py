#!/usr/bin/env python3
"""Makes the sample OTA files in this folder, without image_gen_header: the
header is laid out here byte by byte, the checksum computed here bit by bit,
and the xz streams come from the xz command. So a misreading that the packer
and the reader share cannot make these files agree with both.

Usage: tests/files/make_files.py   (writes the files beside itself)
"""
import os
import struct
import subprocess

HERE = os.path.dirname(os.path.abspath(__file__))
XZ = ["xz", "-T1", "--lzma2=dict=32KiB", "-c"]


def crc16_xmodem(data):
    crc = 0
    for byte in data:
        crc ^= byte << 8
        for _ in range(8):
            crc = ((crc << 1) ^ 0x1021) if crc & 0x8000 else crc << 1
            crc &= 0xFFFF
    return crc


def image(size, label):
    """Bytes 0..255 repeating, the label and its NUL at 0x100."""
    data = bytearray(i % 256 for i in range(size))
    text = label.encode() + b"\0"
    if size > 0x100:
        data[0x100:0x100 + len(text)] = text[: size - 0x100]
    return bytes(data)


def header(mode, payload, raw, label, magic=b"WIFI K7Q3 R2T9"):
    h = bytearray(b"\xff" * 128)
    h[0:len(magic) + 1] = magic + b"\0"
    text = label.encode() + b"\0"
    h[0x20:0x20 + len(text)] = text
    words = {
        0x40: 0 if mode == "flash_remapping" else 0xFFFFFFFF,  # remap_flag
        0x48: 0,                                               # zero_word
        0x4C: 0 if mode == "image_compress" else 0xFFFFFFFF,   # compress_flag
        0x50: len(payload),                                    # payload_size
        0x54: crc16_xmodem(payload),                           # payload_crc
        0x58: len(raw),                                        # image_size
        0x5C: crc16_xmodem(raw),                               # image_crc
        0x64: 0xA5A55A00 if mode == "flash_remapping" else 0xFFFFFFFF,  # remap_marker
    }
    for offset, value in words.items():
        struct.pack_into("<I", h, offset, value)
    return bytes(h)


def xz(raw, check="crc32"):
    return subprocess.run(XZ + ["--check=" + check], input=raw, stdout=subprocess.PIPE, check=True).stdout


def ota(mode, raw, label, payload=None, **kw):
    payload = raw if payload is None else payload
    return header(mode, payload, raw, label, **kw) + payload


def write(name, data):
    with open(os.path.join(HERE, name), "wb") as f:
        f.write(data)


raw = image(600, "corpus v1")
stream = xz(raw)
write("good-copy.ota.bin", ota("image_copy", raw, "corpus v1"))
write("good-remap.ota.bin", ota("flash_remapping", raw, "corpus v1"))
write("good-compress.ota.bin", ota("image_compress", raw, "corpus v1", stream))
write("good-empty.ota.bin", ota("image_copy", b"", ""))
write("bad-magic.ota.bin", ota("image_copy", raw, "corpus v1", magic=b"WIFI K7Q3 R2T8"))
flipped = bytearray(ota("image_copy", raw, "corpus v1"))
flipped[128 + 300] ^= 0x01
write("bad-payload-crc.ota.bin", bytes(flipped))
write("truncated.ota.bin", ota("image_copy", raw, "corpus v1")[:128 + 500])
write("bad-check.ota.bin", ota("image_compress", raw, "corpus v1", xz(raw, "crc64")))
both = bytearray(ota("flash_remapping", raw, "corpus v1"))
struct.pack_into("<I", both, 0x4C, 0)  # compress_flag set as well
write("both-flags.ota.bin", bytes(both))
write("short.ota.bin", ota("image_copy", raw, "corpus v1")[:100])
wrong_image = bytearray(ota("image_compress", raw, "corpus v1", stream))
struct.pack_into("<I", wrong_image, 0x58, len(raw) + 1)
write("bad-image-size.ota.bin", bytes(wrong_image))
write("bad-label.ota.bin", ota("image_compress", raw, "corpus v2", stream))
