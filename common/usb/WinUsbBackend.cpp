// SetupAPI enumeration of present device interfaces and WinUSB opening of a device path. Paths
// travel through the layer as UTF-8; Windows sees them as UTF-16.
#include "WinUsbBackend.h"

#include "WinUsbDevice.h"

#include <setupapi.h>

#include <algorithm>
#include <climits>
#include <cstddef>
#include <cwchar>

namespace usb {

namespace {

GUID toWindowsGuid(const Guid &guid)
{
    GUID result{};
    result.Data1 = guid.data1;
    result.Data2 = guid.data2;
    result.Data3 = guid.data3;
    std::copy(guid.data4.begin(), guid.data4.end(), result.Data4);
    return result;
}

// Nothing when the text is empty, is not valid UTF-8 or holds a zero byte (which would cut the
// path short).
std::optional<std::wstring> toWide(const std::string &text)
{
    if (text.size() > static_cast<std::size_t>(INT_MAX) || text.find('\0') != std::string::npos)
        return std::nullopt;
    const int length = static_cast<int>(text.size());
    const int wideLength =
        MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), length, nullptr, 0);
    if (wideLength <= 0)
        return std::nullopt;
    std::wstring wide(static_cast<std::size_t>(wideLength), L'\0');
    if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), length, &wide[0],
                            wideLength) != wideLength)
        return std::nullopt;
    return wide;
}

// Empty when the text is empty or cannot be converted.
std::string toUtf8(const wchar_t *wide, std::size_t length)
{
    if (length > static_cast<std::size_t>(INT_MAX))
        return std::string();
    const int wideLength = static_cast<int>(length);
    const int size =
        WideCharToMultiByte(CP_UTF8, 0, wide, wideLength, nullptr, 0, nullptr, nullptr);
    if (size <= 0)
        return std::string();
    std::string text(static_cast<std::size_t>(size), '\0');
    if (WideCharToMultiByte(CP_UTF8, 0, wide, wideLength, &text[0], size, nullptr, nullptr) != size)
        return std::string();
    return text;
}

// The device path of one member of the set; empty when SetupAPI cannot give it. Sets `outOfMemory`
// when the detail block could not be allocated, which ends the enumeration.
std::string devicePath(HDEVINFO set, SP_DEVICE_INTERFACE_DATA &interfaceData, bool &outOfMemory)
{
    DWORD required = 0;
    if (!SetupDiGetDeviceInterfaceDetailW(set, &interfaceData, nullptr, 0, &required, nullptr)
        && GetLastError() != ERROR_INSUFFICIENT_BUFFER)
        return std::string();

    // Never smaller than the fixed part, whose cbSize is written before the second call.
    const DWORD fixedPart = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
    const DWORD size = std::max(required, fixedPart);
    auto *detail = static_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W *>(LocalAlloc(LMEM_FIXED, size));
    if (detail == nullptr) {
        outOfMemory = true;
        return std::string();
    }
    detail->cbSize = fixedPart;

    std::string path;
    if (SetupDiGetDeviceInterfaceDetailW(set, &interfaceData, detail, size, nullptr, nullptr)) {
        // Bounded by the block, should the terminating zero ever be missing.
        const std::size_t capacity =
            (size - offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath)) / sizeof(WCHAR);
        path = toUtf8(detail->DevicePath, wcsnlen(detail->DevicePath, capacity));
    }
    LocalFree(detail);
    return path;
}

} // namespace

const char *WinUsbBackend::name() const
{
    return "WinUSB";
}

std::vector<std::string> WinUsbBackend::listPaths(const Guid &interfaceClass)
{
    std::vector<std::string> paths;
    const GUID guid = toWindowsGuid(interfaceClass);
    HDEVINFO set =
        SetupDiGetClassDevsW(&guid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (set == INVALID_HANDLE_VALUE)
        return paths;

    SP_DEVICE_INTERFACE_DATA interfaceData{};
    interfaceData.cbSize = sizeof(interfaceData);
    bool outOfMemory = false;
    for (DWORD index = 0;
         !outOfMemory && SetupDiEnumDeviceInterfaces(set, nullptr, &guid, index, &interfaceData);
         ++index) {
        // A member whose detail cannot be read is still present: it is listed with an empty path,
        // so that a device held through it is not let go and opened again.
        paths.push_back(devicePath(set, interfaceData, outOfMemory));
    }
    SetupDiDestroyDeviceInfoList(set);
    return paths;
}

bool WinUsbBackend::ownsPath(const std::string &path) const
{
    static const char prefix[] = "\\\\?\\";
    return path.compare(0, sizeof(prefix) - 1, prefix) == 0;
}

std::unique_ptr<Device> WinUsbBackend::open(const std::string &path, Outcome *outcome)
{
    auto fail = [outcome](Outcome reason) -> std::unique_ptr<Device> {
        if (outcome)
            *outcome = reason;
        return nullptr;
    };

    // Only device interface paths, and only ones that survive the trip to UTF-16 intact, name a
    // device of this backend.
    if (!ownsPath(path))
        return fail(Outcome::NoDevice);
    const std::optional<std::wstring> widePath = toWide(path);
    if (!widePath)
        return fail(Outcome::NoDevice);

    // OPEN_EXISTING: a device is never created by opening it, and a path that reaches the file
    // system instead of a device must not leave an empty file behind. WinUSB requires the
    // overlapped flag on the file even though every transfer here is synchronous.
    HANDLE file = CreateFileW(widePath->c_str(), GENERIC_READ | GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_FLAG_OVERLAPPED, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return fail(outcomeOfLastError());

    WINUSB_INTERFACE_HANDLE winUsb = nullptr;
    if (!WinUsb_Initialize(file, &winUsb)) {
        const Outcome reason = outcomeOfLastError();
        CloseHandle(file);
        return fail(reason);
    }

    if (outcome)
        *outcome = Outcome::Ok;
    return std::make_unique<WinUsbDevice>(file, winUsb);
}

} // namespace usb
