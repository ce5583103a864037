#!/usr/bin/env bash
# tools/console, tools/test and tools/package on a made-up tree: a copy of tools/ whose deps.sh
# only says it was called, and stand-ins for cmake, ctest, cpack and clang++ that say what they
# were asked on standard error, so the order of stage lines and commands can be read from one
# stream. Nothing is installed or built. tst_tools.sh <source tree>
# shellcheck disable=SC2016 # the stand-ins are written with their own $1, $@ unexpanded
set -uo pipefail
source_tree=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0 passed=0
root=$work/tree build=$work/tree/build

# A fresh tree and bin/ for each case; clang++ is there when the case says so.
tree() { # <clang: yes|no>
  rm -rf "${work:?}/tree" "${work:?}/bin"
  mkdir -p "$root/fuzz/corpus/alpha" "$root/fuzz/corpus/beta" "$build/app" "$work/bin"
  cp -r "$source_tree/tools" "$root/"
  cp "$source_tree/.gitignore" "$root/"
  printf '#!/bin/bash\necho "+ deps.sh $*" >&2\n' >"$root/tools/deps.sh"
  printf '#!/bin/bash\necho "+ orvexa-testbox $*" >&2\n' >"$build/app/orvexa-testbox"
  for tool in bash env cat mktemp rm cp ls dirname basename sed grep mkdir nproc git touch; do
    ln -s "$(command -v "$tool")" "$work/bin/$tool"
  done
  # Configuring writes the one cache entry tools/fuzz reads.
  cat >"$work/bin/cmake" <<'EOF'
#!/bin/bash
echo "+ cmake $*" >&2
while [ $# -gt 0 ]; do
  [ "$1" = -B ] && mkdir -p "$2" && echo "ORVEXA_FUZZ_SECONDS:STRING=20" >"$2/CMakeCache.txt"
  shift
done
EOF
  printf '#!/bin/bash\necho "+ ctest $*" >&2\n' >"$work/bin/ctest"
  # Says what CPack says on standard error, and writes the package where it was asked to.
  cat >"$work/bin/cpack" <<'EOF'
#!/bin/bash
echo "CPackDeb: - Generating dependency list" >&2
echo "CPack Warning: a word worth reading" >&2
while [ $# -gt 0 ]; do
  [ "$1" = -B ] && : >"$2/orvexa-testbox_1.2.3.4_amd64.deb"
  shift
done
EOF
  [ "$1" = yes ] && printf '#!/bin/bash\n' >"$work/bin/clang++"
  chmod +x "$work/bin"/* "$root/tools"/* "$build/app/orvexa-testbox"
}

# check <name> <clang> <commands, run in the tree> <exit code> <patterns>: each pattern must be
# found after the one before it; a pattern "!text" must not be found anywhere.
check() {
  local name=$1 rc=$4 patterns=$5
  tree "$2"
  local out code
  out=$(cd "$root" && env -i PATH="$work/bin" HOME="$work" bash -c "$3" 2>&1)
  code=$?
  local problems=() rest=$out pattern
  [ "$code" = "$rc" ] || problems+=("exit code $code, expected $rc")
  while IFS= read -r pattern; do
    [ -z "$pattern" ] && continue
    if [[ $pattern == !* ]]; then
      [[ $out == *"${pattern:1}"* ]] && problems+=("has '${pattern:1}'")
    elif [[ $rest == *"$pattern"* ]]; then
      rest=${rest#*"$pattern"}
    else
      problems+=("lacks '$pattern' (after the patterns before it)")
    fi
  done <<<"$patterns"
  if [ ${#problems[@]} -eq 0 ]; then
    passed=$((passed + 1))
    echo "PASS: $name"
  else
    failures=$((failures + 1))
    printf 'FAIL: %s\n' "$name"
    printf '  %s\n' "${problems[@]}"
    printf '  output:\n%s\n' "$out"
  fi
}

cores=$(nproc)
nl=$'\n'

# A first start waits for the programs only, not for the tests and package files.
check "console builds the programs it starts and no more" no \
  "ORVEXA_NO_MODULE=1 tools/console --x" 0 \
  "+ deps.sh build${nl}+ cmake --build $build -j$cores --target orvexa-testbox --target orvexa-module --target orvexa-run --target orvexa-trace${nl}+ orvexa-testbox --x"

check "test under CI names each stage before it starts" yes \
  "CI=true tools/test" 0 \
  "== tools/test: install${nl}+ deps.sh build package test fuzz
== tools/test: build${nl}+ cmake -S${nl}+ cmake --build $build -j$cores${nl}
== tools/test: tests${nl}+ ctest --output-on-failure
== tools/test: sanitizer build${nl}+ cmake -S${nl}-DORVEXA_SANITIZE=ON
== tools/test: sanitizer tests${nl}+ ctest --output-on-failure
== tools/fuzz: fuzz build: 2 fuzz targets${nl}+ cmake --build $root/build-fuzz -j$cores --target fuzz_alpha fuzz_beta
== tools/fuzz: fuzz run: each target over its corpus, then 20s beyond it (about 1 min)
+ ctest -L fuzz"

check "test without CI or clang leaves the sanitizer and fuzz stages out, saying so" no \
  "tools/test" 0 \
  "+ ctest --output-on-failure${nl}== tools/test: fuzz: left out, clang++ is not installed
!sanitizer${nl}!tools/fuzz"

# The package must not land in the clone, where git status would show it; of what CPack says
# on standard error, only its announcement of the library scan is noise.
check "package goes to the build folder, ignored by git, with CPack's scan notice left out" no \
  "touch build/orvexa-testbox_1.0.0.0_amd64.deb && git init -q && tools/package &&
   git status --porcelain --untracked-files=all build && ls build" 0 "CPack Warning: a word worth reading${nl}$build/orvexa-testbox_1.2.3.4_amd64.deb
!Generating dependency list${nl}!1.0.0.0${nl}!?? build"

echo "$passed passed, $failures failed"
[ "$failures" -eq 0 ]
