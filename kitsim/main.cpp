// kitsim: serves a virtual receptor and virtual GPS logger modules to Korvane and Quorvel through
// the USB access layer's simulator backend, so that both programs can be tried without hardware.
#include "BeaconTrack.h"
#include "KitsimOptions.h"
#include "ModuleImage.h"
#include "SimulatedReceptor.h"
#include "SimulatorBackend.h"
#include "SimulatorServer.h"
#include "VirtualModule.h"

#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr int exitFailure = 1;
constexpr int exitBadInput = 2;

// Device interface classes under which the programs look for their devices.
const usb::Guid receptorClass{0x265D0004, 0x043B, 0x458E, {0xB9, 0xAA, 0xE5, 0xAD, 0x6E, 0x62, 0x32, 0x0C}};
const usb::Guid moduleClass{0x86939D4C, 0xA46D, 0x4604, {0x81, 0xDF, 0x8B, 0xE2, 0x4B, 0x21, 0x1E, 0x48}};

int stopPipe[2] = {-1, -1};

void onStopSignal(int)
{
    const char byte = 's';
    [[maybe_unused]] const ssize_t n = ::write(stopPipe[1], &byte, 1);
}

int badInput(const std::string &message)
{
    std::fprintf(stderr, "kitsim: %s\nTry 'kitsim --help'.\n", message.c_str());
    return exitBadInput;
}

bool installSignals()
{
    if (::pipe2(stopPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return false;
    struct sigaction stop {};
    stop.sa_handler = onStopSignal;
    sigemptyset(&stop.sa_mask);
    sigaction(SIGINT, &stop, nullptr);
    sigaction(SIGTERM, &stop, nullptr);
    // A client that disconnects mid-reply must not kill the simulator; reading a terminal while in
    // the background then fails instead of stopping the process.
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGTTIN, SIG_IGN);
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    std::setvbuf(stdout, nullptr, _IOLBF, 0);

    std::string error;
    const std::optional<KitsimOptions> options = KitsimOptions::parse(argc, argv, &error);
    if (!options)
        return badInput(error);
    if (options->help) {
        std::fputs(KitsimOptions::usage(), stdout);
        return 0;
    }
    if (!options->demoImage.empty()) {
        if (!ModuleImage::writeDemo(options->demoImage, &error)) {
            std::fprintf(stderr, "kitsim: %s\n", error.c_str());
            return exitFailure;
        }
        std::printf("kitsim: wrote demo module image %s\n", options->demoImage.c_str());
        return 0;
    }

    SimulatorServer server(usb::SimulatorBackend::socketPath());

    if (options->receptor) {
        std::map<std::string, BeaconTrack> tracks;
        for (const auto &[serial, file] : options->tracks) {
            std::optional<BeaconTrack> track = BeaconTrack::fromFile(file, &error);
            if (!track)
                return badInput(error);
            tracks.emplace(serial, std::move(*track));
        }
        auto receptor = std::make_shared<SimulatedReceptor>(options->receptorId, std::move(tracks),
                                                            options->beaconNames);
        server.addDevice("receptor", receptorClass, "sim:receptor", receptor);
        std::printf("kitsim: receptor %s at sim:receptor\n", options->receptorId.c_str());
    }

    for (const KitsimOptions::Module &given : options->modules) {
        auto module = std::make_shared<VirtualModule>(given.serial, given.name);
        ModuleImage::Counters counters;
        if (!ModuleImage::load(given.image, *module, &counters, &error))
            return badInput(error);
        const std::string path = "sim:module-" + given.serial;
        server.addDevice(given.serial, moduleClass, path, module);
        std::printf("kitsim: module %s %s at %s: %d records, %d bytes used\n", given.serial.c_str(),
                    given.name.c_str(), path.c_str(), counters.recordCount, counters.usedSize);
    }

    if (!installSignals()) {
        std::fprintf(stderr, "kitsim: cannot set up signal handling\n");
        return exitFailure;
    }
    if (!server.listen(&error)) {
        std::fprintf(stderr, "kitsim: %s\n", error.c_str());
        return exitFailure;
    }
    std::printf("kitsim: listening on %s\n", usb::SimulatorBackend::socketPath().c_str());

    server.run(STDIN_FILENO, stopPipe[0]);
    std::printf("kitsim: stopped\n");
    return 0;
}
