#!/usr/bin/env bash
# Installs what is missing, builds, and starts a program: korvane (default) or quorvel. The build
# also gives the command-line tools, build/manager/cli/quorvel-cli and build/kitsim/kitsim.
set -euo pipefail
cd "$(dirname "$0")/.."
program="${1:-korvane}"
case "$program" in
  korvane) target=korvane; exe=build/station/window/korvane ;;
  quorvel) target=quorvel; exe=build/manager/quorvel ;;
  *) echo "usage: $0 [korvane|quorvel]" >&2; exit 2 ;;
esac
bash scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build --target "$target" quorvel-cli kitsim -j"$(nproc)"
exec "$exe"
