#!/usr/bin/env python3
"""Times the tolerant path (`sgltool convert`, `normalize`, `lint`) against
`ase2sgl` on the same generated ASE file, side by side, with each run's peak
memory (maximum resident set size) and processor time (user and system, summed
over its threads: on a machine shared with other work, it shows what a change
saves when wall times are disturbed).

    cmake -S . -B build/bench-tools -DCMAKE_BUILD_TYPE=Release -DASE2SGL_TESTS=OFF -DASE2SGL_BENCH=ON
    cmake --build build/bench-tools --target ase2sgl sgltool generate_ase
    bench/tolerant_bench.py --bin build/bench-tools [--size-mb 100] [--rounds 5] [--baseline OTHER/sgltool]

The file comes from bench's generate_ase (realistic layout) in a temporary
folder, removed afterwards. One warm-up run puts it in the page cache; then each
round runs every command once. Figures are medians over the rounds; ratios are
medians of the ratios to ase2sgl taken round by round. With --baseline, the
sgltool of another build runs beside this one (before/after figures). The load
average before and after the rounds is printed beside the figures, and the text
size of the file's largest mesh, against which peak memory is judged (goal: at
most 64 MiB above it, whatever the file's size).
"""
import argparse
import os
import statistics
import subprocess
import tempfile
import time


def run(command):
    """Wall time in seconds, peak resident memory in MiB and processor time (user and
    system, all threads) in seconds of one run."""
    start = time.perf_counter()
    process = subprocess.Popen(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    _, status, usage = os.wait4(process.pid, 0)
    elapsed = time.perf_counter() - start
    if os.waitstatus_to_exitcode(status) not in (0, 1):  # lint exits 1 for a file with losses
        raise SystemExit(f"{command[0]} failed: {' '.join(command)}")
    return elapsed, usage.ru_maxrss / 1024.0, usage.ru_utime + usage.ru_stime


def largest_mesh_mib(path):
    """The largest *GEOMOBJECT block of the file, in MiB of text."""
    with open(path, "rb") as file:
        data = file.read()
    starts = []
    at = data.find(b"*GEOMOBJECT")
    while at >= 0:
        starts.append(at)
        at = data.find(b"*GEOMOBJECT", at + 1)
    starts.append(len(data))
    return max((b - a for a, b in zip(starts, starts[1:])), default=0) / 2**20


def commands(tool, ase, work, label):
    return {
        f"{label} convert": [tool, "convert", ase, os.path.join(work, "convert.sgl")],
        f"{label} normalize": [tool, "normalize", ase, os.path.join(work, "normalized.ase")],
        f"{label} lint": [tool, "lint", ase],
    }


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--bin", default="build/bench-tools", help="build folder with ase2sgl, tools/sgltool, "
                        "bench/generate_ase")
    parser.add_argument("--baseline", help="another build's sgltool, run beside this one")
    parser.add_argument("--size-mb", type=int, default=100)
    parser.add_argument("--rounds", type=int, default=5)
    args = parser.parse_args()
    ase2sgl = os.path.join(args.bin, "ase2sgl")
    sgltool = os.path.join(args.bin, "tools", "sgltool")
    with tempfile.TemporaryDirectory() as work:
        ase = os.path.join(work, "scene.ase")
        subprocess.run([os.path.join(args.bin, "bench", "generate_ase"), "realistic", str(args.size_mb << 20), ase],
                       check=True, stdout=subprocess.DEVNULL)
        runs = {"ase2sgl": [ase2sgl, ase, os.path.join(work, "scene.sgl")]}
        runs.update(commands(sgltool, ase, work, "sgltool"))
        if args.baseline:
            runs.update(commands(args.baseline, ase, work, "baseline"))
        for command in runs.values():
            run(command)  # warm-up
        load_before = os.getloadavg()[0]
        times = {name: [] for name in runs}
        memory = {name: [] for name in runs}
        processor = {name: [] for name in runs}
        for _ in range(args.rounds):
            for name, command in runs.items():
                seconds, mib, cpu = run(command)
                times[name].append(seconds)
                memory[name].append(mib)
                processor[name].append(cpu)
        print(f"{os.path.getsize(ase) / 2**20:.0f} MiB of ASE (largest mesh {largest_mesh_mib(ase):.1f} MiB of text), "
              f"{args.rounds} rounds, medians; load average {load_before:.2f} before, {os.getloadavg()[0]:.2f} after")
        print(f"{'command':<20} {'seconds':>8} {'x ase2sgl':>10} {'MiB':>8} {'CPU s':>8}")
        for name in runs:
            ratio = statistics.median(t / a for t, a in zip(times[name], times["ase2sgl"]))
            print(f"{name:<20} {statistics.median(times[name]):8.3f} {ratio:10.1f} {statistics.median(memory[name]):8.0f}"
                  f" {statistics.median(processor[name]):8.3f}")


if __name__ == "__main__":
    main()
