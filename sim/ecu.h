#pragma once
// The ECU side of the serial line: its parameter memory, the frames it sends and
// the way it cuts the incoming byte stream into upload frames and commands.
// This is the counterpart of the tool, so it states the line protocol on its own
// and shares no code with the tool.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace ecusim {

constexpr int kImageSize = 256;
constexpr int kBlockCount = 32;
constexpr int kFrameSize = 12;       // "H", "P", kind, 8 payload bytes, "F"
constexpr int kUploadFrameSize = 9;  // block number, 8 bytes
constexpr int kCommandSize = 6;      // 0x00, command, "aaaa"

constexpr std::uint8_t kCmdReadRequest = 0x33;
constexpr std::uint8_t kCmdEndOfUpload = 0x48;
constexpr std::uint8_t kCmdPoll = 0x7F;
constexpr std::uint8_t kCmdStop = 0xD9;

constexpr int kFirstReadBackKind = 1;
constexpr int kLastReadBackKind = 26;

using Bytes = std::vector<std::uint8_t>;
using Image = std::array<std::uint8_t, kImageSize>;
using Payload = std::array<std::uint8_t, 8>;

// The image the ECU holds as delivered: what an upload of the tool's start-up
// screen writes.
Image defaultImage();

// One 12-byte frame of the given kind.
Bytes makeFrame(std::uint8_t kind, const Payload &payload);

// Payload of read-back kind 1..26 taken from the image: the inverse of the upload
// layout, so that an upload followed by a read-back gives the same screen.
Payload readBackPayload(const Image &image, int kind);

// Frames sent while the line is out of step: the "H" lost (a blank after the
// "F"), or both header letters lost (two blanks after the "F").
enum class Fault { None, LoseH, LoseHP };
Bytes applyFault(const Bytes &frame, Fault fault);
const char *faultName(Fault fault);

// The parameter memory: the committed image and the blocks of an upload that
// has not ended yet. The first frame after a commit starts the staging copy
// from the committed image; the end-of-upload command takes it over as a whole.
class ParameterMemory {
public:
    ParameterMemory() : m_image(defaultImage()), m_staging(m_image) {}
    const Image &image() const { return m_image; }
    bool uploadPending() const { return m_pending; }
    // block 1..32, eight bytes
    void storeBlock(int block, const std::uint8_t *bytes);
    // true when there was something to take over
    bool commit();

private:
    Image m_image;
    Image m_staging;
    bool m_pending = false;
};

// Cuts the bytes from the tool into units. A zero byte starts a 6-byte command,
// 1..32 a 9-byte upload frame; any other leading byte is dropped. A unit whose
// bytes stop coming for longer than the gap limit is discarded, so that a write
// cut short does not put the ECU out of step for good.
class InputParser {
public:
    struct Unit {
        enum Type { UploadFrame, Command, BadCommand, Dropped, Incomplete };
        Type type;
        Bytes bytes;
    };

    explicit InputParser(double gapLimit = 0.1) : m_gapLimit(gapLimit) {}
    void feed(const std::uint8_t *data, std::size_t size, double now, std::vector<Unit> &out);
    // Discards a partial unit whose bytes stopped before now - gap limit.
    void expire(double now, std::vector<Unit> &out);
    bool hasPartial() const { return !m_partial.empty(); }
    double partialDeadline() const { return m_lastByte + m_gapLimit; }

private:
    Bytes m_partial;
    std::size_t m_expected = 0;
    double m_lastByte = 0;
    double m_gapLimit;
};

// A small engine: the values the live-data frames report, derived from the
// operating point that the control channel sets and from the parameter image.
struct Engine {
    int rpm = 900;
    int tps = 150;            // converter steps, 0..1023
    int loadOverride = -1;    // load position 0..42, -1: follow the TPS
    int speedOverride = -1;   // speed position 0..48, -1: follow the RPM
    int temp = 85;            // °C
    int atm = 1000;           // mbar
    bool ac = false;
    bool fan = false;         // electro-fan, switched by the image's thresholds
    std::uint32_t cycle = 0;  // live triples sent, for the probe swing
};

int speedPosition(const Image &image, int rpm);
int loadPosition(const Image &image, int tps);
int tpsColumn(const Image &image, int tps);
// Kinds 29, 30, 31 for the current operating point; advances the cycle and the
// fan switch.
std::array<Bytes, 3> liveFrames(const Image &image, Engine &engine);

// Counters the diagnostic frames report.
struct Counters {
    std::uint32_t uploadFrames = 0;
    std::uint32_t commits = 0;
    std::uint32_t readRequests = 0;
    std::uint32_t polls = 0;
    std::uint32_t stops = 0;
    std::uint32_t dropped = 0;
};
// Kinds 32, 33, 34.
std::array<Bytes, 3> diagnosticFrames(const Image &image, const Engine &engine,
                                      const Counters &counters);

std::string hex(const std::uint8_t *data, std::size_t size);
inline std::string hex(const Bytes &bytes) { return hex(bytes.data(), bytes.size()); }

} // namespace ecusim
