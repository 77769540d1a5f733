// The command line of kitsim, parsed and checked before anything is loaded or served.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

class KitsimOptions {
public:
    struct Module {
        std::string serial;  // 12 letters or digits
        std::string name;    // 1 to 8 letters, digits or '_'
        std::string image;   // raw flash image file
    };

    std::vector<Module> modules;
    bool receptor = false;
    std::string receptorId = "KITSIM000001";       // up to 12 characters
    std::map<std::string, std::string> tracks;      // beacon serial (lower case) -> track file
    std::map<std::string, std::string> beaconNames; // beacon serial (lower case) -> name
    std::string demoImage;                          // --write-demo-image
    bool help = false;

    // Parses argv[1..]. Nothing, with the reason in *error, when an option is unknown, lacks its
    // value or carries a malformed one, or the options do not go together.
    static std::optional<KitsimOptions> parse(int argc, const char *const *argv, std::string *error);
    static const char *usage();

    static bool validModuleSerial(const std::string &serial);
    static bool validBeaconSerial(const std::string &serial);
};
