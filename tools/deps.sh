#!/usr/bin/env bash
# Installs the Debian packages the console needs to build, run and test, when any is missing.
# Sourced by the other scripts of this folder.
set -euo pipefail

packages=(cmake ninja-build g++ pkg-config qt6-base-dev qt6-base-dev-tools libgl-dev fonts-nanum
          qt6-svg-dev desktop-file-utils appstream lintian dpkg-dev)
# clang and its libFuzzer runtime (the package that ships libclang_rt.fuzzer) build the fuzz
# targets of tools/fuzz.
packages+=(clang libclang-rt-14-dev)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq "${missing[@]}" >/dev/null
fi
