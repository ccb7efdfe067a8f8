// Any byte stream from the ECU, cut into reads of 0 to 12 bytes, through the receive
// handler of the whole core over the fakes, with the scanner, the TPS calibration, the
// read-back and the timers mixed in (see inputs.h for the layout). Besides crashes,
// sanitizer reports and hangs it checks the frame rule against its own reading of it,
// and what every receive event must leave: both progress bars at the kind and the link
// activity flag set.
#include "check.h"
#include "corebench.h"
#include "inputs.h"
#include "link/frames.h"

#include <cstddef>
#include <cstdint>

namespace {

using namespace fuzzinput::frames;

// The resynchronisation rule, written out once more from the frame layout.
frames::Frame expectedFrame(const QByteArray &s)
{
    frames::Frame f;
    const int n = int(s.size());
    if (n != 12 && n != 9)
        return f;
    auto b = [&](int i) { return std::uint8_t(s[i]); };
    const int last = n - 1;
    int k = -1;
    if (b(0) == 'H' && b(1) == 'P' && b(last) == 'F')
        k = 2;
    else if (b(0) == 'P' && b(last - 1) == 'F' && b(last) == ' ')
        k = 1;
    else if (b(last - 2) == 'F' && b(last - 1) == ' ' && b(last) == ' ')
        k = 0;
    if (k < 0)
        return f;
    f.kind = b(k);
    if (n == 12) {
        f.hasPayload = true;
        for (int i = 0; i < 8; ++i)
            f.p[i] = b(k + 1 + i);
    }
    return f;
}

// The kind the frame rule gives the bytes of one read.
int checkRecognised(const QByteArray &bytes)
{
    const frames::Frame got = frames::recognise(bytes);
    const frames::Frame want = expectedFrame(bytes);
    auto require = [&](bool condition, const char *what) {
        if (!condition)
            fuzzcheck::fail(what, QString::fromLatin1(bytes.toHex(' ')));
    };
    require(got.kind == want.kind, "frame kind differs from the frame rule");
    if (want.kind != 0 || want.hasPayload) {
        require(got.hasPayload == want.hasPayload, "payload presence differs from the frame rule");
        if (want.hasPayload)
            require(got.p == want.p, "payload differs from the frame rule");
    }
    return got.kind;
}

template <typename Rig> void runEvent(Rig &rig, Event e)
{
    Controller &c = rig.c();
    switch (e) {
    case ToggleScanner: fuzzcheck::guarded([&] { c.Button3Click(); }); break;
    case ToggleTpsFlag: rig.state().tps = rig.state().tps == TpsPhase::Sampling ? TpsPhase::None : TpsPhase::Sampling; break;
    case Timer1Tick: fuzzcheck::guarded([&] { c.Timer1Timer(); }); break;
    case TimerTpsTick:
        fuzzcheck::guarded([&] { c.TimerTPSTimer(); });
        if (rig.timer2.isEnabled())
            fuzzcheck::guarded([&] { c.Timer2Timer(); });
        break;
    case ReadBackTick: fuzzcheck::guarded([&] { c.TimerReadBackTimer(); }); break;
    case ReadRequest: fuzzcheck::guarded([&] { c.btnLerDadosClick(); }); break;
    default: break;
    }
}

template <typename Rig> void setUp(Rig &rig, std::uint8_t setup)
{
    Controller &c = rig.c();
    if (setup & PortOpen) {
        c.ComPort1AfterOpen();
        c.portActivated();
    }
    if (setup & StartTpsCalibration)
        fuzzcheck::guarded([&] { c.btnConfigurarTpsClick(); });
    if (setup & ScannerOn)
        fuzzcheck::guarded([&] { c.Button3Click(); });
    if (setup & TpsFlag)
        rig.state().tps = TpsPhase::Sampling;
}

template <typename Rig> void run(Rig &rig, const std::uint8_t *data, std::size_t size)
{
    setUp(rig, data[0]);

    std::size_t at = 1;
    while (at < size) {
        const std::uint8_t control = data[at++];
        const Event event = Event(control / 13);
        if (event >= ToggleScanner)
            runEvent(rig, event);
        const std::size_t length = std::min<std::size_t>(control % 13, size - at);
        const QByteArray bytes(reinterpret_cast<const char *>(data + at), qsizetype(length));
        at += length;

        const int kind = checkRecognised(bytes);
        rig.port.incoming.push_back(bytes);
        rig.state().linkActivity = false;
        const auto error = fuzzcheck::guarded([&] { rig.c().ComPort1RxChar(); });
        fuzzcheck::require(rig.port.incoming.empty(), "the receive event left bytes of its read unread");
        static const QString bar = QStringLiteral("pbCarregando"), bar1 = QStringLiteral("pbCarregando1");
        if (rig.screen.barPosition(bar) != kind || rig.screen.barPosition(bar1) != kind)
            fuzzcheck::fail("progress bars not at the frame kind", QString::number(kind));
        if (!error)
            fuzzcheck::require(rig.state().linkActivity, "link activity flag not set by a receive event");
    }
}

CoreBench *bench = nullptr;

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    bench = new CoreBench;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size == 0)
        return 0;
    fuzzbench::runOnBench(*bench, [&](auto &rig) { run(rig, data, size); });
    return 0;
}
