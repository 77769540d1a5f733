// Sector header page layout: '*' at 0, date at 1 (6), time at 7 (10), frequency at 17 (3), '1' at 20.
#include "SectorHeader.h"

#include <cstring>

namespace
{
// A fixed-width text field, cut at its first zero byte.
QByteArray textField(const char *bytes, int width)
{
    const void *zero = std::memchr(bytes, 0, static_cast<size_t>(width));
    const int length = zero ? static_cast<int>(static_cast<const char *>(zero) - bytes) : width;
    return QByteArray(bytes, length);
}
}

SectorHeader SectorHeader::parse(const char *page)
{
    SectorHeader header;
    header.hasData = page[0] == '*';
    header.date = textField(page + 1, 6);
    header.time = textField(page + 7, 10);
    header.frequency = textField(page + 17, 3);
    header.trackStart = page[20] == '1';
    return header;
}
