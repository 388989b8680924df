import os
from typing import List, Optional, Tuple, Union

_Path = Union[str, bytes, "os.PathLike[str]", "os.PathLike[bytes]"]

MODES: Tuple[str, str, str]

class OtaError(Exception):
    kind: str
    message: str
    def __init__(self, message: str) -> None: ...

class UsageError(OtaError): ...
class FileError(OtaError): ...
class ReadError(OtaError): ...
class WriteError(OtaError): ...
class XzError(OtaError): ...
class OutOfMemory(OtaError): ...

class InvalidFileError(OtaError):
    report: Optional["Report"]
    def __init__(self, message: str, report: Optional["Report"] = ...) -> None: ...

class PackResult:
    output: Union[str, bytes]
    image_size: int
    image_crc: int
    payload_size: int
    payload_crc: int
    warnings: List[str]

class Computed:
    payload_size: int
    payload_crc: int
    image_size: Optional[int]
    image_crc: Optional[int]
    def to_dict(self) -> dict: ...

class Report:
    file: str
    valid: bool
    mode: str
    magic: Optional[str]
    label: Optional[str]
    payload_size: Optional[int]
    payload_crc: Optional[int]
    image_size: Optional[int]
    image_crc: Optional[int]
    computed: Computed
    xz_check: Optional[str]
    problems: List[str]
    max_size: Optional[int]
    bytes_free: Optional[int]
    file_sha256: Optional[str]
    image_sha256: Optional[str]
    file_size: int
    def to_dict(self) -> dict: ...

def pack(input: _Path, mode: str, output: Optional[_Path] = ...) -> PackResult: ...
def verify(path: _Path, max_size: Optional[int] = ..., sha256: bool = ...) -> Report: ...
def extract(path: _Path, raw: _Path) -> Report: ...
