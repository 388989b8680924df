"""Pack raw flash images into OTA files, and verify and unpack OTA files.

The same code as the image_gen_header and ota_info tools, in-process: a file
packed here is the one the tool makes, byte for byte, and a report carries
the keys of ``ota_info --json``'s object as attributes.

Paths may be ``str``, ``bytes`` or ``os.PathLike``, any name the tools take;
a ``str`` holding names that are not UTF-8 uses Python's surrogate escapes,
as ``os.fsencode`` does. Failures raise a subclass of :class:`OtaError` with
the message the tool would print. The interpreter's lock is released while
files are read and written, so threads pack and verify in parallel.

Like the library under it, this module installs no signal handler: a process
killed while it packs may leave a hidden ``.NAME.XXXXXX`` file beside the
output.
"""

import os

from . import _ota_image

__all__ = [
    "MODES", "pack", "verify", "extract", "PackResult", "Report", "Computed",
    "OtaError", "UsageError", "FileError", "ReadError", "WriteError", "XzError",
    "OutOfMemory", "InvalidFileError",
]

MODES = ("image_copy", "image_compress", "flash_remapping")


class OtaError(Exception):
    """A call that failed. ``kind`` names the failure, ``message`` is the
    tool's message (``"app.bin: No such file or directory"``)."""

    kind = "error"

    def __init__(self, message):
        super().__init__(message)
        self.message = message


class UsageError(OtaError):
    """The call names no packing: an unknown mode, an output name that cannot
    be formed, the input as its own output."""
    kind = "usage"


class FileError(OtaError):
    """A file cannot be opened or made, or is no file to pack."""
    kind = "file"


class ReadError(OtaError):
    """A file cannot be read, or changed while it was read."""
    kind = "read"


class WriteError(OtaError):
    """The output cannot be written."""
    kind = "write"


class XzError(OtaError):
    """xz is missing, failed, or gave back a stream that is not the image."""
    kind = "xz"


class OutOfMemory(OtaError):
    """Memory ran out."""
    kind = "memory"


class InvalidFileError(OtaError):
    """extract: the OTA file has problems, so no image was given back.
    ``report`` says which."""
    kind = "invalid"

    def __init__(self, message, report=None):
        super().__init__(message)
        self.report = report


_ERRORS = {cls.kind: cls for cls in
           (UsageError, FileError, ReadError, WriteError, XzError, OutOfMemory, InvalidFileError)}


def _name(path):
    """A path as the bytes the file system has."""
    return os.fsencode(path)


def _call(result):
    value, kind, message = result
    if kind is not None:
        raise _ERRORS.get(kind, OtaError)(message)
    return value


class PackResult:
    """What :func:`pack` made: the values image_gen_header prints, where the
    file went, and the warnings it would have given."""

    __slots__ = ("output", "image_size", "image_crc", "payload_size", "payload_crc", "warnings")

    def __init__(self, output, image_size, image_crc, payload_size, payload_crc, warnings):
        self.output = output
        self.image_size = image_size
        self.image_crc = image_crc
        self.payload_size = payload_size
        self.payload_crc = payload_crc
        self.warnings = warnings

    def __repr__(self):
        return ("PackResult(output=%r, image_size=%d, image_crc=0x%x, payload_size=%d, payload_crc=0x%x)"
                % (self.output, self.image_size, self.image_crc, self.payload_size, self.payload_crc))


class Computed:
    """What the file itself gives: ``payload_size``, ``payload_crc``, and
    ``image_size`` and ``image_crc`` (``None`` when the image cannot be had)."""

    __slots__ = ("payload_size", "payload_crc", "image_size", "image_crc")

    def __init__(self, payload_size, payload_crc, image_size, image_crc):
        self.payload_size = payload_size
        self.payload_crc = payload_crc
        self.image_size = image_size
        self.image_crc = image_crc

    def to_dict(self):
        return {key: getattr(self, key) for key in self.__slots__}

    def __eq__(self, other):
        return isinstance(other, Computed) and self.to_dict() == other.to_dict()

    def __repr__(self):
        return "Computed(%s)" % ", ".join("%s=%r" % item for item in self.to_dict().items())


class Report:
    """One file's report, with the keys of ``ota_info --json`` as attributes:
    ``file``, ``valid``, ``mode``, ``magic``, ``label``, ``payload_size``,
    ``payload_crc``, ``image_size``, ``image_crc``, ``computed``,
    ``xz_check``, ``problems``, ``max_size``, ``bytes_free``,
    ``file_sha256``, ``image_sha256``, ``file_size``. ``file`` and ``label``
    are ``str`` as JSON gives them (a byte that is not UTF-8 as a surrogate
    escape: ``os.fsencode`` gives the bytes back)."""

    __slots__ = ("file", "valid", "mode", "magic", "label", "payload_size", "payload_crc", "image_size",
                 "image_crc", "computed", "xz_check", "problems", "max_size", "bytes_free", "file_sha256",
                 "image_sha256", "file_size")

    def __init__(self, fields):
        for key in self.__slots__:
            setattr(self, key, fields[key])

    @classmethod
    def _from_module(cls, fields):
        fields = dict(fields)
        fields["file"] = fields["file"].decode("utf-8", "surrogateescape")
        if fields["label"] is not None:
            fields["label"] = fields["label"].decode("utf-8", "surrogateescape")
        fields["computed"] = Computed(**fields["computed"])
        return cls(fields)

    def to_dict(self):
        """The report as ``json.loads`` reads ota_info's line for the file."""
        d = {key: getattr(self, key) for key in self.__slots__}
        d["computed"] = self.computed.to_dict()
        return d

    def __eq__(self, other):
        return isinstance(other, Report) and self.to_dict() == other.to_dict()

    def __repr__(self):
        return "Report(file=%r, valid=%r, mode=%r, problems=%r)" % (self.file, self.valid, self.mode, self.problems)


def pack(input, mode, output=None):
    """Packs the raw image ``input`` into an OTA file, as image_gen_header
    does, and returns a :class:`PackResult`. ``mode`` is one of
    :data:`MODES`; ``output`` is by default the input less its last four
    bytes, then ``.ota.bin``. The file appears whole or not at all."""
    if not isinstance(mode, str):
        raise TypeError("mode must be a str, one of %s" % ", ".join(MODES))
    given_bytes = isinstance(input, bytes)
    fields = _call(_ota_image.pack(_name(input), mode, None if output is None else _name(output)))
    out = fields["output"] if given_bytes else os.fsdecode(fields["output"])
    return PackResult(out, fields["image_size"], fields["image_crc"], fields["payload_size"],
                      fields["payload_crc"], fields["warnings"])


def verify(path, max_size=None, sha256=False):
    """Checks the OTA file ``path`` as ota_info does and returns its
    :class:`Report`, valid or not. ``max_size`` is the flash slot it must
    fit; ``sha256`` adds the digests of the file and of its image. As for
    ota_info, ``"-"`` is standard input (``"./-"`` a file of that name).
    Raises only when the file cannot be read."""
    return Report._from_module(_call(_ota_image.verify(_name(path), max_size, bool(sha256))))


def extract(path, raw):
    """Writes the raw image the OTA file ``path`` holds (decoded, for
    image_compress) to ``raw``, as ``ota_info --extract`` does, only when
    every check passes; returns the file's :class:`Report`. Raises
    :class:`InvalidFileError` for a file with problems."""
    name = _name(path)
    value, kind, message = _ota_image.extract(name, _name(raw))
    if kind == "invalid":
        raise InvalidFileError(message, verify(path))
    return Report._from_module(_call((value, kind, message)))
