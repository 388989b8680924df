#!/usr/bin/env python3
"""release_manifest.py SLOT_SIZE FILE...: a release manifest of OTA files as
JSON on standard output: each file's size, how full its flash slot is, and
the digests of the file and of its image. Exits 1 if any file is invalid."""

import json
import sys

import ota_image

slot = int(sys.argv[1], 0)
reports = [ota_image.verify(path, max_size=slot, sha256=True) for path in sys.argv[2:]]
json.dump([{"file": r.file, "size": r.file_size, "slot_used": round(r.file_size / slot, 4),
            "bytes_free": r.bytes_free, "sha256": r.file_sha256, "image_sha256": r.image_sha256,
            "valid": r.valid, "problems": r.problems} for r in reports], sys.stdout, indent=2)
print()
sys.exit(0 if all(r.valid for r in reports) else 1)
