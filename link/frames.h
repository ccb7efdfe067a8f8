#pragma once
// Frames on the line. PC to ECU: 6-byte commands (0x00, command byte, "aaaa") and
// 9-byte upload frames. ECU to PC: 12-byte frames "H", "P", kind, 8 payload bytes, "F",
// recognised also when one or two leading bytes were lost and blanks follow the "F".
#include <QByteArray>
#include <array>
#include <cstdint>

namespace frames {

enum Command : std::uint8_t { ReadRequest = 0x33, EndOfUpload = 0x48, ScannerPoll = 0x7F, ScannerStop = 0xD9 };
QByteArray command(Command c); // 00 cc 61 61 61 61

struct Frame {
    int kind = 0;            // 0: nothing recognised
    bool hasPayload = false; // false for a 9-byte read: no payload byte may be used
    std::array<std::uint8_t, 8> p{};
};

// The resynchronisation rule for a read of 12 bytes (or 9); any other length gives kind 0.
Frame recognise(const QByteArray &bytes);

} // namespace frames
