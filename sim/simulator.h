#pragma once
// The simulator: the pseudo-terminal, the ECU's line protocol, the engine and
// the control lines, driven by one poll loop.
#include "control.h"
#include "drive.h"
#include "ecu.h"
#include "engine.h"
#include "eventlog.h"
#include "options.h"
#include "protocol.h"
#include "pty.h"

#include <array>
#include <random>
#include <string>
#include <string_view>

namespace ecusim {

class Simulator {
public:
    explicit Simulator(Options o);
    int run();

private:
    int setUp();
    bool step();
    int idleTimeMs(double now) const;
    void lookForReconnect();
    void cleanUp();

    void readMaster();
    void flush();
    void hangUp();
    const Image &image() const { return protocol_.memory().image(); }

    // Control lines (control.cpp); false once the simulator is to end.
    bool handleControlLine(std::string_view line);
    std::string doControl(const ControlLine &line);
    std::string controlTps(const ControlLine &line);
    std::string controlRpm(const ControlLine &line);
    std::string controlTemp(const ControlLine &line);
    std::string controlAtm(const ControlLine &line);
    std::string controlLoad(const ControlLine &line);
    std::string controlSpeed(const ControlLine &line);
    std::string setOrAuto(const ControlLine &line, int hi, int &target);
    std::string controlAc(const ControlLine &line);
    std::string controlDrive(const ControlLine &line);
    std::string controlCycle(const ControlLine &line);
    std::string controlSilent(const ControlLine &line);
    std::string controlFault(const ControlLine &line);
    std::string controlGarbage(const ControlLine &line);
    std::string controlShort(const ControlLine &line);
    std::string controlDiag(const ControlLine &line);
    std::string controlDump(const ControlLine &line);
    std::string controlRate(const ControlLine &line);
    std::string controlPace(const ControlLine &line);
    std::string controlQuit(const ControlLine &line);
    std::string controlUnplug(const ControlLine &line);
    std::string controlReplug(const ControlLine &line);

    // The cable pulled: the pseudo-terminal closed and the link removed, the
    // module keeping its image and what its loop learned.
    void unplug();
    // Plugged in again: a new pseudo-terminal behind the link.
    void replug();

    struct ControlEntry {
        std::string_view name;
        std::string (Simulator::*handle)(const ControlLine &);
    };
    static const ControlEntry kControls[];

    // The drive cycle, t seconds in from the moment startDrive was called.
    void startDrive(double from);
    double driveTime() const;
    double driveTimeAt(double now) const;
    // The next live triple: from the drive or from the steady engine.
    std::array<Bytes, 3> liveTriple(double now);
    // The triple liveTriple would give now, leaving the engine as it is.
    std::array<Bytes, 3> peekTriple() const;
    // The operating point the diagnostic frames report.
    Engine diagEngine() const;

    Options opt_;
    EventLog log_;
    Engine engine_;
    EngineModel model_;
    LineProtocol protocol_;
    PtyMaster pty_;
    ControlFifo control_;
    std::mt19937 random_;

    double nextHangupCheck_ = 0;
    bool unplugged_ = false;
    double replugAt_ = -1; // monotonic time of the return, -1: at "replug"

    bool quit_ = false;
    bool driving_ = false;
    double driveStart_ = 0; // monotonic time at drive second 0
    double speedup_ = 1;    // drive seconds per second
};

} // namespace ecusim
