#!/bin/sh
# Compiles and links the WinUSB/SetupAPI backend of the USB access layer with the MinGW-w64 cross
# compiler against the real Windows headers and import libraries, warnings as errors. Nothing is
# run: the result is a Windows console tool (tests/common/usb/WinUsbBackendDriver.cpp).
#   sh scripts/check-windows-backend.sh [output folder]
set -eu

root=$(cd "$(dirname "$0")/.." && pwd)
out=${1:-"$root/build-windows-check"}
cxx=x86_64-w64-mingw32-g++-posix

if ! command -v "$cxx" >/dev/null 2>&1; then
    echo "check-windows-backend: $cxx not found; install the Debian package g++-mingw-w64-x86-64" \
         "(bash scripts/install-deps.sh tests does)" >&2
    exit 1
fi

mkdir -p "$out"
usb="$root/common/usb"
exe="$out/winusb-driver.exe"
rm -f "$exe"

# Linked statically so that the tool runs on a Windows machine without the MinGW run-time DLLs.
"$cxx" -std=c++17 -Wall -Wextra -Werror -O0 \
    -I"$usb" \
    "$usb/UsbTypes.cpp" \
    "$usb/WinUsbDevice.cpp" \
    "$usb/WinUsbBackend.cpp" \
    "$root/tests/common/usb/WinUsbBackendDriver.cpp" \
    -static \
    -o "$exe" \
    -lsetupapi -lwinusb

echo "check-windows-backend: compiled and linked $exe"
