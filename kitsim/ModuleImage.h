// Raw module flash images: loading one into a VirtualModule (with memory counters derived from its
// content) and writing a demo image with two logged tracks.
#pragma once

#include "VirtualModule.h"

#include <string>

class ModuleImage {
public:
    struct Counters {
        int32_t usedSize = 0;
        int32_t recordCount = 0;
    };

    // Loads the file into the module's flash; a file shorter than the 32 MiB flash leaves the rest
    // erased, and erased sectors take no memory. The used size is the end of the last 64-byte slot
    // (header pages count whole) holding anything but 0xFF, the write position the logger would
    // have; the records are the slots of data pages whose first byte is not 0xFF. False, with the
    // reason in *error, when the file cannot be read or is larger than the flash.
    static bool load(const std::string &path, VirtualModule &module, Counters *counters,
                     std::string *error);

    // Writes the flash of a module that logged two tracks: 300 fixes in V1 style, then 1200 fixes in
    // V5 style that run on into a second sector. The file ends at the last written page.
    static bool writeDemo(const std::string &path, std::string *error);
};
