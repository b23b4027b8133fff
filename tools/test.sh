#!/usr/bin/env bash
# Sets up, builds and runs every test: the normal build with the layering
# check, the installed runtime with the examples and the Debian package, the
# AddressSanitizer + UndefinedBehaviorSanitizer build, the thread tests under
# ThreadSanitizer, and a short run of each fuzz target.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/setup.sh
jobs=$(nproc)

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMALWERK_WERROR=ON -DMALWERK_TESTS=ON >/dev/null
cmake --build build
ctest --test-dir build --output-on-failure -j "$jobs"
# The layering over the includes and the library's calls: no layer reaches
# up, no modules depend on each other in a circle (docs/ARCHITECTURE.md).
python3 tools/check_layers.py build

# The installed runtime: both examples built against a staged install, once
# through the CMake package and once through pkg-config; the picture the
# Null-driver example saves is checked pixel by pixel. Then the Debian
# package, which must hold the program, its data and the runtime.
stage=$(mktemp -d)
cmake --install build --prefix "$stage/prefix" >/dev/null
cmake -S examples -B "$stage/cmake" -G Ninja -DCMAKE_PREFIX_PATH="$stage/prefix" -DCMAKE_CXX_FLAGS="-Wall -Werror" >/dev/null
cmake --build "$stage/cmake" >/dev/null
mkdir "$stage/pc"
(cd "$stage/pc" && PKG_CONFIG_PATH="$stage/prefix/lib/pkgconfig" make -s -f "$OLDPWD/examples/Makefile" CXXFLAGS="-Wall -Werror")
for route in cmake pc; do
  (cd "$stage" && "$route/picture" "$route.bmp")
  python3 - "$stage/$route.bmp" <<'PY'
import struct, sys
d = open(sys.argv[1], 'rb').read()
assert d[:2] == b'BM', 'not a bitmap'
off, = struct.unpack_from('<I', d, 10)
w, h, planes, bits = struct.unpack_from('<iiHH', d, 18)
assert (w, h, bits) == (160, 120, 24), (w, h, bits)
def at(x, y):
    o = off + (h - 1 - y) * ((w * 3 + 3) & ~3) + 3 * x
    return d[o + 2] << 16 | d[o + 1] << 8 | d[o]
expected = {(2, 50): 0x2060D0, (120, 14): 0x2060D0, (104, 30): 0x2060D0,  # sky, just outside the sun
            (80, 100): 0x008D00, (120, 30): 0xFFD040, (120, 16): 0xFFD040,  # field, sun
            (20, 60): 0xFFFFFF, (60, 89): 0xFFFFFF, (40, 75): 0xCD0000, (61, 75): 0x2060D0}  # house
bad = {p: hex(at(*p)) for p, v in expected.items() if at(*p) != v}
assert not bad, f'{sys.argv[1]}: wrong pixels {bad}'
PY
done
cpack -G DEB --config build/CPackConfig.cmake -B "$stage/deb" >/dev/null
deb=$(echo "$stage"/deb/malwerk_*.deb)
dpkg-deb -f "$deb" Package Version Depends
dpkg-deb -c "$deb" | awk '{print $6}' >"$stage/contents"
for f in ./usr/bin/malwerk ./usr/share/malwerk/gfx/{1,2,3,4,5,6,7}.bmp ./usr/share/applications/malwerk.desktop \
  ./usr/share/man/man1/malwerk.1 \
  ./usr/share/icons/hicolor/scalable/apps/malwerk.svg ./usr/include/rkgfx/rkgfx.h ./usr/include/rkgfx/gfx/core/screen.h \
  ./usr/lib/librkgfx.a ./usr/lib/cmake/rkgfx/rkgfxConfig.cmake ./usr/lib/pkgconfig/rkgfx.pc; do
  grep -qx "$f" "$stage/contents" || { echo "$f missing from $deb"; exit 1; }
done
dpkg-deb -f "$deb" Depends | grep -q libx11-6 || { echo "$deb does not depend on libx11-6"; exit 1; }
grep -c '^./usr/include/rkgfx/.*\.h$' "$stage/contents" | xargs echo "headers in the package:"
rm -rf "$stage"

cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DMALWERK_WERROR=ON -DMALWERK_SANITIZE=ON -DMALWERK_TESTS=ON >/dev/null
cmake --build build-asan
ASAN_OPTIONS=detect_leaks=1:allocator_may_return_null=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build-asan --output-on-failure -j "$jobs"

# The code that crosses threads (driver thread, key buffer, line input,
# console keyboard, the paint program with its window thread) once more under
# ThreadSanitizer.
cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DMALWERK_WERROR=ON -DMALWERK_TSAN=ON -DMALWERK_TESTS=ON >/dev/null
cmake --build build-tsan
TSAN_OPTIONS=halt_on_error=1 \
  ctest --test-dir build-tsan --output-on-failure -j "$jobs" -R 'X11|ProducerConsumer|Keys|Mouse|LineEdit|ConsoleKeyboard|FBDev|PaintProgram|FileCache'

# The fuzz targets build with clang and run briefly from their corpora, so
# that they keep working; long runs are done by hand (README).
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMALWERK_FUZZ=ON \
  -DMALWERK_TESTS=OFF >/dev/null
cmake --build build-fuzz
for target in bload png lineedit draw; do
  corpus=()
  [ -d "fuzz/corpus/$target" ] && corpus=("fuzz/corpus/$target")
  scratch=$(mktemp -d)
  (cd "$scratch" && RIVEZ=null "$OLDPWD/build-fuzz/fuzz/${target}_fuzz" -max_total_time=20 -print_final_stats=0 \
    "$scratch" "${corpus[@]/#/$OLDPWD/}" >"$scratch.log" 2>&1) || { tail -n 40 "$scratch.log"; exit 1; }
  rm -rf "$scratch" "$scratch.log"
done
