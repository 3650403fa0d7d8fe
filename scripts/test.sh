#!/usr/bin/env bash
# Builds everything from a clean tree and runs every test: first the normal
# build, then the AddressSanitizer + UndefinedBehaviorSanitizer build (with
# clang, which also builds and runs the fuzz target for a bounded time).
# Ends with CTest's summary.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

bash scripts/setup.sh

jobs=$(nproc)
echo "== normal build" >&2
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$jobs"

echo "== sanitizer build (ASan + UBSan, clang, fuzz target)" >&2
cmake -S . -B build-sanitize -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_CXX_COMPILER=clang++ -DCGNAT_SANITIZE=ON -DCGNAT_FUZZ=ON >/dev/null
cmake --build build-sanitize -j "$jobs"

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

status=0
echo "== tests, normal build" >&2
(cd build && ctest --output-on-failure -j 2) || status=1
echo "== tests, sanitizer build" >&2
(cd build-sanitize && ctest --output-on-failure -j 2) || status=1
exit $status
