#include "link/tuneimage.h"

#include "common/context.h"
#include "common/controlnames.h"
#include "common/numtext.h"
#include "common/tablescreen.h"
#include "common/tpslimits.h"
#include "common/tunefields.h"
#include "files/mapfilecodec.h"
#include "link/parameterimage.h"

#include <stdexcept>

namespace {

// Nothing here reaches a line or a person: a call to the line is a fault.
class NoLine : public LinkPort {
public:
    int write(const QByteArray &) override { throw std::logic_error("no serial line"); }
    QByteArray read(int) override { throw std::logic_error("no serial line"); }
};
class NoPrompt : public Prompt {
public:
    void message(const QString &) override {}
    std::optional<QString> saveFileName(const FileDialogSpec &) override { return std::nullopt; }
    std::optional<QString> openFileName(const FileDialogSpec &) override { return std::nullopt; }
    int question(const QString &, const QStringList &) override { return -1; }
};

// The start-up screen (the start-up table holds the window's first selections) and the
// working values the window starts with; no line, no prompt, no timer that ticks.
struct StartupScreen {
    StartupScreen() { state.wv.lambdaLoadSource = 5; }
    TableScreen screen;
    NoLine line;
    NoPrompt prompt;
    IdleTimer timer1, timer2, timerTps, timerReadBack;
    State state;
    Context ctx{screen, line, prompt, timer1, timer2, timerTps, timerReadBack, state, {}};
};

} // namespace

UploadImage uploadImage(ParameterImage &image)
{
    image.prepare();
    image.checkAll();
    UploadImage out{};
    for (int n = 1; n <= 32; ++n)
        out[std::size_t(n - 1)] = image.block(n);
    return out;
}

QByteArray imageBytes(const UploadImage &image)
{
    QByteArray bytes;
    bytes.reserve(256);
    for (const auto &block : image)
        for (std::uint8_t b : block)
            bytes.append(char(b));
    return bytes;
}

Tune startupTune()
{
    StartupScreen s;
    return MapFile(s.ctx).screenTune();
}

UploadImage tuneImage(const Tune &tune)
{
    StartupScreen s;
    MapFile(s.ctx).apply(tune);
    ParameterImage image(s.ctx);
    return uploadImage(image);
}

namespace {

QString fieldText(const Tune &tune, int i)
{
    if (i < int(tune.texts.size()))
        return tune.texts.value(i);
    return numtext::formatInt(i == mapfile::tpsMinField - 1 ? tune.tpsMin : tune.tpsMax);
}

void setFieldText(Tune &tune, int i, const QString &text)
{
    if (i < int(tune.texts.size()))
        tune.texts[i] = text;
}

// The text of the entry at index in a list, or nothing when the index is outside it.
std::optional<QString> entry(const QStringList &list, int index)
{
    if (index < 0 || index >= list.size())
        return std::nullopt;
    return list.at(index);
}

} // namespace

Tune readBackTune(const ReadBackPayloads &payloads, const Tune &before)
{
    using tunefields::Decode;
    Tune tune = before;
    const auto &fields = tunefields::all();
    const int wheelField = tunefields::indexOf(ctl::cbTipoRodaFonica);
    for (int i = 0; i < int(fields.size()); ++i) {
        const tunefields::Field &f = fields[std::size_t(i)];
        if (f.readBack.decode == Decode::None || !payloads[std::size_t(f.readBack.kind)])
            continue;
        const auto &p = *payloads[std::size_t(f.readBack.kind)];
        const std::uint8_t byte = p[std::size_t(f.readBack.byte)];
        std::optional<QString> text;
        switch (f.readBack.decode) {
        case Decode::Choice:
        case Decode::Wheel: text = tunefields::textOf(f, byte); break;
        case Decode::ItemIndex: text = entry(tunefields::choiceTexts(f), byte); break;
        case Decode::ZeroPoint: text = entry(tunefields::choiceTexts(f), std::int8_t(byte) + 3); break;
        case Decode::ToothIndex: {
            // The tooth list of the wheel the same frame gives (or the one kept); an
            // offset past its end leaves the box empty.
            const tunefields::Field &wheels = fields[std::size_t(wheelField)];
            const int wheel = int(
                tunefields::choiceTexts(wheels).indexOf(tunefields::textOf(wheels, p[std::size_t(wheels.readBack.byte)])
                                                            .value_or(fieldText(before, wheelField))));
            text = entry(tunefields::toothList(wheel), byte).value_or(QString());
            break;
        }
        case Decode::TpsMin: tune.tpsMin = byte; break;
        case Decode::TpsMax:
            // Not taken beside the minimum: the minimum in its place.
            tune.tpsMax = byte;
            break;
        default: text = tunefields::decodedText(f.readBack.decode, byte); break;
        }
        if (text)
            setFieldText(tune, i, *text);
    }
    if (payloads[25] && !tpslimits::maxTaken(tune.tpsMax, tune.tpsMin))
        tune.tpsMax = tune.tpsMin;
    return tune;
}

ReadBackPayloads readBackPayloads(const UploadImage &image)
{
    ReadBackPayloads payloads;
    for (int kind = 1; kind <= 26; ++kind)
        payloads[std::size_t(kind)] = std::array<std::uint8_t, 8>{};
    for (const tunefields::Field &f : tunefields::all())
        if (f.readBack.decode != tunefields::Decode::None && f.image.block > 0)
            (*payloads[std::size_t(f.readBack.kind)])[std::size_t(f.readBack.byte)] =
                image[std::size_t(f.image.block - 1)][std::size_t(f.image.byte)];
    return payloads;
}
