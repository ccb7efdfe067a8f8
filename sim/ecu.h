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
constexpr int kFrameSize = 12;      // "H", "P", kind, 8 payload bytes, "F"
constexpr int kUploadFrameSize = 9; // block number, 8 bytes
constexpr int kCommandSize = 6;     // 0x00, command, "aaaa"

constexpr std::uint8_t kCmdReadRequest = 0x33;
constexpr std::uint8_t kCmdEndOfUpload = 0x48;
constexpr std::uint8_t kCmdPoll = 0x7F;
constexpr std::uint8_t kCmdStop = 0xD9;

constexpr int kFirstReadBackKind = 1;
constexpr int kLastReadBackKind = 26;

// Offsets in the image of the curves and single parameters the ECU reads.
inline constexpr int kTiCurve = 144;
inline constexpr int kAdvanceCurve = 168;
inline constexpr int kIdleCurve = 192;
inline constexpr int kAtmCurve = 216;

// Single parameters.
inline constexpr int kLambdaIdle = 226, kLambdaPart = 227, kLambdaFull = 228, kLambdaType = 229;
inline constexpr int kLambdaSource = 230, kLambdaTemp = 231, kLambdaActivity = 232;
inline constexpr int kQuickSource = 233, kQuickShort = 234, kQuickLong = 235, kQuickDecrement = 236;
inline constexpr int kWheel = 237, kTooth = 238, kRpmLimit = 239, kMapCombination = 240;
inline constexpr int kCrankAdvance = 241, kSpeedScale = 242, kCoilCharge = 243, kZeroPoint = 244;
inline constexpr int kTpsMin = 245, kTpsMax = 246;
inline constexpr int kCutOff = 248, kCutOn = 249; // injectors off, on again: hundreds of rpm
inline constexpr int kFanOn = 250, kFanOff = 251, kFanTi = 252, kFanIdle = 253, kAcTi = 254, kAcIdle = 255;

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
    ParameterMemory() : image_(defaultImage()), staging_(image_) {}
    const Image &image() const { return image_; }
    bool uploadPending() const { return pending_; }
    // block 1..32, eight bytes
    void storeBlock(int block, const std::uint8_t *bytes);
    // true when there was something to take over
    bool commit();

private:
    Image image_;
    Image staging_;
    bool pending_ = false;
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

    explicit InputParser(double gapLimit = 0.1) : gapLimit_(gapLimit) {}
    void feed(const std::uint8_t *data, std::size_t size, double now, std::vector<Unit> &out);
    // Discards a partial unit whose bytes stopped before now - gap limit.
    void expire(double now, std::vector<Unit> &out);
    bool hasPartial() const { return !partial_.empty(); }
    double partialDeadline() const { return lastByte_ + gapLimit_; }

private:
    Bytes partial_;
    std::size_t expected_ = 0;
    double lastByte_ = 0;
    double gapLimit_;
};

// A small engine: the values the live-data frames report, derived from the
// operating point that the control channel sets and from the parameter image.
struct Engine {
    int rpm = 900;
    int tps = 150;          // converter steps, 0..1023
    int loadOverride = -1;  // load position 0..42, -1: follow the TPS
    int speedOverride = -1; // speed position 0..48, -1: follow the RPM
    int temp = 85;          // °C
    int atm = 1000;         // mbar
    bool ac = false;
    bool fan = false;        // electro-fan, switched by the image's thresholds
    std::uint32_t cycle = 0; // live triples sent, for the probe swing
};

int speedPosition(const Image &image, int rpm);
int loadPosition(const Image &image, int tps);
int tpsColumn(const Image &image, int tps);

// Where the engine runs and what its sensors and closed loops say: the input of
// the live values, whether it comes from the steady engine or from a drive.
struct OperatingPoint {
    int rpm = 0;
    int tps = 0;
    int load = 0;   // load position 0..42
    int speed = 0;  // speed position 0..48
    int temp = 0;   // °C
    int atm = 1000; // mbar
    bool ac = false;
    bool fan = false;
    bool cut = false;  // overrun cut-off: no injection
    int probe = 0;     // lambda probe, tens of mV
    int shortCorr = 0; // probe corrections, percent
    int longCorr = 0;
    int trim = 0; // percent added to the injection-time corrections
};

// The values the live-data frames carry, in the units of the frames.
struct LiveValues {
    // kind 29
    int temp = 0; // °C, unsigned byte
    int mapColumn = 0;
    int idle = 0;  // idle-actuator opening, percent
    int probe = 0; // tens of mV
    int tps = 0;   // converter steps, 0..1023
    int tpsColumn = 0;
    int load = 0; // 0..42
    // kind 30
    int advance = 0;   // degrees
    int speed = 0;     // 0..48
    int injection = 0; // injection time in tenths of ms, times 4
    int atmStep = 0;   // (mbar - 820) / 20
    int period = 0;    // 1200000 / rpm, 0 when stopped
    bool pump = false;
    // kind 31, corrections signed
    int shortCorr = 0;
    int longCorr = 0;
    int tempCorr = 0;
    int atmCorr = 0;
    int advCorr = 0;
    bool fan = false;
    bool ac = false;

    bool operator==(const LiveValues &) const = default;
};

// The live values at an operating point: advance and injection time from the
// maps and the correction curves of the image.
LiveValues liveValues(const Image &image, const OperatingPoint &point);
// Kinds 29, 30, 31 carrying the values (each cut to the bytes of its field).
std::array<Bytes, 3> encodeLive(const LiveValues &values);
// Kinds 29, 30, 31 for the steady engine; advances the cycle and the fan switch.
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
std::array<Bytes, 3> diagnosticFrames(const Image &image, const Engine &engine, const Counters &counters);

std::string hex(const std::uint8_t *data, std::size_t size);
inline std::string hex(const Bytes &bytes) { return hex(bytes.data(), bytes.size()); }

} // namespace ecusim
