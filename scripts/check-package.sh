#!/usr/bin/env bash
# Checks the Debian package as a user's machine meets it: builds it (scripts/package.sh), validates
# its desktop entries and AppStream data, lints it, resolves its dependencies with apt, unpacks it,
# compares its files with packaging/package-files and starts each program from the unpacked tree
# (the windowed ones on a virtual X server, where the window's class must match its desktop entry).
#   bash scripts/check-package.sh              # build the package, then check it
#   bash scripts/check-package.sh PACKAGE.deb  # check a package already built
set -euo pipefail
self=$(realpath "$0")
cd "$(dirname "$self")/.."

# Internal: started on the virtual X server; starts a windowed program, waits for its main window,
# prints the window's class and closes the program.
if [ "${1:-}" = --window ]; then
  program="$2"
  log="$3"
  unset QT_QPA_PLATFORM
  "$program" >"$log" 2>&1 &
  pid=$!
  class=""
  for _ in $(seq 1 150); do
    # The only client of this X server is the program: its main window is the one with a class.
    class=$(xwininfo -root -tree | sed -n 's/^ *0x[0-9a-f]* "[^"]*": ("[^"]*" "\([^"]*\)").*/\1/p' | head -n 1)
    [ -n "$class" ] && break
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.2
  done
  kill -TERM "$pid" 2>/dev/null || true
  status=0
  wait "$pid" || status=$?
  # 143: still running until told to stop.
  [ "$status" -eq 143 ] || { echo "exited with status $status before it was closed" >&2; exit 1; }
  [ -n "$class" ] || { echo "no window within 30 s" >&2; exit 1; }
  echo "$class"
  exit 0
fi

bash scripts/install-deps.sh package package-checks
if [ $# -ge 1 ]; then
  deb="$1"
else
  bash scripts/package.sh
  deb=$(ls build-package/korvane_*.deb)
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
root="$work/root"
dpkg -x "$deb" "$root"

failures=0
fail() {
  echo "FAILED: $*" >&2
  failures=$((failures + 1))
}
# Lines of a list file without comments and blank lines.
entries() {
  sed -e 's/#.*//' -e 's/[[:space:]]*$//' -e '/^$/d' "$1"
}
desktop_key() {
  sed -n "s/^$2=//p" "$1" | head -n 1
}

echo "== Files of $deb"
entries packaging/package-files | sort >"$work/expected"
(cd "$root" && find . \( -type f -o -type l \) -printf '/%P\n' | sort) >"$work/shipped"
missing=$(comm -23 "$work/expected" "$work/shipped")
unexpected=$(comm -13 "$work/expected" "$work/shipped")
[ -z "$missing" ] || fail "missing from the package:"$'\n'"$missing"
[ -z "$unexpected" ] || fail "in the package but not in packaging/package-files:"$'\n'"$unexpected"

echo "== Desktop entries and AppStream data"
apps="$root/usr/share/applications"
for entry in "$apps"/*.desktop; do
  desktop-file-validate "$entry" || fail "desktop-file-validate $(basename "$entry")"
  exec_program=$(desktop_key "$entry" Exec | cut -d' ' -f1)
  [ -x "$root/usr/bin/$exec_program" ] || fail "$(basename "$entry"): Exec $exec_program is not in usr/bin"
  icon=$(desktop_key "$entry" Icon)
  compgen -G "$root/usr/share/icons/hicolor/*/apps/$icon.png" >/dev/null \
    || fail "$(basename "$entry"): no hicolor icon $icon"
done
for metainfo in "$root"/usr/share/metainfo/*.metainfo.xml; do
  appstreamcli validate --no-net "$metainfo" || fail "appstreamcli validate $(basename "$metainfo")"
done
# Across files: each metainfo's launchable names a desktop entry of the package.
appstreamcli validate-tree --no-net "$root" || fail "appstreamcli validate-tree"

echo "== Lintian"
lintian --tag-display-limit 0 "$deb" 2>"$work/lintian.err" | tee "$work/lintian" || true
grep -v 'running with root privileges' "$work/lintian.err" >&2 || true
if grep -q '^E: ' "$work/lintian"; then
  fail "lintian errors"
fi
entries packaging/lintian-warnings | cut -d: -f1 | sort -u >"$work/listed"
sed -n 's/^W: [^ ]* \([^ ]*\).*/\1/p' "$work/lintian" | sort -u >"$work/warned"
unlisted=$(comm -13 "$work/listed" "$work/warned")
stale=$(comm -23 "$work/listed" "$work/warned")
[ -z "$unlisted" ] || fail "lintian warnings not in packaging/lintian-warnings:" $unlisted
[ -z "$stale" ] || fail "packaging/lintian-warnings lists warnings lintian no longer gives:" $stale

echo "== Dependencies"
if apt-get install --simulate "$(realpath "$deb")" >"$work/apt" 2>&1 && grep -q '^Inst korvane ' "$work/apt"; then
  grep '^Inst ' "$work/apt"
else
  cat "$work/apt" >&2
  fail "apt-get install --simulate"
fi

echo "== Programs"
export HOME="$work/home" XDG_RUNTIME_DIR="$work/run"
mkdir -p "$HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
for program in quorvel-cli kitsim; do
  if "$root/usr/bin/$program" --help >"$work/help" 2>&1 && grep -q '^Usage: ' "$work/help"; then
    echo "$program --help: $(head -n 1 "$work/help")"
  else
    cat "$work/help" >&2
    fail "$program --help"
  fi
done
for program in korvane quorvel; do
  expected=$(desktop_key "$apps/$program.desktop" StartupWMClass)
  if class=$(xvfb-run -a bash "$self" --window "$root/usr/bin/$program" "$work/$program.log"); then
    echo "$program: window class $class"
    [ "$class" = "$expected" ] || fail "$program: window class $class, StartupWMClass $expected"
  else
    cat "$work/$program.log" >&2
    fail "$program did not start"
  fi
done

if [ "$failures" -gt 0 ]; then
  echo "$failures package check(s) failed" >&2
  exit 1
fi
echo "Package checks passed: $deb"
