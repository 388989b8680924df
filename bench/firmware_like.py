"""The benchmarks' raw image, shared by the timing scripts."""
import os


def firmware_like(name, mib):
    """Per MiB: 256 KiB of random bytes, then 768 KiB of decimal numbers; a label at 0x100."""
    numbers = "".join("%08d" % i for i in range(1, 98305)).encode()[: 768 << 10]
    with open(name, "wb") as f:
        for i in range(mib):
            random = bytearray(os.urandom(256 << 10))
            if i == 0:
                random[0x100:0x106] = b"bench\0"
            f.write(random)
            f.write(numbers)
