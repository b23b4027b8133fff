#!/usr/bin/env bash
# Sets up, builds and starts Malwerk from the repository's top directory.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --target malwerk
exec build/malwerk "$@"
