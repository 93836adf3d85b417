#!/usr/bin/env bash
# Compares the codec's speed in memory with libjpeg-turbo's in memory, on the
# same pictures in the same run: our jpeg_bench loops against tjbench, with
# libjpeg-turbo's SIMD code and without it (JSIMD_FORCENONE=1).
#
#   decode 4:2:0     DecodeMemory of cjpeg's quality-90 4:2:0 file   tjbench decompressing that file
#   carriers only    DecodeCarriers of the same file (reveal, info)   the same
#   encode 4:4:4     EncodeMemory of the pixels                       tjbench -subsamp 444 at quality 50
#                                                                      (the fixed tables our encoder writes)
#   transcode        TranscodeMemory (decode and encode together,     tjbench's decode time plus its
#                    as saving a picture does)                         encode time
#
# tjbench offers the integer transforms only (-accuratedct); ours are the
# direct sums in floating point. Ours are wall-clock rates with our helper
# threads (the CPU rates count every thread); tjbench runs on one thread.
# Whole commands against whole libjpeg-turbo processes: bench/cli_compare.sh.
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
if ! command -v tjbench >/dev/null 2>&1; then
  echo "no tjbench: install libjpeg-turbo-progs" >&2
  exit 1
fi
folder=$(mktemp -d)
trap 'rm -rf "$folder"' EXIT

VEILMARK_JPEG_BENCH_DIR="$folder" "$bench" --benchmark_repetitions="$runs" \
  --benchmark_out="$folder/ours.json" --benchmark_out_format=json >"$folder/bench.log" 2>&1

python3 - "$folder" "$runs" <<'PY'
import json, os, statistics, subprocess, sys

folder, runs = sys.argv[1], int(sys.argv[2])

ours = {}
for run in json.load(open(os.path.join(folder, "ours.json")))["benchmarks"]:
    if run.get("run_type") != "iteration":
        continue
    name = run["run_name"].split("/process_time")[0].split("/real_time")[0]
    ours.setdefault(name, []).append((run["real_time"] / 1000.0, run["cpu_time"] / 1000.0))
ours = {name: (statistics.median(w for w, _ in v), statistics.median(c for _, c in v)) for name, v in ours.items()}

def tjbench(arguments, simd):
    """Median megapixels per second of compression and decompression."""
    environment = dict(os.environ)
    if not simd:
        environment["JSIMD_FORCENONE"] = "1"
    compress, decompress = [], []
    for _ in range(runs):
        output = subprocess.run(["tjbench", *arguments, "-quiet", "-nowrite", "-accuratedct", "-benchtime", "1",
                                 "-warmup", "0.3"], env=environment, check=True, capture_output=True, text=True)
        fields = [line.split() for line in output.stdout.splitlines() if line.strip()][-1]
        compress.append(float(fields[-3]) if fields[-3] != "N/A" else 0.0)
        decompress.append(float(fields[-1]))
    return statistics.median(compress), statistics.median(decompress)

pictures = {"photo-12mp": 4000 * 3000, "photo-vga": 640 * 480}
print(f"{'picture':<11} {'step':<15} {'ours MP/s':>15} {'tjbench MP/s':>18} {'ratio (time)':>16}")
print(f"{'':<11} {'':<15} {'wall':>7}{'cpu':>8} {'SIMD':>9}{'no SIMD':>9} {'SIMD':>8}{'no SIMD':>8}")
for name, pixels in pictures.items():
    mp = pixels / 1e6
    jpeg, ppm = os.path.join(folder, name + ".jpg"), os.path.join(folder, name + ".ppm")
    theirs = {}
    for simd in (True, False):
        _, decode = tjbench([jpeg], simd)
        encode, _ = tjbench([ppm, "50", "-subsamp", "444"], simd)
        theirs[simd] = {"decode": decode, "encode": encode, "transcode": 1 / (1 / decode + 1 / encode)}
    for step, key, against in (("decode 4:2:0", "DecodeMemory", "decode"), ("carriers only", "DecodeCarriers", "decode"),
                               ("encode 4:4:4", "EncodeMemory", "encode"), ("transcode", "TranscodeMemory", "transcode")):
        wall, cpu = ours[f"{key}/{name}"]
        mine = mp / wall
        simd, plain = theirs[True][against], theirs[False][against]
        print(f"{name:<11} {step:<15} {mine:7.1f}{mp / cpu:8.1f} {simd:9.1f}{plain:9.1f} {simd / mine:7.2f}x{plain / mine:7.2f}x")
print("ratio = our time / libjpeg-turbo's time (their rate / ours), medians of the runs.")
PY
