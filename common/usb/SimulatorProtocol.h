// Wire protocol between the simulator backend and the kit simulator (kitsim) over its local socket:
// length-prefixed binary frames, encoded and decoded by pure functions shared by both sides.
//
// Frame: payload length (u32, little-endian, 1..maxPayloadSize), then the payload: one kind byte and
// the fields of that kind, integers little-endian, texts and byte blocks as a length then the bytes.
// A connection either lists (List -> Paths) or opens one device (Open -> Status) and then carries
// that device's transfers until it is closed.
#pragma once

#include "UsbTypes.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace usb {

enum class SimulatorMessageKind : uint8_t {
    // Client to simulator.
    List = 0x01,         // interfaceClass
    Open = 0x02,         // path
    Pipes = 0x03,        // -
    PipeTimeout = 0x04,  // pipeId, value = milliseconds
    Control = 0x05,      // setup, data = OUT data (setup.length bytes for OUT, none for IN)
    BulkRead = 0x06,     // pipeId, value = most bytes wanted
    // Simulator to client.
    Paths = 0x81,        // paths
    Status = 0x82,       // outcome (answers Open and PipeTimeout)
    PipeList = 0x83,     // outcome, pipes
    ControlDone = 0x84,  // outcome, value = bytes moved, data = IN data (empty for OUT)
    BulkData = 0x85,     // outcome, data
};

// One message of either direction; only the fields of its kind are encoded.
struct SimulatorMessage {
    SimulatorMessageKind kind = SimulatorMessageKind::Status;
    Guid interfaceClass;
    std::string path;
    std::vector<std::string> paths;
    uint8_t pipeId = 0;
    uint32_t value = 0;
    SetupPacket setup;
    Outcome outcome = Outcome::Ok;
    std::vector<PipeInfo> pipes;
    std::vector<uint8_t> data;

    static SimulatorMessage list(const Guid &interfaceClass);
    static SimulatorMessage open(const std::string &path);
    static SimulatorMessage pipesQuery();
    static SimulatorMessage pipeTimeout(uint8_t pipeId, uint32_t milliseconds);
    static SimulatorMessage control(const SetupPacket &setup, std::vector<uint8_t> outData);
    static SimulatorMessage bulkRead(uint8_t pipeId, uint32_t length);
    static SimulatorMessage pathList(std::vector<std::string> paths);
    static SimulatorMessage status(Outcome outcome);
    static SimulatorMessage pipeList(Outcome outcome, std::vector<PipeInfo> pipes);
    static SimulatorMessage controlDone(Outcome outcome, uint32_t transferred,
                                        std::vector<uint8_t> inData);
    static SimulatorMessage bulkData(Outcome outcome, std::vector<uint8_t> data);
};

// Largest payload of a frame: room for a full 64 KiB control data stage or bulk read.
constexpr uint32_t simulatorMaxPayloadSize = 0x20000;
constexpr std::size_t simulatorFrameHeaderSize = 4;

// The whole frame (length prefix included). A message whose fields do not fit a frame (more than
// 65535 paths or texts of more than 65535 bytes, too much data) gives an empty vector.
std::vector<uint8_t> encodeSimulatorFrame(const SimulatorMessage &message);

enum class SimulatorDecode { Complete, Incomplete, Malformed };

// Decodes the frame at the start of `bytes`. Complete: *message is set and *consumed is the frame's
// size. Incomplete: the frame is not all there yet (nothing is set). Malformed: the declared length
// is out of range, or the payload is not exactly one well-formed message of a known kind. Never
// reads past `size`.
SimulatorDecode decodeSimulatorFrame(const uint8_t *bytes, std::size_t size,
                                     SimulatorMessage *message, std::size_t *consumed);

} // namespace usb
