#!/usr/bin/env bash
# Compares the codec's speed with libjpeg-turbo on the same pictures in the
# same run: our decoder against `djpeg -dct float`, our encoder against
# `cjpeg -dct float -sample 1x1` (the same 4:4:4 output our encoder writes).
# Every figure is the best of several runs, as wall-clock time and as CPU
# time (user + system), since the machine may be busy.
#
# Usage: bench/jpeg_compare.sh [build dir] [runs]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
runs=${2:-7}
bench="$build/bin/jpeg_bench"
if [ ! -x "$bench" ]; then
  echo "no $bench: build the target jpeg_bench first" >&2
  exit 1
fi
folder=$(mktemp -d)
trap 'rm -rf "$folder"' EXIT

VEILMARK_JPEG_BENCH_DIR="$folder" "$bench" --benchmark_repetitions="$runs" \
  --benchmark_out="$folder/ours.json" --benchmark_out_format=json >"$folder/bench.log" 2>&1

python3 - "$folder" "$runs" <<'PY'
import json, os, resource, subprocess, sys, time

folder, runs = sys.argv[1], int(sys.argv[2])

def best_of(command):
    """Best wall-clock and best CPU seconds of a command over several runs."""
    wall = cpu = float("inf")
    for _ in range(runs):
        before = resource.getrusage(resource.RUSAGE_CHILDREN)
        start = time.perf_counter()
        subprocess.run(command, check=True, stdout=subprocess.DEVNULL)
        elapsed = time.perf_counter() - start
        after = resource.getrusage(resource.RUSAGE_CHILDREN)
        used = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
        wall, cpu = min(wall, elapsed), min(cpu, used)
    return wall, cpu

ours = {}
for run in json.load(open(os.path.join(folder, "ours.json")))["benchmarks"]:
    if run.get("run_type") != "iteration":
        continue
    wall, cpu = run["real_time"] / 1000.0, run["cpu_time"] / 1000.0  # milliseconds
    name = run["run_name"].split("/process_time")[0].split("/real_time")[0]
    old = ours.get(name, (float("inf"), float("inf")))
    ours[name] = (min(old[0], wall), min(old[1], cpu))

pictures = {"photo-12mp": 4000 * 3000, "photo-vga": 640 * 480}
print(f"{'picture':<11} {'step':<16} {'ours MP/s':>16} {'libjpeg-turbo MP/s':>19} {'ratio (time)':>14}")
print(f"{'':<11} {'':<16} {'wall':>8}{'cpu':>8} {'wall':>11}{'cpu':>8} {'wall':>7}{'cpu':>7}")
for name, pixels in pictures.items():
    mp = pixels / 1e6
    djpeg = best_of(["djpeg", "-dct", "float", "-outfile", "/dev/null", os.path.join(folder, name + ".jpg")])
    cjpeg = best_of(["cjpeg", "-dct", "float", "-sample", "1x1", "-outfile", "/dev/null",
                     os.path.join(folder, name + ".ppm")])
    for step, key, theirs in (("decode (memory)", "DecodeMemory", djpeg), ("decode (file)", "DecodeFile", djpeg),
                              ("encode 4:4:4", "EncodeMemory", cjpeg)):
        mine = ours[f"{key}/{name}"]
        print(f"{name:<11} {step:<16} {mp / mine[0]:8.1f}{mp / mine[1]:8.1f} {mp / theirs[0]:11.1f}{mp / theirs[1]:8.1f}"
              f" {mine[0] / theirs[0]:6.2f}x{mine[1] / theirs[1]:6.2f}x")
print("ratio = our time / libjpeg-turbo's time. djpeg and cjpeg run as programs: their times include")
print("start-up and reading the input file; their output goes to /dev/null. Our encoder writes to memory")
print("and uses helper threads for large pictures: its CPU time counts all of them.")
PY
