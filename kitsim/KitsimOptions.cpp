// Option parsing: "--name value" and "--name=value" forms; device texts are checked here so that a
// mistake is reported before the simulator starts serving.
#include "KitsimOptions.h"

#include <algorithm>
#include <cctype>
#include <set>

namespace {

constexpr std::size_t moduleSerialSize = 12;
constexpr std::size_t beaconSerialSize = 12;
constexpr std::size_t nameMax = 8;
constexpr std::size_t receptorIdMax = 12;

bool isNameChar(char c)
{
    // The station refuses a beacon name with other characters, and the manager a module name.
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_';
}

bool validName(const std::string &name)
{
    return !name.empty() && name.size() <= nameMax && std::all_of(name.begin(), name.end(), isNameChar);
}

std::string lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); });
    return text;
}

// Splits "A,B" at the first comma; false when there is none.
bool splitPair(const std::string &text, std::string *first, std::string *rest)
{
    const std::size_t comma = text.find(',');
    if (comma == std::string::npos)
        return false;
    *first = text.substr(0, comma);
    *rest = text.substr(comma + 1);
    return true;
}

} // namespace

bool KitsimOptions::validModuleSerial(const std::string &serial)
{
    return serial.size() == moduleSerialSize
           && std::all_of(serial.begin(), serial.end(),
                          [](char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0; });
}

bool KitsimOptions::validBeaconSerial(const std::string &serial)
{
    return serial.size() == beaconSerialSize
           && std::all_of(serial.begin(), serial.end(),
                          [](char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; });
}

const char *KitsimOptions::usage()
{
    return "Usage: kitsim [--receptor] [--module SERIAL,NAME,IMAGE]... [options]\n"
           "  or:  kitsim --write-demo-image FILE\n"
           "\n"
           "Serves a virtual receptor and virtual GPS logger modules to Korvane and Quorvel over\n"
           "the socket $XDG_RUNTIME_DIR/korvane-kitsim.sock (/tmp/korvane-kitsim-<uid>.sock when\n"
           "XDG_RUNTIME_DIR is unset).\n"
           "\n"
           "  --module SERIAL,NAME,IMAGE  a module: SERIAL of 12 letters or digits, NAME of 1 to 8\n"
           "                              letters, digits or '_', IMAGE a raw flash image (up to\n"
           "                              32 MiB; the rest reads erased). Erase and rename change the\n"
           "                              simulator's copy only, never the file. Repeatable.\n"
           "  --receptor                  the receptor, with 20 beacon slots\n"
           "  --receptor-id TEXT          its identification, up to 12 characters (KITSIM000001)\n"
           "  --track SERIAL,FILE         positions of beacon SERIAL (12 hex digits): lines of\n"
           "                              latitude;longitude in decimal degrees, replayed in a loop.\n"
           "                              Beacons without one walk a loop of their own. Repeatable.\n"
           "  --beacon-name SERIAL,NAME   name the beacon reports (default SIM + last 4 serial digits)\n"
           "  --write-demo-image FILE     write a module image holding two demo tracks, then exit\n"
           "  -h, --help                  this text\n"
           "\n"
           "A beacon added by the station reports its position once, and once more at each start\n"
           "and stop. While started it reports once per scan: each slot-flags read gives every\n"
           "started beacon whose last report was read its next position, stamped with the current\n"
           "UTC date and time.\n"
           "\n"
           "Lines on standard input: 'unplug SERIAL', 'plug SERIAL' (a module's SERIAL, or\n"
           "'receptor'), 'quit'. End of input does not stop kitsim; SIGINT and SIGTERM do.\n"
           "Bad options exit with status 2.\n";
}

std::optional<KitsimOptions> KitsimOptions::parse(int argc, const char *const *argv, std::string *error)
{
    KitsimOptions options;
    bool idGiven = false;
    std::set<std::string> moduleSerials;

    auto fail = [error](const std::string &message) {
        *error = message;
        return std::nullopt;
    };

    for (int i = 1; i < argc; ++i) {
        std::string option = argv[i];
        std::optional<std::string> value;
        const std::size_t equals = option.find('=');
        if (option.rfind("--", 0) == 0 && equals != std::string::npos) {
            value = option.substr(equals + 1);
            option.resize(equals);
        }
        const bool takesValue = option == "--module" || option == "--receptor-id" || option == "--track"
                                || option == "--beacon-name" || option == "--write-demo-image";
        if (takesValue && !value) {
            if (i + 1 >= argc)
                return fail("option " + option + " needs a value");
            value = argv[++i];
        } else if (!takesValue && value) {
            return fail("option " + option + " takes no value");
        }

        if (option == "--help" || option == "-h") {
            options.help = true;
        } else if (option == "--receptor") {
            options.receptor = true;
        } else if (option == "--module") {
            Module module;
            std::string rest;
            if (!splitPair(*value, &module.serial, &rest) || !splitPair(rest, &module.name, &module.image))
                return fail("--module wants SERIAL,NAME,IMAGE, not '" + *value + "'");
            if (!validModuleSerial(module.serial))
                return fail("bad module serial '" + module.serial + "': 12 letters or digits expected");
            if (!validName(module.name))
                return fail("bad module name '" + module.name
                            + "': 1 to 8 letters, digits or '_' expected");
            if (module.image.empty())
                return fail("--module " + module.serial + " lacks its image file");
            if (!moduleSerials.insert(lower(module.serial)).second)
                return fail("module serial " + module.serial + " given twice");
            options.modules.push_back(module);
        } else if (option == "--receptor-id") {
            if (value->size() > receptorIdMax
                || !std::all_of(value->begin(), value->end(),
                                [](char c) { return c > ' ' && c < 0x7F; }))
                return fail("bad receptor identification '" + *value
                            + "': up to 12 printable characters expected");
            options.receptorId = *value;
            idGiven = true;
        } else if (option == "--track" || option == "--beacon-name") {
            std::string serial, rest;
            if (!splitPair(*value, &serial, &rest))
                return fail(option + " wants SERIAL," + (option == "--track" ? "FILE" : "NAME") + ", not '"
                            + *value + "'");
            if (!validBeaconSerial(serial))
                return fail("bad beacon serial '" + serial + "': 12 hexadecimal digits expected");
            if (option == "--track") {
                if (rest.empty())
                    return fail("--track " + serial + " lacks its file");
                options.tracks[lower(serial)] = rest;
            } else {
                if (!validName(rest))
                    return fail("bad beacon name '" + rest
                                + "': 1 to 8 letters, digits or '_' expected");
                options.beaconNames[lower(serial)] = rest;
            }
        } else if (option == "--write-demo-image") {
            if (value->empty())
                return fail("--write-demo-image needs a file name");
            options.demoImage = *value;
        } else {
            return fail("unknown option '" + std::string(argv[i]) + "'");
        }
    }

    if (options.help)
        return options;
    if (!options.demoImage.empty()) {
        if (options.receptor || !options.modules.empty() || idGiven || !options.tracks.empty()
            || !options.beaconNames.empty())
            return fail("--write-demo-image goes alone");
        return options;
    }
    if (!options.receptor && (idGiven || !options.tracks.empty() || !options.beaconNames.empty()))
        return fail("--receptor-id, --track and --beacon-name need --receptor");
    if (!options.receptor && options.modules.empty())
        return fail("nothing to simulate: give --receptor and/or --module");
    return options;
}
