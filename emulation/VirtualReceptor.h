// The device side of the receptor's vendor protocol on the emulated bus: a table of 20 beacon slots
// that answers the station's control requests, and a scripting interface through which tests and the
// simulator post beacon reports and look at what the station commanded.
#pragma once

#include "EmulatedBus.h"

#include <array>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

class VirtualReceptor final : public usb::VirtualDevice
{
public:
    static constexpr int slotCount = 20;
    static constexpr std::size_t serialSize = 6;
    static constexpr std::size_t infoBlockSize = 56;
    static constexpr std::size_t qualityBlockSize = 6;
    static constexpr std::size_t identificationSize = 24;

    // Request codes; commands come with request type 0x40, reads with 0xC0.
    enum class Request : uint8_t {
        Identification = 0x01,
        AddBeacon = 0x50,
        DelBeacon = 0x51,
        BeaconFlags = 0x52,
        BeaconInfo = 0x53,
        StartBeacon = 0x54,
        StopBeacon = 0x55,
        BeaconQuality = 0x56,
        Bootloader = 0x70,
    };

    // Slot-flag bits of the flags reply.
    static constexpr uint8_t flagRegistered = 0x01;
    static constexpr uint8_t flagNewReport = 0x02;

    // Beacon run states as the information block carries them.
    static constexpr uint8_t stateStopped = 0;
    static constexpr uint8_t stateStarted = 2;

    using Serial = std::array<uint8_t, serialSize>;
    using InfoBlock = std::array<uint8_t, infoBlockSize>;
    using Identification = std::array<uint8_t, identificationSize>;

    // One report of a beacon as the receptor received it by radio. Texts longer than their field
    // are cut; shorter ones are followed by 0 bytes.
    struct Report {
        std::string date;       // "ddMMyy"
        std::string time;       // "hhmmss"
        std::string latitude;   // "dddd.dddddN", 11 characters
        std::string longitude;  // "ddddd.dddddE", 12 characters
        std::string name;       // up to 8 characters
        uint8_t memory = 0;
        uint8_t state = stateStopped;  // also becomes the slot's state
        uint16_t auxValue = 0;
        int snrQuarterDb = 0;   // sent as a signed byte, clamped
        int rssiDbm = -157;     // sent as rssi + 157 in an unsigned byte, clamped
        // When set, the information reply is these bytes as they are (malformed blocks included);
        // the fields above then only give the slot state and the radio quality.
        std::optional<InfoBlock> raw;
    };

    // A command received from the host, passed to the command hook.
    struct Command {
        Request request = Request::AddBeacon;
        Serial serial{};        // add, delete, start and stop
        uint16_t interval = 0;  // start: measurement interval in tenths of a second
        int slot = -1;          // slot of the serial after the command ran, -1 if none
    };
    using CommandHook = std::function<void(const Command &)>;

    VirtualReceptor();

    // usb::VirtualDevice
    std::vector<usb::PipeInfo> pipes() const override;
    usb::Transfer control(const usb::SetupPacket &setup, uint8_t *data) override;

    // Scripting. A report goes to a registered slot only and raises its new-report flag; false
    // when the slot is out of range or free, or the serial unknown.
    bool setReport(int slot, const Report &report);
    bool postReport(const Serial &serial, const Report &report);

    // Registers a serial as the add command would; returns its slot or -1 when the table is full.
    int registerSerial(const Serial &serial);

    // Serials of the registered slots in slot order, and the slot of one serial (-1 if unknown).
    std::vector<Serial> registeredSerials() const;
    int slotOf(const Serial &serial) const;
    // The 20 slot-flag bytes as the flags request would return them (reading changes nothing).
    std::array<uint8_t, slotCount> flags() const;
    // Run state of a slot (stopped for a free or out-of-range slot).
    uint8_t slotState(int slot) const;

    // Interval of the last start command received, nothing before the first.
    std::optional<uint16_t> lastStartInterval() const;
    bool bootloaderRequested() const;

    // The 24 bytes of the identification reply.
    void setIdentification(const Identification &bytes);
    // Identification from a text: its first 24 bytes, padded with 0 bytes.
    void setIdentification(const std::string &text);

    // Called after each command from the host, on the transferring thread, with the receptor's
    // lock released: the hook may script the receptor (for instance post a report).
    void setCommandHook(CommandHook hook);

private:
    struct Slot {
        bool registered = false;
        bool newReport = false;
        Serial serial{};
        uint8_t state = stateStopped;
        std::optional<Report> report;
    };

    usb::Transfer handleCommand(const usb::SetupPacket &setup, const uint8_t *data,
                                std::optional<Command> *command);
    usb::Transfer handleRead(const usb::SetupPacket &setup, uint8_t *data);
    int findSlotLocked(const Serial &serial) const;
    int registerLocked(const Serial &serial);
    bool setReportLocked(int slot, const Report &report);
    std::array<uint8_t, slotCount> flagsLocked() const;
    InfoBlock infoBlockLocked(int slot) const;
    static bool validSlot(int slot) { return slot >= 0 && slot < slotCount; }

    mutable std::mutex m_mutex;
    std::array<Slot, slotCount> m_slots;
    Identification m_identification{};
    std::optional<uint16_t> m_lastStartInterval;
    bool m_bootloader = false;
    CommandHook m_hook;
};
