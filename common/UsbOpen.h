// The one routine both programs use to open a WinUSB-style device from its path: open the
// interface, find the first bulk IN pipe of alternate setting 0, give it a 1000 ms time-out.
#pragma once

#include "usb/UsbDevice.h"

#include <QString>
#include <memory>

// Writes "Open\n", the pipe line and "Failed to set timeout on pipe\n" as the steps go. Returns the
// opened device (null when the open failed) and sets *bulkInPipe to the pipe found (0 if none).
std::unique_ptr<usb::Device> openUsbDevice(const QString &path, quint8 *bulkInPipe);
