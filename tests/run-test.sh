#!/bin/sh
# Runs one test executable headless with HOME and XDG_RUNTIME_DIR in a fresh throw-away folder,
# so that no test reads or writes a real user's files.
set -e
home="$1"; shift
rm -rf "$home"
mkdir -p "$home/run"
chmod 700 "$home/run"
HOME="$home" XDG_RUNTIME_DIR="$home/run" XDG_CACHE_HOME="$home/.cache" QT_QPA_PLATFORM=offscreen exec "$@"
