# SPDX-License-Identifier: MIT
"""ase2sgl for pipeline scripts: convert ASE scenes, read mesh bundles.

    import ase2sgl
    ase2sgl.convert("scene.ase")                 # writes scene.sgl, returns its path
    for mesh in ase2sgl.read_bundle("scene.sgl"):
        print(mesh.name, mesh.positions.shape)   # (n, 3) float32 views, n = 3 per triangle

convert() runs the same conversion as the ase2sgl program, in this process, and
releases the GIL while it runs, so threads can convert files side by side. It
first asks lint whether every mesh of the file becomes an object of its own, and
raises ConversionError naming the line and the reason when one would be lost
(check=False converts anyway; tolerant=True reads every exporter's layout).
"""

import json
import mmap
import os
import stat

__all__ = ["convert", "lint", "read_bundle", "Mesh", "ConversionError", "BundleError"]


class ConversionError(Exception):
    """A conversion failed. path: the file concerned (input or output), reason:
    why (the system's message for a file operation), errno: the error number of a
    failed file operation, else None; line: the line of the input at fault when
    the check before converting stopped it, else None. str() gives the converter's
    own line, or "path:line: reason" for the check."""

    def __init__(self, path, reason, errno=None, message=None, line=None):
        self.path = os.fsdecode(path)
        self.reason = os.fsdecode(reason)
        self.errno = errno
        self.line = line
        super().__init__(os.fsdecode(message) if message else f"{self.path}: {self.reason}")


class BundleError(ValueError):
    """Bytes that are not a sound mesh bundle. reason: what is wrong, offset: the
    byte where the file stops making sense, object: the record concerned or -1."""

    def __init__(self, source, reason, offset, object_index):
        self.source, self.reason, self.offset, self.object = source, reason, offset, object_index
        where = f" (object {object_index})" if object_index >= 0 else ""
        super().__init__(f"{source}: {reason} at byte {offset}{where}")


from . import _ase2sgl  # noqa: E402  (the exceptions above must exist first)


def convert(input, output=None, *, check=True, tolerant=False):
    """Converts the ASE file `input` into the bundle `output` and returns its path.
    Without `output` the bundle goes next to the input, as with the ase2sgl
    program: the input path with its last three bytes replaced by "sgl". The
    output appears only once complete; on failure nothing is written there and
    ConversionError is raised.

    check (default): lint reads the file first; when a mesh of it would not become
    an object of its own (another exporter's layout, UTF-16 text), ConversionError
    names the line and the reason and nothing is written. The bytes written when
    the check passes are the converter's. check=False converts whatever the
    converter makes of the file. tolerant=True converts as `sgltool convert` does:
    the tolerant reader rewrites any exporter's layout first (check does not apply)."""
    output_path = os.fsencode(output) if output is not None else b""
    name = os.fsencode(input)
    if tolerant:
        written = _ase2sgl.convert_bytes(_read_input(input), name, output_path, True)
    elif check and _is_stream(input):
        # A pipe is read once: the same bytes are checked and converted.
        data = _read_input(input)
        _raise_loss(input, _lint_bytes(data, input))
        written = _ase2sgl.convert_bytes(data, name, output_path, False)
    else:
        if check:
            try:
                with open(input, "rb") as source:
                    data = source.read()
            except OSError:
                data = None  # the converter reports it, in its own words
            if data is not None:
                _raise_loss(input, _lint_bytes(data, input))
        written = _ase2sgl.convert(name, output_path)
    return written if isinstance(input, bytes) else os.fsdecode(written)


def _is_stream(path):
    """A pipe, FIFO or character device: its bytes can be read only once."""
    try:
        mode = os.stat(path).st_mode
    except OSError:
        return False  # the converter reports it
    return stat.S_ISFIFO(mode) or stat.S_ISCHR(mode) or stat.S_ISSOCK(mode)


def _read_input(path):
    try:
        with open(path, "rb") as source:
            return source.read()
    except OSError as error:
        raise ConversionError(path, error.strerror, error.errno) from error


def _raise_loss(path, report):
    """ConversionError for the first mesh lint says would be lost, if any."""
    if report["clean"]:
        return
    if report["refused"]:
        return  # the converter refuses it with its own message
    losses = [finding for finding in report["findings"] if finding["severity"] == "loss"]
    line = losses[0]["line"] if losses else 0
    reason = losses[0]["message"] if losses else "not every mesh becomes an object of its own"
    where = f"{os.fsdecode(path)}:{line}" if line else os.fsdecode(path)
    raise ConversionError(path, reason, None, f"{where}: {reason}", line or None)


def _lint_bytes(data, path):
    return json.loads(_ase2sgl.lint(data, os.fsdecode(path)))


def lint(path):
    """What the ase2sgl program will do with the ASE file at `path`, and why, as
    `sgltool lint --json` tells it: a dict with "objects" (the bundle's objects:
    name, vertices, triangles, line range), "findings" (severity "loss", "warning"
    or "note", kind, line, message) and "clean" (every mesh becomes an object of
    its own under its own name). OSError when the file cannot be read."""
    with open(path, "rb") as source:
        return _lint_bytes(source.read(), path)


class Mesh:
    """One object of a bundle: name (str; raw_name: the stored bytes), and the
    NumPy arrays positions (n x 3), normals (n x 3), texcoords (n x 2), float32.
    Vertices 3f, 3f+1, 3f+2 are the corners of triangle f."""

    __slots__ = ("raw_name", "name", "positions", "normals", "texcoords")

    def __init__(self, raw_name, positions, normals, texcoords):
        self.raw_name = raw_name
        self.name = raw_name.decode("utf-8", "surrogateescape")
        self.positions, self.normals, self.texcoords = positions, normals, texcoords

    def __len__(self):
        return len(self.positions)

    def __repr__(self):
        return f"Mesh({self.name!r}, {len(self)} vertices)"


def read_bundle(path_or_bytes):
    """Reads a bundle from a path, or from bytes already in memory (bytes,
    bytearray, memoryview, mmap), and returns its meshes as a list of Mesh.

    The arrays are read-only views over the bundle's bytes, not copies: over the
    given object, or over a read-only memory map of the file. They are in general
    not 4-byte aligned (the 255-byte name field shifts them), which NumPy handles;
    call numpy.ascontiguousarray(a) or a.copy() for an aligned copy of your own.
    The only copy made here is of a file that cannot be mapped (an empty file).
    Raises BundleError for bytes that are not a sound bundle."""
    import numpy

    if isinstance(path_or_bytes, (str, os.PathLike)):
        source = os.fspath(path_or_bytes)
        with open(source, "rb") as file:
            size = os.fstat(file.fileno()).st_size
            data = mmap.mmap(file.fileno(), 0, access=mmap.ACCESS_READ) if size > 0 else file.read()
    else:
        source, data = "<bytes>", path_or_bytes
    result = _ase2sgl.layout(data)
    if not result[0]:
        raise BundleError(source, result[1], result[2], result[3])
    buffer = memoryview(data).cast("B")
    meshes = []
    for raw_name, count, offset in result[1]:

        def view(start, width):
            array = numpy.ndarray((count, width), dtype="<f4", buffer=buffer, offset=start)
            array.flags.writeable = False  # also over a writable buffer (bytearray)
            return array

        meshes.append(Mesh(raw_name, view(offset, 3), view(offset + 12 * count, 3), view(offset + 24 * count, 2)))
    return meshes
