#!/usr/bin/env bash
# Installs the Debian packages of the named sets when any is missing: deps.sh <set>...
#   build    builds and runs the console and the virtual module (all that tools/console needs)
#   package  writes the Debian package (tools/package)
#   test     the package checks of the test suite, git for the check that it ignores builds, the
#            serial-over-network server (ser2net) and the test framework that drives it (labgrid,
#            pytest), and the browser the report test loads pages in (chromium)
#   fuzz     clang, its libFuzzer runtime and the symbolizer its crash reports use (tools/fuzz)
# A newcomer's first command should not wait for a compiler and linters it never uses, so the
# console's own set is kept small and the other scripts ask for theirs. Recommended packages are
# left out for the same reason (a GTK theme with its desktop stack, Vulkan drivers, manual pages):
# every package a set needs is named in it.
# Nothing missing: silent. Not root and no sudo: names what is missing and the command to run
# as root, installs nothing and fails.
set -euo pipefail

declare -A sets=(
  [build]="cmake ninja-build g++ pkg-config qt6-base-dev qt6-base-dev-tools libgl-dev
           qt6-svg-dev fonts-nanum"
  [package]="dpkg-dev"
  [test]="desktop-file-utils appstream lintian dpkg-dev git ser2net python3-labgrid python3-pytest
          chromium"
  # libclang-rt-14-dev ships libclang_rt.fuzzer for Debian 12's clang; llvm puts
  # llvm-symbolizer in PATH, without which a crash's stack shows bare addresses.
  [fuzz]="clang libclang-rt-14-dev llvm"
)

me=tools/deps.sh
if [ $# -eq 0 ]; then
  echo "usage: $me <set>... (sets: ${!sets[*]})" >&2
  exit 2
fi

wanted=()
for set in "$@"; do
  if [ -z "${sets[$set]+x}" ]; then
    echo "$me: no package set '$set'; sets: ${!sets[*]}" >&2
    exit 2
  fi
  for p in ${sets[$set]}; do
    [[ " ${wanted[*]} " == *" $p "* ]] || wanted+=("$p")
  done
done

missing=()
for p in "${wanted[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  [ "$status" = "install ok installed" ] || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

as_root=()
if [ "$(id -u)" -ne 0 ]; then
  if ! command -v sudo >/dev/null; then
    {
      echo "$me: these packages are missing: ${missing[*]}"
      echo "Installing them needs root, and sudo is not installed. Run this command (it asks for"
      echo "root's password), then the command you ran again:"
      echo "  su -c 'apt-get update && apt-get install -y --no-install-recommends ${missing[*]}'"
    } >&2
    exit 1
  fi
  as_root=(sudo)
fi

# apt's machine-readable status lines, one every few percent, instead of minutes of silence;
# everything else apt says is kept in the log and shown only when it fails. The package may
# carry its architecture ("libc6:amd64"), so the percent is found by its shape, not its place.
progress() { # <log>
  local line kind pct message shown_dl=-10 shown_pm=-2
  while IFS= read -r line; do
    if [[ $line =~ (dl|pm)status:([^:]+)(:[a-z][a-z0-9]*)?:([0-9]+)(\.[0-9]*)?:(.*)$ ]]; then
      kind=${BASH_REMATCH[1]} pct=${BASH_REMATCH[4]} message=${BASH_REMATCH[6]}
      if [ "$kind" = dl ] && [ "$pct" -ge $((shown_dl + 10)) ]; then
        shown_dl=$pct
        printf '  download %3d%%  %s\n' "$pct" "$message"
      elif [ "$kind" = pm ] && [ "$pct" -ge $((shown_pm + 2)) ]; then
        shown_pm=$pct
        printf '  install  %3d%%  %s\n' "$pct" "$message"
      fi
    else
      printf '%s\n' "$line" >>"$1"
    fi
  done
}

log=$(mktemp)
trap 'rm -f "$log"' EXIT
# sudo resets the environment, so the frontend goes in through env; it also closes every
# descriptor above 2, so apt's status goes to standard output with the rest.
apt=("${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get)
echo "Installing ${#missing[@]} packages with what they need: ${missing[*]}"
echo "  reading the package lists (apt-get update)"
if ! "${apt[@]}" update >"$log" 2>&1 ||
  ! "${apt[@]}" install -y --no-install-recommends -o APT::Status-Fd=1 "${missing[@]}" 2>&1 |
  progress "$log"; then
  cat "$log" >&2
  echo "$me: installing ${missing[*]} failed (apt's output above)" >&2
  exit 1
fi
echo "  installed: ${missing[*]}"
