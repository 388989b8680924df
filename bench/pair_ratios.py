#!/usr/bin/env python3
"""Times image_gen_header against the bare command it competes with, in
back-to-back pairs, and prints the median of the pairs' ratios: on a shared
machine, whose speed drifts between runs, a ratio taken within each pair is
steadier than a ratio of medians.

Usage: bench/pair_ratios.py path/to/image_gen_header [pairs] [other_image_gen_header]
  image_compress of a 4 MiB firmware-like image against xz -T1 --lzma2=dict=32KiB --check=crc32,
  image_copy of 256 MiB against cp; with a second tool, that one too, in the same pairs.
Works in /dev/shm where there is one.
"""
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

from firmware_like import firmware_like

tools = [os.path.realpath(t) for t in [sys.argv[1]] + sys.argv[3:4]]
pairs = int(sys.argv[2]) if len(sys.argv) > 2 else 21
work = tempfile.mkdtemp(dir="/dev/shm" if os.path.isdir("/dev/shm") else None)
os.chdir(work)


def run(command):
    start = time.perf_counter()
    subprocess.run(command, stdout=subprocess.DEVNULL, check=True)
    return time.perf_counter() - start


def compare(title, reference, mode, image):
    times = {"reference": []}
    times.update({tool: [] for tool in tools})
    for i in range(pairs):
        order = list(times) if i % 2 == 0 else list(reversed(times))
        for who in order:
            times[who].append(run(reference if who == "reference" else [who, image, mode]))
    print("%s: reference median %.1f ms" % (title, statistics.median(times["reference"]) * 1e3))
    for tool in tools:
        ratios = [a / b for a, b in zip(times[tool], times["reference"])]
        print("  %s: median %.1f ms, median pair ratio %.3f" % (tool, statistics.median(times[tool]) * 1e3,
                                                               statistics.median(ratios)))


try:
    firmware_like("small.bin", 4)
    compare("image_compress 4 MiB vs xz", ["xz", "-T1", "--lzma2=dict=32KiB", "--check=crc32", "-c", "small.bin"],
            "image_compress", "small.bin")
    firmware_like("big.bin", 256)
    compare("image_copy 256 MiB vs cp", ["cp", "big.bin", "copy.bin"], "image_copy", "big.bin")
finally:
    shutil.rmtree(work)
