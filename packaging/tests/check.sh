#!/usr/bin/env bash
# The install and package checks CTest runs (label "package"): check.sh <step> <arguments>.
set -euo pipefail

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# The expected tree under the prefix: the fixed list plus the optional programs this build has,
# each with its man page.
expected_files() { # <list> <build>
  {
    cat "$1"
    tr ';' '\n' <"$2/packaging/optional-programs.txt" |
      sed '/^$/d; s|^\(.*\)$|bin/\1\nshare/man/man1/\1.1.gz|'
  } | LC_ALL=C sort
}

# A PNG's width and height from its header, e.g. "48x48".
png_size() {
  od -An -tu1 -j16 -N8 "$1" | awk '{ printf "%dx%d", $3 * 256 + $4, $7 * 256 + $8 }'
}

the_deb() { # <dir>
  local debs=("$1"/*.deb)
  [ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || fail "expected one package in $1: ${debs[*]}"
  echo "${debs[0]}"
}

step_install() { # <build> <prefix> <expected list>
  local build=$1 prefix=$2
  rm -rf "$prefix"
  cmake --install "$build" --prefix "$prefix" >/dev/null
  diff -u <(expected_files "$3" "$build") \
    <(cd "$prefix" && find . ! -type d | sed 's|^\./||' | LC_ALL=C sort) ||
    fail "installed tree differs from the expected list (- expected, + installed)"
  local png dir
  for png in "$prefix"/share/icons/hicolor/*/apps/*.png; do
    dir=$(basename "$(dirname "$(dirname "$png")")")
    [ "$(png_size "$png")" = "$dir" ] || fail "$png is $(png_size "$png"), not $dir"
  done
  [ -x "$prefix/bin/orvexa-testbox" ] || fail "orvexa-testbox is not executable"
}

step_deb() { # <build> <package dir> <version>
  local build=$1 dir=$2
  rm -rf "$dir"
  mkdir -p "$dir"
  (cd "$dir" && cpack --config "$build/CPackConfig.cmake" -G DEB -B "$dir" >cpack.log 2>&1) ||
    { cat "$dir/cpack.log"; fail "cpack -G DEB failed"; }
  local deb
  deb=$(the_deb "$dir")
  [ "$(basename "$deb")" = "orvexa-testbox_${3}_$(dpkg --print-architecture).deb" ] ||
    fail "package named $(basename "$deb")"
}

step_contents() { # <package dir> <expected list> <build>
  local deb depends
  deb=$(the_deb "$1")
  depends=$(dpkg-deb -f "$deb" Depends)
  echo "Depends: $depends"
  local need
  for need in libqt6core6 libqt6gui6 libqt6widgets6 libqt6svg6 libc6 fonts-nanum; do
    grep -Eq "(^|[ ,|])$need( |,|$)" <<<"$depends" || fail "Depends lacks $need"
  done
  diff -u <(expected_files "$2" "$3" | sed 's|^|usr/|') \
    <(dpkg-deb --fsys-tarfile "$deb" | tar -t | sed 's|^\./||' | grep -v '/$' | LC_ALL=C sort) ||
    fail "package contents differ from the expected list (- expected, + packaged)"
}

# Starts the packaged console offscreen and checks, through Qt's own painting log, that its
# window was shown and painted, that it keeps running, and that nothing warned on the way.
step_run() { # <package dir>
  local deb
  deb=$(the_deb "$1")
  # Global, for the exit trap.
  root=$(mktemp -d)
  pid=
  trap 'if [ -n "$pid" ]; then kill "$pid" 2>/dev/null || true; fi; rm -rf "$root"' EXIT
  dpkg -x "$deb" "$root/fs"
  mkdir -m 0700 "$root/config" "$root/runtime"
  # Every port number is taken by a link to nothing, so the console numbers and probes none of
  # this machine's serial devices.
  local ports="$root/config/OrvexaLCD TestBox/ports" n
  mkdir -p "$ports"
  for n in $(seq 1 255); do ln -s "$root/no-device" "$ports/COM$n"; done

  XDG_CONFIG_HOME="$root/config" XDG_RUNTIME_DIR="$root/runtime" QT_QPA_PLATFORM=offscreen \
    QT_LOGGING_RULES='qt.widgets.painting=true' \
    "$root/fs/usr/bin/orvexa-testbox" >"$root/out" 2>"$root/err" &
  pid=$!
  # A loaded machine running the other suites beside this one may take a while to start it.
  local painted=
  for _ in $(seq 1 300); do
    grep -Eq 'Flushing QRegion\(0,0 [1-9][0-9]*x[1-9][0-9]*\) of CConsoleDlg' "$root/err" &&
      painted=1 && break
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  [ -n "$painted" ] || { cat "$root/err"; fail "the console window was never painted"; }
  sleep 1
  kill -0 "$pid" 2>/dev/null || { cat "$root/err"; fail "the console ended by itself"; }
  kill -TERM "$pid"
  local status=0
  wait "$pid" || status=$?
  pid=
  # SIGTERM closes the console as the window manager would: it saves and ends normally.
  [ "$status" -eq 0 ] || fail "the console ended with status $status after SIGTERM, not 0"
  grep -q '^baudrate_index=' "$root/config/OrvexaLCD TestBox/setting.ini" ||
    fail "the console did not save its settings on SIGTERM"
  if grep -v '^qt\.widgets\.painting:' "$root/err" "$root/out"; then
    fail "the console wrote the output above"
  fi
}

step_lintian() { # <package dir>
  local deb
  deb=$(the_deb "$1")
  lintian --fail-on error --tag-display-limit 0 "$deb" ||
    fail "lintian reports errors"
}

step=$1
shift
"step_$step" "$@"
