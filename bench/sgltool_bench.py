#!/usr/bin/env python3
"""Times `sgltool check` and `sgltool info` on a generated 1 GB bundle against
`cat FILE > /dev/null`, the cost of reading the same bytes once.

    cmake --preset release && cmake --build --preset release
    bench/sgltool_bench.py [--sgltool build/release/tools/sgltool] [--size-mb 1000] [--rounds 5]

The bundle (4000 objects of equal size, positions on a wavy grid, unit normals,
texture coordinates in 0..1) is written to a temporary folder and removed
afterwards. One warm-up read puts it in the page cache; then each round runs cat,
check and info one after the other. Figures are medians over the rounds; ratios
are medians of the ratios taken round by round.
"""
import argparse
import math
import os
import statistics
import struct
import subprocess
import tempfile
import time

OBJECTS = 4000


def record(index, vertices, payload):
    name = f"OBJECT{index:05d}".encode().ljust(255, b"\0")
    return name + struct.pack("<i", vertices) + payload


def payload(vertices):
    positions, normals, texcoords = [], [], []
    for v in range(vertices):
        x, y = v % 97, v // 97
        positions += [float(x), math.sin(x * 0.1) * math.cos(y * 0.1), float(y)]
        normals += [0.0, 1.0, 0.0]
        texcoords += [x / 97.0, (y % 97) / 97.0]
    return struct.pack(f"<{len(positions)}f", *positions) + struct.pack(f"<{len(normals)}f", *normals) + \
        struct.pack(f"<{len(texcoords)}f", *texcoords)


def write_bundle(path, size_mb):
    vertices = (size_mb * 1_000_000 // OBJECTS - 259) // 32 // 3 * 3
    data = payload(vertices)
    with open(path, "wb") as out:
        out.write(struct.pack("<i", OBJECTS))
        for i in range(OBJECTS):
            out.write(record(i, vertices, data))
    return os.path.getsize(path)


def timed(argv):
    start = time.perf_counter()
    subprocess.run(argv, check=True, stdout=subprocess.DEVNULL)
    return time.perf_counter() - start


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    parser = argparse.ArgumentParser()
    parser.add_argument("--sgltool", default=os.path.join(here, "..", "build", "release", "tools", "sgltool"))
    parser.add_argument("--size-mb", type=int, default=1000)
    parser.add_argument("--rounds", type=int, default=5)
    args = parser.parse_args()
    with tempfile.TemporaryDirectory(prefix="sgltool-bench-") as folder:
        path = os.path.join(folder, "big.sgl")
        size = write_bundle(path, args.size_mb)
        commands = {
            "cat": ["sh", "-c", f"cat '{path}' > /dev/null"],
            "check": [args.sgltool, "check", path],
            "info": [args.sgltool, "info", path],
        }
        timed(commands["cat"])  # into the page cache
        times = {name: [] for name in commands}
        for _ in range(args.rounds):
            for name, argv in commands.items():
                times[name].append(timed(argv))
        cat = times["cat"]
        print(f"bundle: {size / 1e6:.0f} MB, {OBJECTS} objects, {args.rounds} rounds, medians")
        for name in commands:
            median = statistics.median(times[name])
            ratio = statistics.median(t / c for t, c in zip(times[name], cat))
            print(f"  {name:6s} {median:7.3f} s  {size / median / 1e9:6.2f} GB/s  {ratio:6.2f} x cat")


if __name__ == "__main__":
    main()
