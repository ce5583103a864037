#!/usr/bin/env bash
# Installs what building and running the console and the module needs, when missing, and builds
# into build/ (or $BUILD_DIR): everything, or only the targets named with --target and what they
# need. build.sh [cmake option]... [--target NAME]...
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
options=() targets=()
while [ $# -gt 0 ]; do
  if [ "$1" = --target ]; then
    [ $# -ge 2 ] || { echo "tools/build.sh: --target needs a name" >&2; exit 2; }
    targets+=(--target "$2")
    shift 2
  else
    options+=("$1")
    shift
  fi
done
"$root/tools/deps.sh" build
build=${BUILD_DIR:-$root/build}
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE="${BUILD_TYPE:-RelWithDebInfo}" \
  "${options[@]}" >/dev/null
cmake --build "$build" -j"$(nproc)" "${targets[@]}"
