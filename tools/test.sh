#!/usr/bin/env bash
# Sets up, builds and runs every test: the normal build with the layering
# check, the exported symbols, the Debian packages installed with the
# examples built on them, the AddressSanitizer + UndefinedBehaviorSanitizer
# build, the thread tests under ThreadSanitizer, and a short run of each fuzz
# target.
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

# Only the public operations leave the libraries: the shared library's
# dynamic symbols and the installed static library's global ones are the
# committed list.
for lib in "-D build/librkgfx.so.1" "-g build/dist/librkgfx.a"; do
  nm --defined-only $lib | awk 'NF == 3 && $3 !~ /^(_edata|_end|__bss_start)$/ {print $3}' | sort |
    diff -u cmake/rkgfx.symbols - || { echo "nm $lib: exported symbols differ from cmake/rkgfx.symbols"; exit 1; }
done

# The Debian packages: what each holds, what it depends on, the library's
# SONAME.
stage=$(mktemp -d)
cpack -G DEB --config build/CPackConfig.cmake -B "$stage/deb" >/dev/null
version=$(sed -n 's/^project(Malwerk VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
check_deb() {  # package, "dependencies", files...
  local deb pkg=$1 dep
  deb=$(echo "$stage"/deb/"$pkg"_*.deb)
  dpkg-deb -c "$deb" | awk '{print $6}' >"$stage/contents"
  for f in "${@:3}" ./usr/share/doc/"$pkg"/copyright; do
    grep -qx "$f" "$stage/contents" || { echo "$f missing from $deb"; exit 1; }
  done
  for dep in $2; do
    dpkg-deb -f "$deb" Depends | tr ',' '\n' | grep -qx " *$dep\( (.*)\)\?" ||
      { echo "$deb does not depend on $dep: $(dpkg-deb -f "$deb" Depends)"; exit 1; }
  done
}
check_deb malwerk "librkgfx1.(=.$version)" ./usr/bin/malwerk ./usr/share/malwerk/gfx/{1,2,3,4,5,6,7}.bmp \
  ./usr/share/applications/malwerk.desktop ./usr/share/man/man1/malwerk.1 ./usr/share/icons/hicolor/scalable/apps/malwerk.svg
check_deb librkgfx1 "libx11-6 libxext6 libxrandr2 libxpm4 libpng16-16 libtinfo6" ./usr/lib/librkgfx.so.1{,.0.0}
check_deb librkgfx-dev \
  "librkgfx1.(=.$version) libx11-dev libxext-dev libxrandr-dev libxpm-dev libncurses-dev libpng-dev" \
  ./usr/include/rkgfx/rkgfx.h ./usr/lib/librkgfx.{a,so} ./usr/lib/cmake/rkgfx/rkgfxConfig.cmake \
  ./usr/lib/pkgconfig/rkgfx.pc
[ "$(grep -c '\.h$' "$stage/contents")" -eq 1 ] || { echo "librkgfx-dev installs more than rkgfx.h"; exit 1; }
dpkg-deb -x "$stage"/deb/librkgfx1_*.deb "$stage/root"
readelf -d "$stage/root/usr/lib/librkgfx.so.1" | grep -q 'SONAME.*\[librkgfx\.so\.1\]' || { echo "no SONAME"; exit 1; }

# The runtime installed from its packages alone: the examples build through
# the CMake package and through pkg-config, the picture of the Null-driver
# example is checked pixel by pixel, and a C and a C++ program with names of
# their own that the runtime has inside build strictly, link shared and
# static, and draw the right pixels. The packages are removed afterwards.
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
apt=($sudo apt-get -y -qq -o DPkg::Lock::Timeout=120)
"${apt[@]}" install "$stage"/deb/librkgfx1_*.deb "$stage"/deb/librkgfx-dev_*.deb >/dev/null
trap '"${apt[@]}" purge librkgfx-dev librkgfx1 >/dev/null' EXIT
strict=(-Wall -Wextra -Werror)
cmake -S examples -B "$stage/cmake" -G Ninja -DCMAKE_C_FLAGS="${strict[*]}" -DCMAKE_CXX_FLAGS="${strict[*]}" >/dev/null
cmake --build "$stage/cmake" >/dev/null
mkdir "$stage/pc"
(cd "$stage/pc" && make -s -f "$OLDPWD/examples/Makefile" CFLAGS="${strict[*]}" CXXFLAGS="${strict[*]}")
for example in {cmake,pc}/picture{,_static}; do
  (cd "$stage" && "$example" picture.bmp)
  python3 - "$stage/picture.bmp" "$example" <<'PY'
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
assert not bad, f'{sys.argv[2]}: wrong pixels {bad}'
PY
done
! ldd "$stage/pc/picture_static" | grep -q rkgfx || { echo "picture_static needs the shared library"; exit 1; }
for lang in c c++; do
  std=c11 compiler=cc
  [ "$lang" = c++ ] && std=c++17 compiler=c++
  compile=("$compiler" -x "$lang" -std="$std" "${strict[@]}" -pedantic tests/programs/consumer.c
    $(pkg-config --cflags rkgfx))
  "${compile[@]}" -o "$stage/consumer-shared" $(pkg-config --libs rkgfx)
  "${compile[@]}" -o "$stage/consumer-static" -l:librkgfx.a $(pkg-config --static --libs rkgfx | sed 's/-lrkgfx\b//')
  RIVEZ=null "$stage/consumer-shared" && RIVEZ=null "$stage/consumer-static" ||
    { echo "consumer ($lang) failed"; exit 1; }
done
"${apt[@]}" purge librkgfx-dev librkgfx1 >/dev/null
trap - EXIT
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
