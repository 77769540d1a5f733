// Reading the kit device declarations. The file is tiny and read as a whole; anything that does not
// parse is ignored rather than guessed at.
#include "KitDeclarations.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <sstream>

namespace usb {

namespace {

std::optional<uint16_t> hex16(const std::string &text)
{
    if (text.size() != 4)
        return std::nullopt;
    unsigned value = 0;
    for (char c : text) {
        if (!std::isxdigit(static_cast<unsigned char>(c)))
            return std::nullopt;
        value = value * 16 + static_cast<unsigned>(std::isdigit(static_cast<unsigned char>(c))
                                                        ? c - '0'
                                                        : std::tolower(static_cast<unsigned char>(c)) - 'a' + 10);
    }
    return static_cast<uint16_t>(value);
}

std::optional<KitDeclaration> parseLine(const std::string &line)
{
    std::istringstream words(line);
    std::string id, kind, interfaceText, extra;
    if (!(words >> id >> kind))
        return std::nullopt;
    words >> interfaceText >> extra;
    if (!extra.empty() || id.size() != 9 || id[4] != ':')
        return std::nullopt;
    const auto vendorId = hex16(id.substr(0, 4));
    const auto productId = hex16(id.substr(5, 4));
    if (!vendorId || !productId)
        return std::nullopt;
    KitDeclaration declaration;
    declaration.vendorId = *vendorId;
    declaration.productId = *productId;
    if (kind == "receptor")
        declaration.interfaceClass = kitReceptorClass();
    else if (kind == "module")
        declaration.interfaceClass = kitModuleClass();
    else
        return std::nullopt;
    if (!interfaceText.empty()) {
        if (interfaceText.size() > 3 || interfaceText.find_first_not_of("0123456789") != std::string::npos)
            return std::nullopt;
        const int number = std::stoi(interfaceText);
        if (number > 255)
            return std::nullopt;
        declaration.interfaceNumber = static_cast<uint8_t>(number);
    }
    return declaration;
}

} // namespace

Guid kitReceptorClass()
{
    return Guid{0x265D0004, 0x043B, 0x458E, {0xB9, 0xAA, 0xE5, 0xAD, 0x6E, 0x62, 0x32, 0x0C}};
}

Guid kitModuleClass()
{
    return Guid{0x86939D4C, 0xA46D, 0x4604, {0x81, 0xDF, 0x8B, 0xE2, 0x4B, 0x21, 0x1E, 0x48}};
}

std::vector<KitDeclaration> parseKitDeclarations(std::string_view text)
{
    std::vector<KitDeclaration> declarations;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos)
            end = text.size();
        std::string line(text.substr(start, end - start));
        start = end + 1;
        line.erase(std::min(line.find('#'), line.size()));
        if (line.find_first_not_of(" \t\r") == std::string::npos)
            continue;
        if (auto declaration = parseLine(line))
            declarations.push_back(*declaration);
    }
    return declarations;
}

std::vector<KitDeclaration> readKitDeclarations(const std::string &path)
{
    std::ifstream file(path);
    if (!file)
        return {};
    std::ostringstream text;
    text << file.rdbuf();
    return parseKitDeclarations(text.str());
}

const KitDeclaration *findKitDeclaration(const std::vector<KitDeclaration> &declarations, uint16_t vendorId,
                                         uint16_t productId)
{
    for (const KitDeclaration &declaration : declarations) {
        if (declaration.vendorId == vendorId && declaration.productId == productId)
            return &declaration;
    }
    return nullptr;
}

std::string kitKindName(const Guid &interfaceClass)
{
    if (interfaceClass == kitReceptorClass())
        return "receptor";
    if (interfaceClass == kitModuleClass())
        return "module";
    return {};
}

} // namespace usb
