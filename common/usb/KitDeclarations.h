// The kit's two device interface classes, and the declarations of kit devices that carry no
// Microsoft OS descriptors: one line per vendor:product id in a small list file, read by the
// backend and by the udev helper alike, e.g.
//     # vendor:product  kind      [interface]
//     1209:0001         receptor
//     1209:0002         module    0
#pragma once

#include "UsbTypes.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace usb {

// {265D0004-043B-458E-B9AA-E5AD6E62320C} and {86939D4C-A46D-4604-81DF-8BE24B211E48}.
Guid kitReceptorClass();
Guid kitModuleClass();

// Where both programs and the udev helper look for the declarations.
constexpr const char *defaultKitDeclarationsPath = "/etc/korvane/usb-devices";

struct KitDeclaration {
    uint16_t vendorId = 0;
    uint16_t productId = 0;
    Guid interfaceClass;
    // The interface the class is declared on; without one, the first vendor-specific interface
    // (interface 0 when there is none).
    std::optional<uint8_t> interfaceNumber;
};

// The well-formed lines of a declarations text; blank lines, '#' comments and malformed lines are
// skipped. Kinds are "receptor" and "module".
std::vector<KitDeclaration> parseKitDeclarations(std::string_view text);
// The declarations of a file; none when it is missing or unreadable.
std::vector<KitDeclaration> readKitDeclarations(const std::string &path);
// The declaration of a vendor:product id, or null.
const KitDeclaration *findKitDeclaration(const std::vector<KitDeclaration> &declarations, uint16_t vendorId,
                                         uint16_t productId);
// "receptor" or "module" for the kit's classes, empty for any other.
std::string kitKindName(const Guid &interfaceClass);

} // namespace usb
