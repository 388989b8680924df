#!/usr/bin/env python3
"""Times ota_info on a 1 GiB OTA file (image_copy) against another build of
it, and ota_info --sha256 against sha256sum of the same file, in
back-to-back pairs (alternating order), and prints the median of the pairs'
ratios. Works in /dev/shm where there is one.

Usage: bench/info_pair_ratios.py path/to/ota_info path/to/other/ota_info [pairs]
  The OTA file is packed with the image_gen_header beside the first ota_info.
"""
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

new, old = (os.path.realpath(t) for t in sys.argv[1:3])
pairs = int(sys.argv[3]) if len(sys.argv) > 3 else 15
work = tempfile.mkdtemp(dir="/dev/shm" if os.path.isdir("/dev/shm") else None)
os.chdir(work)


def run(command):
    start = time.perf_counter()
    subprocess.run(command, stdout=subprocess.DEVNULL, check=True)
    return time.perf_counter() - start


def compare(title, first, second):
    a, b = [], []
    for i in range(pairs):
        order = [(first, a), (second, b)] if i % 2 == 0 else [(second, b), (first, a)]
        for command, times in order:
            times.append(run(command))
    ratios = [x / y for x, y in zip(a, b)]
    print("%s: %.1f ms vs %.1f ms (medians), median pair ratio %.3f" %
          (title, statistics.median(a) * 1e3, statistics.median(b) * 1e3, statistics.median(ratios)))


try:
    with open("big.bin", "wb") as f:
        for _ in range(1024):
            f.write(os.urandom(1 << 20))
    subprocess.run([os.path.join(os.path.dirname(new), "image_gen_header"), "big.bin", "image_copy"],
                   stdout=subprocess.DEVNULL, check=True)
    os.remove("big.bin")
    compare("ota_info 1 GiB, this build vs the other", [new, "big.ota.bin"], [old, "big.ota.bin"])
    compare("ota_info --sha256 1 GiB vs sha256sum", [new, "--sha256", "big.ota.bin"], ["sha256sum", "big.ota.bin"])
finally:
    shutil.rmtree(work)
