#!/usr/bin/env bash
# tools/check-layers on copies of the tree's sources (no git there, so it finds the files itself),
# each with one fault put in: an include up the table, by a name relative to the file and between
# a nested folder and its parent, and a table line that would let two folders include each other.
# The unchanged copy passes, so each failure is the fault's. tst_check_layers.sh <source tree>
set -uo pipefail
source_tree=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0 passed=0

# check <name> <change, run in the copy> <exit code> <text the output must hold>
check() {
  local name=$1 change=$2 rc=$3 expected=$4 out code
  rm -rf "${work:?}/tree"
  mkdir -p "$work/tree/tools"
  (cd "$source_tree" && find . \( -path './build*' -o -path './.*' -o -path ./tests -o -path ./bench \
    -o -path ./fuzz \) -prune -o -type f \( -name '*.cpp' -o -name '*.h' \) -print0 |
    xargs -0 cp --parents -t "$work/tree")
  cp "$source_tree/tools/check-layers" "$source_tree/tools/layers.txt" "$work/tree/tools/"
  (cd "$work/tree" && eval "$change")
  out=$("$work/tree/tools/check-layers" "$work/tree" 2>&1)
  code=$?
  if [ "$code" = "$rc" ] && [[ $out == *"$expected"* ]]; then
    passed=$((passed + 1))
    echo "PASS: $name"
  else
    failures=$((failures + 1))
    printf 'FAIL: %s\n  exit code %s, expected %s; output lacks "%s"?\n  output:\n%s\n' \
      "$name" "$code" "$rc" "$expected" "$out"
  fi
}

check "the tree as it is" ":" 0 "each allowed by tools/layers.txt"
check "an include up the table" \
  "sed -i '1i #include \"app/ConsoleDlg.h\"' serial/Pieces.h" 1 \
  "serial/Pieces.h:1: serial includes app/ConsoleDlg.h, but tools/layers.txt does not let serial include app"
check "an include up the table by a relative name" \
  "sed -i '2i #include \"../script/ScriptRunner.h\"' scriptformat/Script.cpp" 1 \
  "scriptformat/Script.cpp:2: scriptformat includes ../script/ScriptRunner.h"
check "a folder including its nested folder" \
  "sed -i '1i #include \"support/ui/ReceiveView.h\"' support/CodePage.h" 1 \
  "support/CodePage.h:1: support includes support/ui/ReceiveView.h"
check "a table line naming a folder below it" \
  "sed -i 's/^serial .*/& script/' tools/layers.txt" 1 \
  "tools/layers.txt: serial names script, which is not above it in the table"

echo "$passed passed, $failures failed"
[ "$failures" -eq 0 ]
