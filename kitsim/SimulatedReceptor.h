// The receptor kitsim serves: the emulated receptor's slot table, with beacons that report on their
// own. A beacon the station adds reports once, and once more at each start and stop; while started
// it reports once per scan: each slot-flags read first gives every started beacon whose last report
// was read its next position. Every report carries the current UTC date and time.
#pragma once

#include "BeaconTrack.h"
#include "VirtualReceptor.h"

#include <map>
#include <memory>
#include <string>

class SimulatedReceptor final : public usb::VirtualDevice {
public:
    // `tracks` and `names` are keyed by lower-case serial text; beacons without a track walk a
    // generated loop, beacons without a name report "SIM" and the last four serial digits.
    SimulatedReceptor(const std::string &identification, std::map<std::string, BeaconTrack> tracks,
                      std::map<std::string, std::string> names);

    std::vector<usb::PipeInfo> pipes() const override;
    usb::Transfer control(const usb::SetupPacket &setup, uint8_t *data) override;

    VirtualReceptor &receptor() { return *m_receptor; }

    static std::string serialText(const VirtualReceptor::Serial &serial);
    static std::string defaultName(const std::string &serialText);

private:
    void onCommand(const VirtualReceptor::Command &command);
    void postReport(const VirtualReceptor::Serial &serial, uint8_t state);
    void advanceStartedBeacons();
    BeaconTrack &trackOf(const std::string &serialText);

    std::unique_ptr<VirtualReceptor> m_receptor;
    std::map<std::string, BeaconTrack> m_tracks;
    std::map<std::string, std::string> m_names;
};
