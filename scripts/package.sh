#!/usr/bin/env bash
# Builds the Debian package build-package/korvane_<version>_<arch>.deb in a fresh build folder, with
# Debian's own compiler and hardening flags, and prints its path. Install it with
#   sudo apt install ./build-package/korvane_*.deb
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh package

out=build-package
rm -rf "$out"

export DEB_BUILD_MAINT_OPTIONS=hardening=+all
CXXFLAGS="$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS)"
LDFLAGS="$(dpkg-buildflags --get LDFLAGS)"
export CXXFLAGS LDFLAGS
# Dates written into the package (manual pages) are those of the last commit, not of the build.
if [ -z "${SOURCE_DATE_EPOCH:-}" ] && git rev-parse --git-dir >/dev/null 2>&1; then
  SOURCE_DATE_EPOCH="$(git log -1 --format=%ct)"
  export SOURCE_DATE_EPOCH
fi
launcher=()
if command -v ccache >/dev/null 2>&1; then
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi

# Debian 12 keeps udev rules in /lib, outside the /usr prefix.
cmake -S . -B "$out" -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
  -DKORVANE_BUILD_TESTS=OFF -DKORVANE_MAN_PAGES=ON -DKORVANE_UDEV_RULES_DIR=/lib/udev/rules.d \
  "${launcher[@]}"
cmake --build "$out" -j"$(nproc)"
(cd "$out" && cpack -G DEB)
ls "$out"/korvane_*.deb
