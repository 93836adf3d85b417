#!/usr/bin/env bash
# Whole commands of veilmark-cli against the programs that do the same work,
# on large pictures made for the run: every figure is a whole process, from
# start to exit, including reading and writing the files.
#
#   hide JPEG    veilmark-cli hide      djpeg -dct float -pnm | cjpeg -dct float -sample 1x1 -quality 50
#                                       (the same decode, and an encode to the same 4:4:4 fixed tables)
#   reveal JPEG  veilmark-cli reveal    djpeg -scale 1/8 (the smallest decode libjpeg-turbo offers)
#   info JPEG    veilmark-cli info      djpeg -scale 1/8, identify
#   hide BMP     veilmark-cli hide      dd conv=fsync (a copy of the file, flushed as ours is)
#   reveal BMP   veilmark-cli reveal    cat
#   steghide embed / extract on the JPEG pictures, where steghide is installed.
#
# The commands run in interleaved rounds (each round runs every command once,
# in a rotating order) and the table shows medians, the ratio of the medians,
# and our peak memory (maximum resident set) per pixel.
#
# Usage: bench/cli_compare.sh [build dir] [rounds]
# VEILMARK_CLI_BENCH_DIR keeps the pictures in that folder between runs.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
rounds=${2:-9}
cli="$(pwd)/$build/bin/veilmark-cli"
for tool in "$cli" djpeg cjpeg convert identify dd; do
  if ! command -v "$tool" >/dev/null 2>&1; then
    echo "missing $tool (build veilmark-cli; install libjpeg-turbo-progs and imagemagick)" >&2
    exit 1
  fi
done
if [ -n "${VEILMARK_CLI_BENCH_DIR:-}" ]; then
  folder=$VEILMARK_CLI_BENCH_DIR
  mkdir -p "$folder"
else
  folder=$(mktemp -d)
  trap 'rm -rf "$folder"' EXIT
fi

# Photograph-like pictures: a plasma field, softened, with sensor-like grain,
# as cameras of 14.7 and 20 megapixels write them (4:2:0, quality 90).
make_photo() { # name width height
  if [ ! -s "$folder/$1.jpg" ]; then
    convert -size 1368x912 -seed 7 plasma:fractal -blur 0x1 -resize "$2x$3!" -attenuate 0.3 +noise Gaussian \
      "$folder/$1.ppm"
    cjpeg -quality 90 -outfile "$folder/$1.jpg" "$folder/$1.ppm"
    rm -f "$folder/$1.ppm"
  fi
}
make_photo photo-14.7mp 4700 3133
make_photo photo-20mp 5472 3648
if [ ! -s "$folder/bitmap-48mp.bmp" ]; then
  convert "$folder/photo-20mp.jpg" -resize '8000x6000!' -type truecolor "bmp3:$folder/bitmap-48mp.bmp"
fi
printf 'A message of a few words.\n' >"$folder/message.txt"
printf 'bench password\n' >"$folder/password.txt"
for picture in photo-14.7mp.jpg photo-20mp.jpg bitmap-48mp.bmp; do
  "$cli" hide "$folder/$picture" "$folder/hidden-$picture" --message-file "$folder/message.txt" \
    --password-file "$folder/password.txt"
done

python3 - "$folder" "$rounds" "$cli" <<'PY'
import os, shutil, statistics, subprocess, sys, time

folder, rounds, cli = sys.argv[1], int(sys.argv[2]), sys.argv[3]
path = lambda name: os.path.join(folder, name)
message, password = path("message.txt"), path("password.txt")
null = subprocess.DEVNULL

def run(command):
    """Wall seconds and peak resident kilobytes of one whole process."""
    start = time.perf_counter()
    process = subprocess.Popen(command, stdout=null, stderr=null, shell=isinstance(command, str))
    _, status, usage = os.wait4(process.pid, 0)
    elapsed = time.perf_counter() - start
    if os.waitstatus_to_exitcode(status) != 0:
        raise SystemExit(f"failed: {command}")
    return elapsed, usage.ru_maxrss

rows = []  # (label, pixels, ours command, [(their name, their command)])
for name, pixels in (("photo-14.7mp", 4700 * 3133), ("photo-20mp", 5472 * 3648)):
    source, hidden, out = path(name + ".jpg"), path("hidden-" + name + ".jpg"), path("out-" + name + ".jpg")
    steghide = path("steghide-" + name + ".jpg")
    hideRivals = [("djpeg|cjpeg q50 4:4:4",
                   f"djpeg -dct float -pnm {source} | cjpeg -dct float -sample 1x1 -quality 50 > {out}.turbo")]
    revealRivals = [("djpeg -scale 1/8", ["djpeg", "-scale", "1/8", "-outfile", "/dev/null", hidden])]
    if shutil.which("steghide"):
        embed = ["steghide", "embed", "-q", "-f", "-cf", source, "-ef", message, "-sf", steghide,
                 "-p", "bench password"]
        subprocess.run(embed, check=True, stdout=null, stderr=null)
        hideRivals.append(("steghide embed", embed))
        revealRivals.append(("steghide extract", ["steghide", "extract", "-q", "-f", "-sf", steghide,
                                                   "-xf", "/dev/null", "-p", "bench password"]))
    rows.append((f"hide {name}", pixels,
                 [cli, "hide", source, out, "--message-file", message, "--password-file", password], hideRivals))
    rows.append((f"reveal {name}", pixels, [cli, "reveal", hidden, "--password-file", password], revealRivals))
    rows.append((f"info {name}", pixels, [cli, "info", source],
                 [("djpeg -scale 1/8", ["djpeg", "-scale", "1/8", "-outfile", "/dev/null", source]),
                  ("identify", ["identify", source])]))
bitmap, hiddenBitmap = path("bitmap-48mp.bmp"), path("hidden-bitmap-48mp.bmp")
rows.append(("hide bitmap-48mp", 8000 * 6000,
             [cli, "hide", bitmap, path("out-bitmap.bmp"), "--message-file", message, "--password-file", password],
             [("dd conv=fsync", ["dd", f"if={bitmap}", f"of={path('dd-bitmap.bmp')}", "bs=1M", "conv=fsync",
                                 "status=none"])]))
rows.append(("reveal bitmap-48mp", 8000 * 6000, [cli, "reveal", hiddenBitmap, "--password-file", password],
             [("cat", f"cat {hiddenBitmap} > /dev/null")]))

commands = []
for label, _, ours, theirs in rows:
    commands.append((label, "ours", ours))
    commands.extend((label, name, command) for name, command in theirs)
times = {(label, who): [] for label, who, _ in commands}
memory = {}
print(f"load average before: {os.getloadavg()[0]:.2f}  rounds: {rounds}")
for round_number in range(rounds):
    shift = round_number % len(commands)
    for label, who, command in commands[shift:] + commands[:shift]:
        elapsed, peak = run(command)
        times[(label, who)].append(elapsed)
        if who == "ours":
            memory[label] = max(memory.get(label, 0), peak)
print(f"load average after: {os.getloadavg()[0]:.2f}")

print(f"{'command':<22} {'ours s':>8} {'MB':>6} {'B/px':>5}   {'against':<22} {'theirs s':>9} {'ratio':>6}")
for label, pixels, _, theirs in rows:
    mine = statistics.median(times[(label, "ours")])
    peak = memory[label] * 1024
    for index, (name, _) in enumerate(theirs):
        other = statistics.median(times[(label, name)])
        head = f"{label:<22} {mine:8.3f} {peak / 1e6:6.1f} {peak / pixels:5.2f}" if index == 0 else " " * 45
        print(f"{head}   {name:<22} {other:9.3f} {mine / other:5.2f}x")
print("ratio = median of our times / median of theirs; B/px = our peak resident memory per pixel.")
PY
