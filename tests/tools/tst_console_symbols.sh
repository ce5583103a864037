#!/usr/bin/env bash
# The console runs scripts on real modules only, so its program carries no part of the virtual
# module: no symbol of the module's engine or line may be in it. It once linked both through the
# script runner. tst_console_symbols.sh <console executable>
set -uo pipefail
binary=$1
symbols=$(nm -C "$binary") || {
  echo "FAIL: nm cannot read $binary"
  exit 1
}
found=$(grep -E 'ModuleEngine|ModuleLine' <<<"$symbols")
if [ -n "$found" ]; then
  echo "FAIL: $binary holds $(wc -l <<<"$found") symbols of the virtual module, among them:"
  head -5 <<<"$found"
  exit 1
fi
echo "PASS: $binary holds no symbol of ModuleEngine or ModuleLine ($(wc -l <<<"$symbols") symbols read)"
