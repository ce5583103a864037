#!/usr/bin/env bash
# tools/deps.sh on a made-up machine: PATH holds only bash, the few tools the script uses, and
# stand-ins for id, sudo, dpkg-query and apt-get, so nothing is ever installed and the
# machine's own sudo cannot be found. tst_deps.sh <deps.sh>
# shellcheck disable=SC2016 # the stand-ins are written with their own $1, $@ unexpanded
set -uo pipefail
deps=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0 passed=0

# One machine: bin/ with the real tools the script needs and the stand-ins this case asks for.
machine() { # <uid> <sudo: yes|no> <installed packages> <apt fails: yes|no>
  rm -rf "${work:?}/bin" "${work:?}/calls"
  mkdir -p "$work/bin"
  for tool in bash env cat mktemp rm; do
    ln -s "$(command -v "$tool")" "$work/bin/$tool"
  done
  printf '#!/bin/bash\n[ "$1" = -u ] && echo %s\n' "$1" >"$work/bin/id"
  # Answers as dpkg-query -W -f='${Status}' does: a status for a package it knows, else fails.
  printf '#!/bin/bash\nfor p in %s; do [ "$p" = "$3" ] && { printf "install ok installed"; exit 0; }; done\nexit 1\n' \
    "$3" >"$work/bin/dpkg-query"
  # Records each call and, when asked for status lines, says what apt says while installing.
  cat >"$work/bin/apt-get" <<EOF
#!/bin/bash
echo "apt-get \$* DEBIAN_FRONTEND=\${DEBIAN_FRONTEND:-}" >>"$work/calls"
[ "$4" = yes ] && { echo "E: Unable to locate package"; exit 100; }
if [[ " \$* " == *" APT::Status-Fd=1 "* ]]; then
  echo "Reading package lists..."
  echo "dlstatus:1:0.0000:Retrieving file 1 of 2"
  echo "dlstatus:2:100.0000:Retrieving file 2 of 2"
  echo "pmstatus:libgl-dev:amd64:40.0000:Unpacking libgl-dev (amd64)"
  echo "pmstatus:cmake:41.2000:Configuring cmake (amd64)"
  echo "pmstatus:cmake:80.0000:Installed cmake (amd64)"
fi
exit 0
EOF
  if [ "$2" = yes ]; then
    printf '#!/bin/bash\necho "sudo $1" >>"%s/calls"\nexec "$@"\n' "$work" >"$work/bin/sudo"
  fi
  chmod +x "$work/bin"/*
}

# check <name> <uid> <sudo> <installed> <apt fails> <sets> <exit code> <patterns in the output>
# <patterns in the recorded calls>; a pattern "!text" must not be there, "" is no check.
check() {
  local name=$1 sets=$6 rc=$7 out_patterns=$8 call_patterns=$9
  machine "$2" "$3" "$4" "$5"
  local out code calls=""
  # shellcheck disable=SC2086
  out=$(PATH=$work/bin "$work/bin/bash" "$deps" $sets 2>&1)
  code=$?
  [ -f "$work/calls" ] && calls=$(<"$work/calls")
  local problems=()
  [ "$code" = "$rc" ] || problems+=("exit code $code, expected $rc")
  local pattern text what
  for what in out calls; do
    local list=$out_patterns
    text=$out
    [ $what = calls ] && list=$call_patterns text=$calls
    while IFS= read -r pattern; do
      [ -z "$pattern" ] && continue
      if [[ $pattern == !* ]]; then
        [[ $text == *"${pattern:1}"* ]] && problems+=("$what has '${pattern:1}'")
      else
        [[ $text == *"$pattern"* ]] || problems+=("$what lacks '$pattern'")
      fi
    done <<<"$list"
  done
  if [ ${#problems[@]} -eq 0 ]; then
    passed=$((passed + 1))
    echo "PASS: $name"
  else
    failures=$((failures + 1))
    printf 'FAIL: %s\n' "$name"
    printf '  %s\n' "${problems[@]}"
    printf '  output:\n%s\n  calls:\n%s\n' "$out" "$calls"
  fi
}

console="cmake ninja-build g++ pkg-config qt6-base-dev qt6-base-dev-tools libgl-dev qt6-svg-dev fonts-nanum"
nl=$'\n'

# The exact command also shows the console's set holds none of the test and fuzz tools, and
# that what the packages merely recommend stays out, as it does when the script installs.
check "not root, no sudo: names the missing and the root command, installs nothing" \
  1000 no "cmake g++" no build 1 \
  "these packages are missing: ninja-build pkg-config qt6-base-dev${nl}su -c 'apt-get update && apt-get install -y --no-install-recommends ninja-build pkg-config qt6-base-dev qt6-base-dev-tools libgl-dev qt6-svg-dev fonts-nanum'${nl}!cmake g++" \
  "!apt-get"
check "not root, no sudo, nothing missing: silent success" \
  1000 no "$console" no build 0 "" "!apt-get"
check "test sets ask for the checkers and the fuzzer runtime once each" \
  1000 no "$console" no "build package test fuzz" 1 \
  "install -y --no-install-recommends dpkg-dev desktop-file-utils appstream lintian git ser2net python3-labgrid python3-pytest chromium clang libclang-rt-14-dev llvm'" ""
check "root installs with apt directly, without recommended packages, and shows its progress" \
  0 no "$console" no "fuzz" 0 \
  "download   0%${nl}download 100%${nl}install   40%  Unpacking libgl-dev${nl}install   80%  Installed cmake${nl}!41%${nl}!Reading package lists" \
  "apt-get update${nl}apt-get install -y --no-install-recommends -o APT::Status-Fd=1 clang libclang-rt-14-dev llvm DEBIAN_FRONTEND=noninteractive"
check "not root with sudo: apt runs through sudo, keeping the frontend" \
  1000 yes "$console" no "fuzz" 0 "" \
  "sudo env${nl}DEBIAN_FRONTEND=noninteractive"
check "an unknown set is refused before anything is looked at" \
  0 no "" no "no-such-set" 2 "no package set 'no-such-set'" "!apt-get"
check "apt failing: its own words are shown and the script fails" \
  0 no "$console" yes fuzz 1 "E: Unable to locate package${nl}installing clang libclang-rt-14-dev llvm failed" ""

echo "$passed passed, $failures failed"
[ "$failures" -eq 0 ]
