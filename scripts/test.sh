#!/usr/bin/env bash
# Sets everything up and runs every test: the normal build, then the whole
# suite again under AddressSanitizer and UndefinedBehaviorSanitizer, then the
# fuzz targets for a bounded time.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh

jobs=$(nproc)

echo "== format (clang-format, the repository's .clang-format)"
if ! git ls-files -z '*.cpp' '*.h' | xargs -0 clang-format --dry-run --Werror; then
  echo "Some files differ from the project's format: run clang-format -i on them." >&2
  exit 1
fi
export QT_QPA_PLATFORM=offscreen

echo "== layers (no two folders include each other)"
python3 scripts/check_layers.py

echo "== build (release with debug info)"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVEILMARK_BUILD_BENCH=ON -DVEILMARK_WERROR=ON >/dev/null
cmake --build build -j "$jobs"
echo "== tests"
ctest --test-dir build --output-on-failure -j "$jobs" --timeout 300

echo "== build (address + undefined sanitizers)"
cmake -S . -B build-sanitize -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVEILMARK_SANITIZE=ON \
  -DVEILMARK_BUILD_BENCH=OFF -DVEILMARK_WERROR=ON >/dev/null
cmake --build build-sanitize -j "$jobs"
echo "== tests under sanitizers"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build-sanitize --output-on-failure -j "$jobs" --timeout 600 -LE fuzz

echo "== fuzz targets (clang, libFuzzer, bounded time)"
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVEILMARK_BUILD_FUZZ=ON -DVEILMARK_BUILD_GUI=OFF -DVEILMARK_BUILD_BENCH=OFF -DVEILMARK_WERROR=ON >/dev/null
cmake --build build-fuzz -j "$jobs"
ctest --test-dir build-fuzz --output-on-failure -j "$jobs" -L fuzz --timeout 900
