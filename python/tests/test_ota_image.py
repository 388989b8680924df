"""ota_image against the tools: the same files, the same reports, the
failures the tools report, any name, and threads at once. The tools' paths
come from the environment (OTA_IMAGE_GEN_HEADER, OTA_INFO), as CTest sets it."""

import json
import os
import subprocess
import sys
import threading
from pathlib import Path

import pytest

import ota_image

TOOL = os.environ["OTA_IMAGE_GEN_HEADER"]
INFO = os.environ["OTA_INFO"]
CORPUS = Path(__file__).resolve().parents[2] / "tests" / "files"


def image(size, label=b"py-test v1", seed=1):
    """A raw image of `size` bytes with `label` at 0x100."""
    data = bytearray((i * 7 + seed * 13 + (i >> 9)) & 0xFF for i in range(size))
    if size >= 0x100 + len(label) + 1:
        data[0x100:0x100 + len(label) + 1] = label + b"\0"
    return bytes(data)


def tool_json(*args):
    out = subprocess.run([INFO, "--json", *args], capture_output=True, check=False).stdout
    return [json.loads(line) for line in out.splitlines()]


@pytest.mark.parametrize("mode", ota_image.MODES)
def test_pack_makes_the_tools_file(tmp_path, mode):
    (tmp_path / "app.bin").write_bytes(image(300_000))
    result = ota_image.pack(tmp_path / "app.bin", mode, tmp_path / "lib.ota.bin")
    subprocess.run([TOOL, "-o", tmp_path / "tool.ota.bin", tmp_path / "app.bin", mode], check=True,
                   capture_output=True)
    assert (tmp_path / "lib.ota.bin").read_bytes() == (tmp_path / "tool.ota.bin").read_bytes()
    report = ota_image.verify(result.output)
    assert report.valid and report.mode == mode and report.label == "py-test v1"
    assert (result.image_size, result.image_crc) == (report.image_size, report.image_crc)
    assert (result.payload_size, result.payload_crc) == (report.payload_size, report.payload_crc)
    assert result.output == str(tmp_path / "lib.ota.bin") and result.warnings == []


def test_reports_are_the_tools_json_on_the_corpus():
    files = sorted(str(path) for path in CORPUS.glob("*.ota.bin"))
    assert len(files) >= 10
    for options, args in (({}, []), ({"max_size": 400, "sha256": True}, ["--max-size=400", "--sha256"])):
        expected = tool_json(*args, *files)
        assert [ota_image.verify(f, **options).to_dict() for f in files] == expected


def test_failures_raise_their_kind_with_the_tools_message(tmp_path, monkeypatch):
    (tmp_path / "app.bin").write_bytes(image(5000))
    (tmp_path / "dir.bin").mkdir()
    cases = [
        (ota_image.FileError, "missing.bin: No such file or directory",
         lambda: ota_image.pack(tmp_path / "missing.bin", "image_copy")),
        (ota_image.UsageError, "unknown mode", lambda: ota_image.pack(tmp_path / "app.bin", "image_zip")),
        (ota_image.UsageError, "is the input file",
         lambda: ota_image.pack(tmp_path / "app.bin", "image_copy", tmp_path / "app.bin")),
        (ota_image.UsageError, "is standard output", lambda: ota_image.pack(tmp_path / "app.bin", "image_copy", "-")),
        (ota_image.ReadError, "Is a directory", lambda: ota_image.pack(tmp_path / "dir.bin", "image_copy")),
        (ota_image.FileError, "cannot make it in", lambda: ota_image.pack(tmp_path / "app.bin", "image_copy",
                                                                           tmp_path / "no" / "such.ota.bin")),
        (ota_image.FileError, "No such file or directory", lambda: ota_image.verify(tmp_path / "missing.ota.bin")),
        (ota_image.InvalidFileError, "not extracted: the file has problems",
         lambda: ota_image.extract(CORPUS / "bad-payload-crc.ota.bin", tmp_path / "raw.bin")),
    ]
    for error, words, call in cases:
        with pytest.raises(error) as raised:
            call()
        assert words in raised.value.message and isinstance(raised.value, ota_image.OtaError)
    assert not (tmp_path / "raw.bin").exists()
    monkeypatch.setenv("PATH", str(tmp_path))  # no xz there
    with pytest.raises(ota_image.XzError, match="xz: not found on PATH"):
        ota_image.pack(tmp_path / "app.bin", "image_compress")
    assert sorted(os.listdir(tmp_path)) == ["app.bin", "dir.bin"]


def test_any_name_the_tools_take(tmp_path):
    raw = image(4000)
    folder = os.fsencode(tmp_path)
    for name in (b"odd\xff name.bin", b"line\nbreak.bin", "ünï cödé.bin".encode()):
        path = folder + b"/" + name
        with open(path, "wb") as f:
            f.write(raw)
        result = ota_image.pack(path, "image_copy")
        assert isinstance(result.output, bytes) and result.output == path[:-4] + b".ota.bin"
        as_str = os.fsdecode(result.output)
        report = ota_image.verify(as_str)
        assert report.valid and os.fsencode(report.file) == result.output
        assert report.to_dict() == tool_json(result.output)[0]
        ota_image.extract(Path(as_str), path + b".raw")
        with open(path + b".raw", "rb") as f:
            assert f.read() == raw


def test_two_threads_at_once(tmp_path):
    images = [image(2_000_000, seed=seed) for seed in (1, 2)]
    for n, data in enumerate(images):
        (tmp_path / ("app%d.bin" % n)).write_bytes(data)
    results, errors = {}, []

    def work(n):
        try:
            results[n] = ota_image.pack(tmp_path / ("app%d.bin" % n), "image_compress")
            results[n, "report"] = ota_image.verify(results[n].output, sha256=True)
        except Exception as e:  # reported below, with its thread
            errors.append((n, e))

    threads = [threading.Thread(target=work, args=(n,)) for n in (0, 1)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert errors == []
    for n in (0, 1):
        assert results[n, "report"].valid
        assert results[n, "report"].to_dict() == tool_json("--sha256", results[n].output)[0]


def test_the_release_manifest_example():
    script = Path(__file__).resolve().parents[2] / "examples" / "python" / "release_manifest.py"
    files = [str(CORPUS / "good-copy.ota.bin"), str(CORPUS / "bad-magic.ota.bin")]
    run = subprocess.run([sys.executable, script, "0x1000", *files], capture_output=True, text=True)
    manifest = json.loads(run.stdout)
    assert run.returncode == 1 and [entry["valid"] for entry in manifest] == [True, False]
    good = tool_json("--sha256", "--max-size=4096", files[0])[0]
    assert (manifest[0]["sha256"], manifest[0]["bytes_free"]) == (good["file_sha256"], good["bytes_free"])
