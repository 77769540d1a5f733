// Logs tracks into a VirtualModule's flash the way the module firmware does: a header page opens each
// 64 KiB sector ('*', start date, start time, frequency, '1' when a track starts there), and the other
// 255 pages each hold four 64-byte text position records.
#pragma once

#include "VirtualModule.h"

#include <cstdint>
#include <string>

class ModuleFlashWriter {
public:
    // How a record writes its coordinates: V1 with a decimal point ("4807.0380"), V5 with an implied
    // one (4 or 5 digits of degrees and minutes, then 5 digits of fraction: "480703800").
    enum class CoordinateStyle { V1, V5 };

    // One fix. Latitude and longitude are degrees × 100 + minutes (4807.038 is 48° 07.038'), not
    // negative; the hemisphere letters give the sign. A NaN speed, altitude or DOP is left blank.
    struct Fix {
        int year = 2020, month = 1, day = 1;
        int hour = 0, minute = 0, second = 0, millisecond = 0;
        double latitude = 0;
        char latitudeHemisphere = 'N';
        double longitude = 0;
        char longitudeHemisphere = 'E';
        double speed = 0;
        double altitude = 0;
        double pdop = 1, hdop = 1, vdop = 1;
    };

    // Logs on from the module's used size and record count (a fresh module: from address 0), and
    // keeps both up to date: the used size is the address after the last slot written.
    explicit ModuleFlashWriter(VirtualModule &module);

    // Opens a new track at the start of the next sector not yet written, header byte 20 = '1'. The
    // texts are stored as given, zero-padded to 6, 10 and 3 bytes.
    void startTrack(const std::string &date, const std::string &time, const std::string &frequency);
    // Moves the current track on to the next sector (header byte 20 = '0'); also happens by itself
    // when a sector is full. Records appended before any track get such a continuation header.
    void continueTrack();

    void appendFix(const Fix &fix, CoordinateStyle style);
    // Appends one record from raw text, cut or blank-padded to 64 bytes.
    void appendRecord(const std::string &text);
    // Leaves one slot erased (0xFF), as the firmware does when it skips a record.
    void appendEmptySlot();

    // Byte address of the next slot; equals the module's used size.
    uint32_t cursor() const { return m_cursor; }

    static constexpr std::size_t recordSize = 64;
    static std::string formatRecord(const Fix &fix, CoordinateStyle style);
    static VirtualModule::Page headerPage(const std::string &date, const std::string &time,
                                          const std::string &frequency, bool trackStart);

private:
    void openSector(bool trackStart);
    void writeSlot(const uint8_t *bytes, bool counts);

    VirtualModule &m_module;
    uint32_t m_cursor;
    int32_t m_records;
    std::string m_date, m_time, m_frequency;  // texts of the current track
};
