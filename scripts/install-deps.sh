#!/usr/bin/env bash
# Installs the Debian packages the build and the programs need, and those of the lists named,
# skipping those already installed so that repeated runs stay fast.
#   bash scripts/install-deps.sh        # build and programs (scripts/run.sh)
#   bash scripts/install-deps.sh tests  # the same, and what the test suite needs (scripts/test.sh)
#   bash scripts/install-deps.sh fuzz   # the same, and what scripts/fuzz.sh needs
#   bash scripts/install-deps.sh package package-checks   # the Debian package and its CI checks
set -euo pipefail

packages=(
  cmake g++ pkg-config make
  qtbase5-dev qtbase5-dev-tools
  libqcustomplot-dev libtiff-dev libgeotiff-dev libusb-1.0-0-dev
  qttranslations5-l10n
)

# Further lists, named on the command line: "tests" adds the MinGW-w64 cross-compiler of the
# Windows backend's compile check (about 270 MB), umockdev, under which the USB backend is tested,
# and gpsbabel, the GPX reader that reads back the GPX files both programs write;
# "fuzz" clang and libFuzzer (scripts/fuzz.sh); "package" what scripts/package.sh needs (manual
# pages from --help, dpkg-shlibdeps and the file command it relies on); "package-checks" the
# validators, lintian and the X server of scripts/check-package.sh.
for list in "$@"; do
  case "$list" in
    tests) packages+=(g++-mingw-w64-x86-64 umockdev libumockdev-dev gpsbabel) ;;
    fuzz) packages+=(clang libclang-rt-14-dev) ;;
    package) packages+=(help2man dpkg-dev file) ;;
    package-checks) packages+=(desktop-file-utils appstream lintian xvfb xauth x11-utils) ;;
    *) echo "unknown package list: $list" >&2; exit 2 ;;
  esac
done

missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  echo "Installing: ${missing[*]}"
  "${sudo_cmd[@]}" apt-get update -q
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y --no-install-recommends "${missing[@]}"
fi
