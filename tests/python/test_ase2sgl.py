"""The Python module against the ase2sgl program and the bundle layout.

Run after building: PYTHONPATH=build/dev/python python3 -m pytest tests/python
ASE2SGL_EXE names the program to compare with (default build/dev/ase2sgl),
ASE2SGL_CORPUS the folder of real ASE files (default ../shared/corpus/ase),
SGLTOOL_EXE sgltool (default build/dev/tools/sgltool; its tests skip without it).
"""

import errno
import mmap
import os
import pathlib
import shutil
import struct
import subprocess

import numpy
import pytest

import ase2sgl

REPO = pathlib.Path(__file__).resolve().parents[2]
EXE = pathlib.Path(os.environ.get("ASE2SGL_EXE", REPO / "build" / "dev" / "ase2sgl"))
CORPUS = pathlib.Path(os.environ.get("ASE2SGL_CORPUS", REPO.parent / "shared" / "corpus" / "ase"))
SGLTOOL = pathlib.Path(os.environ.get("SGLTOOL_EXE", REPO / "build" / "dev" / "tools" / "sgltool"))
BOX = REPO / "examples" / "box.ase"


def corpus_files():
    if not CORPUS.is_dir():
        return [pytest.param(None, marks=pytest.mark.skip(reason=f"no corpus of real ASE files at {CORPUS}"))]
    return sorted(CORPUS.glob("*.ase"))


def program_output(source, tmp_path):
    output = tmp_path / "program.sgl"
    subprocess.run([str(EXE), str(source), str(output)], check=True, capture_output=True)
    return output.read_bytes()


def parse_bundle(data):
    """The layout as the format defines it, read with struct: (name, positions,
    normals, texcoords) per object, as flat tuples of floats."""
    (count,) = struct.unpack_from("<i", data, 0)
    at, objects = 4, []
    for _ in range(count):
        name = data[at : at + 255].split(b"\0", 1)[0]
        (n,) = struct.unpack_from("<i", data, at + 255)
        at += 259
        arrays = []
        for width in (3, 3, 2):
            arrays.append(struct.unpack_from(f"<{width * n}f", data, at))
            at += 4 * width * n
        objects.append((name, *arrays))
    assert at == len(data)
    return objects


@pytest.mark.parametrize("source", corpus_files(), ids=lambda p: p.name if p else "corpus")
def test_convert_writes_the_programs_bytes_and_read_bundle_reads_them_back(source, tmp_path):
    output = tmp_path / "module.sgl"
    assert ase2sgl.convert(source, output, check=False) == str(output)
    data = output.read_bytes()
    assert data == program_output(source, tmp_path)
    meshes = ase2sgl.read_bundle(output)
    expected = parse_bundle(data)
    assert [m.raw_name for m in meshes] == [e[0] for e in expected]
    for mesh, (_, positions, normals, texcoords) in zip(meshes, expected):
        for array, values, width in ((mesh.positions, positions, 3), (mesh.normals, normals, 3),
                                     (mesh.texcoords, texcoords, 2)):
            assert array.shape == (len(values) // width, width) and array.dtype == numpy.float32
            # Bit for bit: NaN and -0.0 included.
            assert array.tobytes() == numpy.array(values, dtype="<f4").tobytes()


def test_default_output_is_the_programs(tmp_path):
    shutil.copy(BOX, tmp_path / "box.ase")
    assert ase2sgl.convert(str(tmp_path / "box.ase")) == str(tmp_path / "box.sgl")
    assert ase2sgl.convert(bytes(tmp_path / "box.ase")) == bytes(tmp_path / "box.sgl")
    assert (tmp_path / "box.sgl").read_bytes() == program_output(BOX, tmp_path)


def refused_scene(tmp_path):
    path = tmp_path / "many.ase"
    path.write_bytes(BOX.read_bytes() * 5001)
    return path


@pytest.mark.parametrize(
    "arrange, failing_path, reason, error_number",
    [
        (lambda t: (t / "missing.ase", t / "out.sgl"), "input", "No such file or directory", errno.ENOENT),
        (lambda t: (t, t / "out.sgl"), "input", "Is a directory", errno.EISDIR),
        (lambda t: (BOX, t / "no" / "out.sgl"), "output", "No such file or directory", errno.ENOENT),
        (lambda t: (refused_scene(t), t / "out.sgl"), "input", "plus de 5000 objets", None),
    ],
    ids=["missing input", "folder as input", "missing output folder", "too many objects"],
)
def test_errors_carry_path_and_reason_and_leave_the_output_alone(arrange, failing_path, reason, error_number,
                                                                  tmp_path):
    source, output = arrange(tmp_path)
    if output.parent.is_dir():
        output.write_bytes(b"old bundle")
    with pytest.raises(ase2sgl.ConversionError) as caught:
        ase2sgl.convert(source, output)
    error = caught.value
    assert error.path == str(source if failing_path == "input" else output)
    assert error.reason.startswith(reason)
    assert error.errno == error_number
    assert str(error).startswith("impossible" if error_number else str(source))
    if output.parent.is_dir():
        assert output.read_bytes() == b"old bundle"


@pytest.mark.parametrize(
    "output_name, reason",
    [("scene.ase", "fichier ASE existant"), ("", "meme fichier que l'entree")],
    ids=["ASE file as output", "input as output"],
)
def test_outputs_that_would_lose_data_are_refused(output_name, reason, tmp_path):
    source = tmp_path / "box.sgl"  # a scene saved under its bundle's name: the default output is itself
    source.write_bytes(BOX.read_bytes())
    output = tmp_path / output_name if output_name else source
    if output_name:
        output.write_bytes(BOX.read_bytes())
    with pytest.raises(ase2sgl.ConversionError) as caught:
        ase2sgl.convert(source, output if output_name else None)
    assert (caught.value.path, caught.value.reason, caught.value.errno) == (str(output), reason, None)
    assert str(caught.value) == f"{output}: {reason}, sortie refusee"
    assert source.read_bytes() == output.read_bytes() == BOX.read_bytes()


def root_buffer(array):
    while isinstance(array.base, numpy.ndarray):
        array = array.base
    return array.base


def test_arrays_are_read_only_views_over_the_bytes(tmp_path):
    output = tmp_path / "box.sgl"
    ase2sgl.convert(BOX, output)
    data = output.read_bytes()
    for source in (data, bytearray(data), memoryview(data)):
        mesh = ase2sgl.read_bundle(source)[0]
        whole = numpy.frombuffer(source, dtype=numpy.uint8)
        for array, offset in ((mesh.positions, 259), (mesh.normals, 259 + 12 * len(mesh)),
                              (mesh.texcoords, 259 + 24 * len(mesh))):
            assert numpy.shares_memory(array, whole)
            assert array.__array_interface__["data"][0] == whole.__array_interface__["data"][0] + 4 + offset
            assert not array.flags.aligned  # the name field leaves them at odd offsets
            assert not array.flags.writeable  # a bytearray too
    from_file = ase2sgl.read_bundle(output)[0]
    root = root_buffer(from_file.positions)
    assert isinstance(getattr(root, "obj", root), mmap.mmap)
    assert not from_file.positions.flags.writeable
    with pytest.raises(ValueError):
        from_file.positions[0, 0] = 1.0


@pytest.mark.parametrize(
    "damage, reason, offset",
    [
        (lambda b: b"", "empty", 0),
        (lambda b: b[:-1], "past the end", 4 + 255),
        (lambda b: b + b"\0", "", None),
        (lambda b: struct.pack("<i", -1) + b[4:], "negative", 0),
        (lambda b: b[:4] + b"x" * 255 + b[259:], "zero", 4),
    ],
    ids=["empty", "cut short", "trailing byte", "negative count", "name without zero byte"],
)
def test_unsound_bundles_raise_bundle_error_with_the_offset(damage, reason, offset, tmp_path):
    output = tmp_path / "box.sgl"
    ase2sgl.convert(BOX, output)
    data = output.read_bytes()
    damaged = damage(data)
    with pytest.raises(ase2sgl.BundleError) as caught:
        ase2sgl.read_bundle(damaged)
    assert reason in caught.value.reason
    assert caught.value.offset == (len(data) if offset is None else offset)
    (tmp_path / "damaged.sgl").write_bytes(damaged)
    with pytest.raises(ase2sgl.BundleError):
        ase2sgl.read_bundle(tmp_path / "damaged.sgl")


def test_lint_lists_the_objects_the_program_writes_and_names_each_loss(tmp_path):
    if not CORPUS.is_dir():
        pytest.skip(f"no corpus of real ASE files at {CORPUS}")
    source = CORPUS / "a_camroll_child.ase"
    report = ase2sgl.lint(source)
    written = [name for name, *_ in parse_bundle(program_output(source, tmp_path))]
    assert [o["name"].encode() for o in report["objects"]] == written
    assert report["clean"] is False
    assert [f["kind"] for f in report["findings"] if f["severity"] == "loss"] == ["name-taken"]
    assert ase2sgl.lint(BOX)["clean"] is True
    with pytest.raises(OSError):
        ase2sgl.lint(tmp_path / "missing.ase")


@pytest.mark.parametrize("source", corpus_files(), ids=lambda p: p.name if p else "corpus")
def test_checked_convert_writes_the_programs_bytes_or_names_the_lost_mesh(source, tmp_path):
    output = tmp_path / "checked.sgl"
    report = ase2sgl.lint(source)
    if report["clean"] or report["refused"]:
        try:
            ase2sgl.convert(source, output)
        except ase2sgl.ConversionError:
            assert report["refused"]
            return
        assert output.read_bytes() == program_output(source, tmp_path)
        return
    with pytest.raises(ase2sgl.ConversionError) as caught:
        ase2sgl.convert(source, output)
    loss = next(f for f in report["findings"] if f["severity"] == "loss")
    assert caught.value.line == (loss["line"] or None)
    assert caught.value.reason == loss["message"]
    assert str(caught.value).startswith(f"{source}:{loss['line']}: " if loss["line"] else f"{source}: ")
    assert not output.exists()


@pytest.mark.parametrize("source", corpus_files(), ids=lambda p: p.name if p else "corpus")
def test_tolerant_convert_writes_sgltool_converts_bytes(source, tmp_path):
    if not SGLTOOL.is_file():
        pytest.skip(f"no sgltool at {SGLTOOL}")
    expected = tmp_path / "sgltool.sgl"
    done = subprocess.run([str(SGLTOOL), "convert", str(source), str(expected)], capture_output=True)
    output = tmp_path / "tolerant.sgl"
    if done.returncode != 0:
        with pytest.raises(ase2sgl.ConversionError):
            ase2sgl.convert(source, output, tolerant=True)
        return
    assert ase2sgl.convert(source, output, tolerant=True) == str(output)
    assert output.read_bytes() == expected.read_bytes()


def test_checked_convert_of_a_pipe_reads_it_once(tmp_path):
    fifo = tmp_path / "scene.ase"
    os.mkfifo(fifo)
    writer = subprocess.Popen(["sh", "-c", 'cat "$1" > "$2"', "sh", str(BOX), str(fifo)])
    ase2sgl.convert(fifo, tmp_path / "piped.sgl")
    writer.wait()
    assert (tmp_path / "piped.sgl").read_bytes() == program_output(BOX, tmp_path)


def test_public_names():
    assert sorted(ase2sgl.__all__) == sorted(["convert", "lint", "read_bundle", "Mesh", "ConversionError",
                                              "BundleError"])
    assert all(hasattr(ase2sgl, name) for name in ase2sgl.__all__)
