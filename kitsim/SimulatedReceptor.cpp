// Reports are built here and posted to the emulated receptor; its command hook and the slot-flags
// read are the two moments at which beacons "transmit".
#include "SimulatedReceptor.h"

#include <cctype>
#include <cstdio>
#include <ctime>

namespace {

constexpr uint8_t deviceToHost = 0xC0;

// Radio figures of every report: a comfortable link.
constexpr uint8_t memoryPercent = 5;
constexpr uint16_t auxValue = 10;
constexpr int snrQuarterDb = 28;
constexpr int rssiDbm = -71;

std::string twoDigits(int value)
{
    char text[4];
    std::snprintf(text, sizeof text, "%02d", value % 100);
    return text;
}

} // namespace

SimulatedReceptor::SimulatedReceptor(const std::string &identification,
                                     std::map<std::string, BeaconTrack> tracks,
                                     std::map<std::string, std::string> names)
    : m_receptor(std::make_unique<VirtualReceptor>())
    , m_tracks(std::move(tracks))
    , m_names(std::move(names))
{
    m_receptor->setIdentification(identification);
    // The hook runs inside m_receptor->control(), called from this object's control().
    m_receptor->setCommandHook([this](const VirtualReceptor::Command &command) { onCommand(command); });
}

std::vector<usb::PipeInfo> SimulatedReceptor::pipes() const
{
    return m_receptor->pipes();
}

usb::Transfer SimulatedReceptor::control(const usb::SetupPacket &setup, uint8_t *data)
{
    if (setup.requestType == deviceToHost
        && setup.request == static_cast<uint8_t>(VirtualReceptor::Request::BeaconFlags))
        advanceStartedBeacons();
    return m_receptor->control(setup, data);
}

std::string SimulatedReceptor::serialText(const VirtualReceptor::Serial &serial)
{
    char text[13];
    std::snprintf(text, sizeof text, "%02x%02x%02x%02x%02x%02x", serial[0], serial[1], serial[2],
                  serial[3], serial[4], serial[5]);
    return text;
}

std::string SimulatedReceptor::defaultName(const std::string &serialText)
{
    std::string name = "SIM" + serialText.substr(serialText.size() - 4);
    for (char &c : name)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return name;
}

void SimulatedReceptor::onCommand(const VirtualReceptor::Command &command)
{
    if (command.slot < 0)
        return;
    switch (command.request) {
    case VirtualReceptor::Request::AddBeacon:
    case VirtualReceptor::Request::StopBeacon:
        postReport(command.serial, VirtualReceptor::stateStopped);
        break;
    case VirtualReceptor::Request::StartBeacon:
        postReport(command.serial, VirtualReceptor::stateStarted);
        break;
    default:
        break;
    }
}

void SimulatedReceptor::advanceStartedBeacons()
{
    const std::array<uint8_t, VirtualReceptor::slotCount> flags = m_receptor->flags();
    for (const VirtualReceptor::Serial &serial : m_receptor->registeredSerials()) {
        const int slot = m_receptor->slotOf(serial);
        if (slot < 0 || m_receptor->slotState(slot) != VirtualReceptor::stateStarted
            || (flags[slot] & VirtualReceptor::flagNewReport) != 0)
            continue;
        trackOf(serialText(serial)).advance();
        postReport(serial, VirtualReceptor::stateStarted);
    }
}

BeaconTrack &SimulatedReceptor::trackOf(const std::string &serialText)
{
    auto found = m_tracks.find(serialText);
    if (found == m_tracks.end())
        found = m_tracks.emplace(serialText, BeaconTrack::generated(serialText)).first;
    return found->second;
}

void SimulatedReceptor::postReport(const VirtualReceptor::Serial &serial, uint8_t state)
{
    const std::string text = serialText(serial);
    const BeaconTrack::Position &position = trackOf(text).current();

    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);

    VirtualReceptor::Report report;
    report.date = twoDigits(utc.tm_mday) + twoDigits(utc.tm_mon + 1) + twoDigits(utc.tm_year);
    report.time = twoDigits(utc.tm_hour) + twoDigits(utc.tm_min) + twoDigits(utc.tm_sec);
    report.latitude = BeaconTrack::latitudeText(position.latitude);
    report.longitude = BeaconTrack::longitudeText(position.longitude);
    const auto named = m_names.find(text);
    report.name = named != m_names.end() ? named->second : defaultName(text);
    report.memory = memoryPercent;
    report.state = state;
    report.auxValue = auxValue;
    report.snrQuarterDb = snrQuarterDb;
    report.rssiDbm = rssiDbm;
    m_receptor->postReport(serial, report);
}
