// Descriptor bytes written out in tests, their lengths computed: parts joined, and little-endian
// words.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <vector>

namespace descriptorbytes
{
using Bytes = std::vector<uint8_t>;

inline Bytes cat(std::initializer_list<Bytes> parts)
{
    Bytes all;
    for (const Bytes &part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

inline Bytes le16(std::size_t v)
{
    return {uint8_t(v), uint8_t(v >> 8)};
}

inline Bytes le32(std::size_t v)
{
    return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
}
} // namespace descriptorbytes
