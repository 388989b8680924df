#!/usr/bin/env python3
"""Times the Python package ota_image against the tools on the same files, in
back-to-back pairs (alternating which goes first), and prints the median of
the pairs' ratios (package / tool): packing a 4 MiB firmware-like image in
image_compress, verifying a 1 GiB OTA file, and two threads verifying two
such files against one thread verifying one.

Usage: PYTHONPATH=build/python bench/python_vs_tools.py BUILD_DIR [pairs]
Works in /dev/shm where there is one.
"""
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import threading
import time

import ota_image
from firmware_like import firmware_like

build = os.path.realpath(sys.argv[1])
pairs = int(sys.argv[2]) if len(sys.argv) > 2 else 11
tool = os.path.join(build, "image_gen_header")
info = os.path.join(build, "ota_info")
work = tempfile.mkdtemp(dir="/dev/shm" if os.path.isdir("/dev/shm") else None)
os.chdir(work)


def timed(call):
    start = time.perf_counter()
    call()
    return time.perf_counter() - start


def compare(title, package, reference):
    times = {"package": [], "tool": []}
    for i in range(pairs):
        for who in (["package", "tool"] if i % 2 == 0 else ["tool", "package"]):
            times[who].append(timed(package if who == "package" else reference))
    ratios = [a / b for a, b in zip(times["package"], times["tool"])]
    print("%s: package median %.1f ms, tool median %.1f ms, median pair ratio %.3f"
          % (title, statistics.median(times["package"]) * 1e3, statistics.median(times["tool"]) * 1e3,
             statistics.median(ratios)))


def run(command):
    subprocess.run(command, stdout=subprocess.DEVNULL, check=True)


try:
    firmware_like("small.bin", 4)
    compare("pack image_compress 4 MiB",
            lambda: ota_image.pack("small.bin", "image_compress", "lib.ota.bin"),
            lambda: run([tool, "-o", "tool.ota.bin", "small.bin", "image_compress"]))
    firmware_like("big.bin", 1024)
    run([tool, "-o", "big1.ota.bin", "big.bin", "image_copy"])
    os.remove("big.bin")
    shutil.copyfile("big1.ota.bin", "big2.ota.bin")
    compare("verify 1 GiB", lambda: ota_image.verify("big1.ota.bin"),
            lambda: run([info, "--json", "big1.ota.bin"]))

    def both():
        threads = [threading.Thread(target=ota_image.verify, args=(name,)) for name in ("big1.ota.bin", "big2.ota.bin")]
        for t in threads:
            t.start()
        for t in threads:
            t.join()

    compare("two threads verifying two 1 GiB files against one verifying one (ratio to one)", both,
            lambda: ota_image.verify("big1.ota.bin"))
finally:
    shutil.rmtree(work)
