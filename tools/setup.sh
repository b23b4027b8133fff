#!/usr/bin/env bash
# Installs the Debian packages Malwerk needs to build, run and test; with
# --bench also the peer libraries the benchmarks measure against.
# Runs apt-get only when something is missing (as root, or through sudo).
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  clang libclang-rt-14-dev     # the fuzz targets
  libgtest-dev python3         # tests (python3: the built-in data's encoder, the layering check)
  python3-pil                  # tests: PNG files written and decoded by Pillow
  libx11-dev libxext-dev libxrandr-dev libxpm-dev
  libncurses-dev               # the terminal capability database (libtinfo)
  libpng-dev                   # PNG files
  libgl-dev libglx-dev         # GL and GLX headers (the GL library is loaded at run time)
  xvfb xdotool openbox         # X11 and end-to-end tests on a private server (openbox: a real window manager)
  x11-xkb-utils                # setxkbmap: keyboard layout changes in the X11 tests
  libgl1-mesa-dri libglx-mesa0 # software GLX for the OpenGL tests
  libxtst6                     # a library the loader's tests open by name
  imagemagick                  # tools/make_image_testdata.py, tools/screenshot.sh
  dpkg-dev file                # cpack -G DEB: dpkg-shlibdeps, and file to find the binaries
)
# Benchmark peers: measured against only, never linked into the runtime.
if [ "${1:-}" = --bench ]; then
  packages+=(libbenchmark-dev libsdl2-dev libpixman-1-dev libopencv-dev libstb-dev libxtst-dev)
fi
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
