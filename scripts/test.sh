#!/usr/bin/env bash
# Installs what is missing, builds everything and runs the whole test suite through ctest.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh tests
cmake -S . -B build-tests -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build-tests -j"$(nproc)"
ctest --test-dir build-tests --output-on-failure -j"$(nproc)"
