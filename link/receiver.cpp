#include "link/receiver.h"

#include "common/controlnames.h"
#include "common/enabledset.h"
#include "common/numtext.h"
#include "common/tpslimits.h"
#include "common/tunefields.h"
#include "link/livevalues.h"
#include "link/scanner.h"
#include "maps/axes.h"

namespace {

const QString wholeFormat = QStringLiteral("0;-0;0");

const QString notResponding = QStringLiteral("Módulo não responde");

std::int8_t signedByte(std::uint8_t b) { return static_cast<std::int8_t>(b); }

QString whole(long double v) { return numtext::formatFloat(wholeFormat, v); }
QString plain(long long v) { return numtext::formatInt(v); }

void setBars(Screen &s, int position)
{
    s.setBarPosition(ctl::pbCarregando, position);
    s.setBarPosition(ctl::pbCarregando1, position);
}

} // namespace

Receiver::Receiver(Context &ctx, Scanner &scanner) : ctx_(ctx), scanner_(scanner) {}

const std::array<Receiver::Decoder, 256> &Receiver::decoders()
{
    static const std::array<Decoder, 256> table = [] {
        std::array<Decoder, 256> t{};
        t[1] = {&Receiver::enterReadBack, &Receiver::fieldRow, nullptr};
        for (int k = 2; k <= 24; ++k)
            t[k].decode = &Receiver::fieldRow;
        t[25].decode = &Receiver::engineSetUp;
        t[26] = {nullptr, &Receiver::chargeZeroPoint, &Receiver::endReadBack};
        for (int k = 29; k <= 31; ++k)
            t[k].decode = &Receiver::liveData;
        t[32].decode = &Receiver::mapSupply;
        t[33].decode = &Receiver::diagnosticLine;
        t[34].decode = &Receiver::diagnosticLine;
        return t;
    }();
    return table;
}

void Receiver::btnLerDadosClick()
{
    ctx_.port.write(frames::command(frames::ReadRequest));
    Screen &s = ctx_.screen;
    for (const QString &bar : {ctl::pbCarregando, ctl::pbCarregando1}) {
        s.setBarMin(bar, 0);
        s.setBarMax(bar, 26);
        s.setBarPosition(bar, 0);
    }
    s.setVisible(ctl::Panel1, true);
    // The request is out: from now on a silent ECU ends the read-back after 3 s.
    ctx_.state.readBack = ReadBack::Requested;
    quietMs_ = 0;
    ctx_.timerReadBack.setInterval(readBackTickMs);
    ctx_.timerReadBack.setEnabled(true);
}

void Receiver::ComPort1RxChar()
{
    // A port error escapes here: the event is not processed and the link activity
    // flag stays as it was.
    const QByteArray bytes = ctx_.port.read(12);
    handle(frames::recognise(bytes));
    ctx_.state.linkActivity = true;
}

void Receiver::handle(const frames::Frame &frame)
{
    const int kind = (frame.kind >= 0 && frame.kind <= 255) ? frame.kind : 0;
    ++events_;
    lastKind_ = kind;
    setBars(ctx_.screen, kind);
    if (kind == 0)
        return;
    ++recognised_;
    quietMs_ = 0;
    const Decoder &d = decoders()[std::size_t(kind)];
    if (d.before)
        (this->*d.before)();
    if (d.decode && frame.hasPayload)
        (this->*d.decode)(kind, frame.p);
    if (d.after)
        (this->*d.after)();
}

void Receiver::TimerReadBackTimer()
{
    if (ctx_.state.readBack == ReadBack::Idle) {
        ctx_.timerReadBack.setEnabled(false);
        return;
    }
    quietMs_ += ctx_.timerReadBack.interval();
    if (quietMs_ < readBackQuietLimitMs)
        return;
    stopReadBack();
    ctx_.prompt.message(notResponding);
}

void Receiver::cancelReadBack()
{
    if (ctx_.state.readBack == ReadBack::Idle && !ctx_.timerReadBack.isEnabled())
        return;
    stopReadBack();
}

void Receiver::stopReadBack()
{
    // Not a real end: the module stays as unknown as it was ("Configurar &TPS" waits
    // for a kind-26 frame or a completed upload).
    Screen &s = ctx_.screen;
    if (!ctx_.state.uploading) { // the upload's own busy panels stay
        s.setVisible(ctl::pnAguarde, false);
        s.setVisible(ctl::Panel1, false);
    }
    ctx_.state.readBack = ReadBack::Idle;
    quietMs_ = 0;
    ctx_.timerReadBack.setEnabled(false);
    enabledset::apply(ctx_);
}

void Receiver::enterReadBack()
{
    Screen &s = ctx_.screen;
    s.setVisible(ctl::pnAguarde, true);
    if (!ctx_.timerReadBack.isEnabled()) {
        // A kind-1 frame locks the window also when it came unasked: the watchdog
        // must run so that a silent ECU cannot leave it locked.
        ctx_.timerReadBack.setInterval(readBackTickMs);
        ctx_.timerReadBack.setEnabled(true);
    }
    ctx_.state.readBack = ReadBack::Receiving;
    // The screen is being rewritten: what the module holds is known again at the end.
    ctx_.state.moduleKnown = false;
    quietMs_ = 0;
    enabledset::apply(ctx_);
}

void Receiver::endReadBack()
{
    Screen &s = ctx_.screen;
    s.setVisible(ctl::pnAguarde, false);
    s.setVisible(ctl::Panel1, false);
    ctx_.state.readBack = ReadBack::Idle;
    ctx_.state.moduleKnown = true; // also at the end of a read-back not asked for
    quietMs_ = 0;
    ctx_.timerReadBack.setEnabled(false);
    enabledset::apply(ctx_);
}

void Receiver::fieldRow(int kind, const Payload &p)
{
    // Each field the frame carries, by its byte; a code that names no choice leaves
    // the field's text alone.
    for (const tunefields::Field *f : tunefields::readBackFields(kind)) {
        const std::uint8_t byte = p[std::size_t(f->readBack.byte)];
        if (f->readBack.decode == tunefields::Decode::Choice) {
            if (const std::optional<QString> text = tunefields::textOf(*f, byte))
                ctx_.screen.setText(f->name, *text);
        } else {
            ctx_.screen.setText(f->name, tunefields::decodedText(f->readBack.decode, byte));
        }
    }
}

void Receiver::engineSetUp(int, const Payload &p)
{
    Screen &s = ctx_.screen;
    State &st = ctx_.state;

    // The tooth offset first: the wheel-type handler rebuilds the tooth list and
    // selects the entry at that offset.
    st.wv.toothOffset = p[1];
    s.setItemIndex(ctl::cbDentesPms, p[1]);

    // A code that names no wheel keeps the wheel type of the last kind-25 frame.
    const tunefields::Field &wheels = *tunefields::find(ctl::cbTipoRodaFonica);
    if (const std::optional<QString> wheel = tunefields::textOf(wheels, p[0]))
        st.wheelTypeIndex = int(tunefields::choiceTexts(wheels).indexOf(*wheel));
    s.setItemIndex(ctl::cbTipoRodaFonica, st.wheelTypeIndex);
    if (ctx_.hooks.wheelTypeChange)
        ctx_.hooks.wheelTypeChange();

    s.setText(ctl::eLimiteRpm, tunefields::decodedText(tunefields::Decode::Times100, p[2]));

    if (const std::optional<QString> combination = tunefields::textOf(*tunefields::find(ctl::cbCombinacaoMapa), p[3])) {
        s.setText(ctl::cbCombinacaoMapa, *combination);
        axes::writeLoadCaptions(s, *combination);
    }

    s.setText(ctl::eAvancoPartida, tunefields::decodedText(tunefields::Decode::Plain, p[4]));

    // The throttle bar takes its bounds in either order, so neither step can be
    // refused and the frame is always handled to its end.
    st.wv.tpsMin = p[5];
    s.setBarMin(ctl::BarraTps, st.wv.tpsMin / 4);
    st.wv.tpsMax = p[6];
    if (!tpslimits::maxTaken(st.wv.tpsMax, st.wv.tpsMin))
        st.wv.tpsMax = st.wv.tpsMin;
    s.setBarMax(ctl::BarraTps, st.wv.tpsMax);

    s.setItemIndex(ctl::cbEscalaRpm, p[7]);
    if (ctx_.hooks.speedScaleChange)
        ctx_.hooks.speedScaleChange();
}

void Receiver::chargeZeroPoint(int, const Payload &p)
{
    Screen &s = ctx_.screen;
    // p0 counts steps of 25 us.
    s.setText(ctl::eTempoCarga, tunefields::decodedText(tunefields::Decode::ChargeTime, p[0]));
    s.setItemIndex(ctl::cbPontoZero, signedByte(p[1]) + 3);
}

void Receiver::mapSupply(int, const Payload &p)
{
    const int raw = p[0] + 256 * p[1];
    const QString volts = numtext::formatFloat(QStringLiteral("0.00;-0.00;0.00"), converterVolts(raw));
    ctx_.screen.setText(ctl::Label51, QStringLiteral("Vcc MAP = ") + volts + QStringLiteral(" = ") + plain(raw));
    appendDiagnostic(p, 2);
}

void Receiver::diagnosticLine(int, const Payload &p) { appendDiagnostic(p, 0); }

void Receiver::appendDiagnostic(const Payload &p, int from)
{
    QString line;
    for (int i = from; i < 8; ++i)
        line += whole(p[std::size_t(i)]) + QLatin1Char(' ');
    lastDiagnostic_ = line;
    QStringList items = ctx_.screen.items(ctl::ListBox1);
    items << line;
    ctx_.screen.setItems(ctl::ListBox1, items);
}

void Receiver::liveData(int kind, const Payload &p)
{
    switch (kind) {
    case 29: scanner_.liveDataA(p); break;
    case 30: scanner_.liveDataB(p); break;
    case 31: scanner_.liveDataC(p); break;
    default: break;
    }
}
