#!/usr/bin/env bash
# Sets up, builds and runs every test: the normal build, the
# AddressSanitizer + UndefinedBehaviorSanitizer build, the thread tests under
# ThreadSanitizer, and a short run of each fuzz target.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/setup.sh
jobs=$(nproc)

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMALWERK_WERROR=ON -DMALWERK_TESTS=ON >/dev/null
cmake --build build
ctest --test-dir build --output-on-failure -j "$jobs"

cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DMALWERK_WERROR=ON -DMALWERK_SANITIZE=ON -DMALWERK_TESTS=ON >/dev/null
cmake --build build-asan
ASAN_OPTIONS=detect_leaks=1:allocator_may_return_null=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build-asan --output-on-failure -j "$jobs"

# The code that crosses threads (driver thread, key buffer, line input) once
# more under ThreadSanitizer.
cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DMALWERK_WERROR=ON -DMALWERK_TSAN=ON -DMALWERK_TESTS=ON >/dev/null
cmake --build build-tsan
TSAN_OPTIONS=halt_on_error=1 \
  ctest --test-dir build-tsan --output-on-failure -j "$jobs" -R 'X11|ProducerConsumer|Keys|Mouse|LineEdit'

# The fuzz targets build with clang and run briefly from their corpora, so
# that they keep working; long runs are done by hand (README).
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMALWERK_FUZZ=ON \
  -DMALWERK_TESTS=OFF >/dev/null
cmake --build build-fuzz
for target in bload lineedit draw; do
  corpus=()
  [ -d "fuzz/corpus/$target" ] && corpus=("fuzz/corpus/$target")
  scratch=$(mktemp -d)
  (cd "$scratch" && RIVEZ=null "$OLDPWD/build-fuzz/fuzz/${target}_fuzz" -max_total_time=20 -print_final_stats=0 \
    "$scratch" "${corpus[@]/#/$OLDPWD/}" >"$scratch.log" 2>&1) || { tail -n 40 "$scratch.log"; exit 1; }
  rm -rf "$scratch" "$scratch.log"
done
