#include "link/parameterimage.h"

#include "common/controlnames.h"
#include "common/numtext.h"
#include "common/tpslimits.h"

#include <QHash>
#include <QStringList>
#include <stdexcept>

namespace {

// A curve point is a signed byte and the interpolation reads it as one.
constexpr int curveLo = -128, curveHi = 127;
// Any other byte: signed or unsigned, whichever the ECU makes of it.
constexpr int byteLo = -128, byteHi = 255;

std::uint8_t low8(long long v) { return std::uint8_t(v & 0xFF); }

// Number text times 10 or 1000; the product, written in the general format, must be
// a whole number ("3,55" in tenths fails as "'35,5' is not a valid integer value").
int scaled(const QString &text, int factor)
{
    return numtext::parseInt(numtext::formatGeneral(numtext::parseFloat(text) * factor));
}

// Choice code by the exact text; a text that is no choice leaves the code alone.
void choose(std::int16_t &code, const QString &text, const tunefields::Field &field)
{
    if (const std::optional<int> c = tunefields::codeOf(field, text))
        code = std::int16_t(*c);
}

// The working value a field's code is kept in while the upload runs.
template <typename Values> auto *codeSlot(Values &wv, const QString &field)
{
    static const QHash<QString, std::int16_t WorkingValues::*> members{
        {ctl::cbSondaCorrecao, &WorkingValues::lambdaLoadSource},
        {ctl::cbCombinacaoMapa, &WorkingValues::mapCombination},
        {ctl::cbRapidaTpsxMap, &WorkingValues::quickAccelSource},
        {ctl::cbSondaAtiva, &WorkingValues::lambdaActivity},
        {ctl::cbSondaTipo, &WorkingValues::lambdaType},
        {ctl::cbTipoRodaFonica, &WorkingValues::wheelCode},
        {ctl::cbEscalaRpm, &WorkingValues::speedScaleIndex}};
    const auto it = members.constFind(field);
    if (it == members.constEnd())
        throw std::logic_error("no working value for " + field.toStdString());
    return &(wv.*(it.value()));
}

template <std::size_t N> void interpolate(std::array<std::int8_t, N> &curve)
{
    for (std::size_t p = 0; p + 3 < N; p += 3) {
        const int a = curve[p], b = curve[p + 3];
        // C++ integer division truncates toward zero: 5 -> 0 gives 4 and 2.
        curve[p + 1] = std::int8_t(low8(a + (b - a) / 3));
        curve[p + 2] = std::int8_t(low8(a + 2 * (b - a) / 3));
    }
}

// Runs the conversion of a control's text; its error names the field ("e12i (injeção
// linha 2 coluna 5)") and shows the text; decimals: how many the field takes.
template <typename F> auto namingField(const Screen &s, const QString &control, int decimals, F &&convert)
{
    try {
        return convert();
    } catch (const numtext::ConvertError &e) {
        const tunefields::Field *f = tunefields::find(control);
        const QString label = f ? f->caption : QString();
        throw numtext::ConvertError::inField(e, control,
                                             label.isEmpty() ? control : QStringLiteral("%1 (%2)").arg(control, label),
                                             s.text(control), decimals);
    }
}

} // namespace

ParameterImage::ParameterImage(Context &ctx) : ctx_(ctx) {}

void ParameterImage::prepare()
{
    const Screen &s = ctx_.screen;
    WorkingValues &wv = ctx_.state.wv;

    // 1. Electro-fan increment, tenths of a ms (kept whole; the image takes 8 bits).
    {
        const QString text = s.text(ctl::emSCorrecaoEletro);
        wv.fanIncrement = namingField(s, ctl::emSCorrecaoEletro, 1, [&] { return scaled(text, 10); });
        fanText_ = text;
    }

    // 2. Typed points: injection time, advance, idle actuator, then atmospheric.
    std::array<std::int8_t *, 4> curves{wv.tiCurve.data(), wv.advanceCurve.data(), wv.idleCurve.data(),
                                        wv.atmCurve.data()};
    for (int c = 0; c < 4; ++c) {
        for (const tunefields::Field &f : tunefields::all()) {
            if (f.image.encoding != tunefields::Encoding::CurvePoint || f.image.curve != c)
                continue;
            const QString text = s.text(f.name);
            const int v = namingField(s, f.name, 0, [&] { return numtext::parseInt(text); });
            curves[std::size_t(f.image.curve)][f.image.point] = std::int8_t(low8(v));
            Typed &typed = f.image.curve < 3 ? typedCurves_[std::size_t(f.image.curve)][std::size_t(f.image.point / 3)]
                                             : typedAtm_[std::size_t(f.image.point / 3)];
            typed = {f.name, text, v};
        }
    }

    // 3. The points between the typed ones.
    interpolate(wv.tiCurve);
    interpolate(wv.advanceCurve);
    interpolate(wv.idleCurve);
    interpolate(wv.atmCurve);

    // 4. Choice codes.
    for (const tunefields::Field &f : tunefields::all())
        if (f.image.encoding == tunefields::Encoding::Code)
            choose(*codeSlot(wv, f.name), s.text(f.name), f);

    // 5. Wheel code and tooth offset by the selected wheel; the tooth text is read
    //    only for the wheels that have a tooth list.
    const tunefields::Field &wheels = *tunefields::find(ctl::cbTipoRodaFonica);
    const int wheel = s.itemIndex(wheels.name);
    if (wheel == 0 || wheel == 1) {
        const int first = tunefields::firstTooth(wheel);
        const QString text = s.text(ctl::cbDentesPms);
        const int tooth = namingField(s, ctl::cbDentesPms, 0, [&] { return numtext::parseInt(text); });
        wv.wheelCode = std::int16_t(wheels.choices[wheel].code);
        wv.toothOffset = std::uint16_t(tooth - first);
        toothText_ = text;
        firstTooth_ = first;
    } else if (wheel == 2) {
        wv.wheelCode = std::int16_t(wheels.choices[wheel].code);
        wv.toothOffset = 0;
    }

    // 6. Speed scale (-1 with nothing selected, sent as 255).
    wv.speedScaleIndex = std::int16_t(s.itemIndex(ctl::cbEscalaRpm));
}

namespace {

using Encoding = ParameterImage::Encoding;
using Range = ParameterImage::Range;

// Blocks 19 to 29 hold the four curves, typed points and the points between them.
struct CurveRow {
    int first, last;
    const char *curve; // "tiCurve", "advanceCurve", "idleCurve", "atmCurve"
    int points;
};
const CurveRow curveRows[] = {
    {19, 21, "tiCurve", 22},
    {22, 24, "advanceCurve", 22},
    {25, 27, "idleCurve", 22},
    {28, 29, "atmCurve", 10},
};

std::pair<long long, long long> bounds(Range range)
{
    switch (range) {
    case Range::Byte: return {byteLo, byteHi};
    case Range::Unsigned: return {0, 255};
    case Range::Curve: return {curveLo, curveHi};
    case Range::TpsMax: return {tpslimits::maxBottom, tpslimits::maxTop};
    case Range::None: break;
    }
    return {0, 0};
}

} // namespace

const std::array<std::int8_t, 22> *ParameterImage::temperatureCurve(int c) const
{
    const WorkingValues &wv = ctx_.state.wv;
    return c == 0 ? &wv.tiCurve : c == 1 ? &wv.advanceCurve : &wv.idleCurve;
}

ParameterImage::Byte ParameterImage::curvePoint(const QString &curve, int p) const
{
    // A typed point keeps its typed text for the range check, as long as the curve
    // still holds it (a point that did not fit shows up as a different byte).
    const WorkingValues &wv = ctx_.state.wv;
    const Typed *typed = nullptr;
    std::int8_t value = 0;
    if (curve == QLatin1String("atmCurve")) {
        value = wv.atmCurve[std::size_t(p)];
        if (p % 3 == 0)
            typed = &typedAtm_[std::size_t(p / 3)];
    } else {
        const int c = curve == QLatin1String("tiCurve") ? 0 : curve == QLatin1String("advanceCurve") ? 1 : 2;
        if (p >= 22)
            return {}; // the two bytes after point 21
        value = (*temperatureCurve(c))[std::size_t(p)];
        if (p % 3 == 0)
            typed = &typedCurves_[std::size_t(c)][std::size_t(p / 3)];
    }
    Byte b;
    b.value = value;
    if (typed && std::int8_t(low8(typed->value)) == value) {
        b.value = typed->value;
        b.checked = true;
        b.field = typed->field;
        b.text = typed->text;
        b.lo = curveLo;
        b.hi = curveHi;
        b.textLo = numtext::formatInt(curveLo);
        b.textHi = numtext::formatInt(curveHi);
    }
    return b;
}

ParameterImage::Byte ParameterImage::convert(const tunefields::Field &field) const
{
    // Decimals the field's text may carry: the bytes hold tenths, thousandths (the
    // charge time) or whole numbers.
    return namingField(ctx_.screen, field.name, field.decimals, [&] { return convertText(field); });
}

ParameterImage::Byte ParameterImage::convertText(const tunefields::Field &field) const
{
    const QString &source = field.name;
    const Encoding encoding = field.image.encoding;
    const Range range = field.image.range;
    const Screen &s = ctx_.screen;
    const WorkingValues &wv = ctx_.state.wv;
    const auto limits = bounds(range);
    const long long lo = limits.first, hi = limits.second;
    Byte b;
    b.field = source;
    b.lo = lo;
    b.hi = hi;
    b.checked = range != Range::None;
    b.textLo = numtext::formatInt(lo);
    b.textHi = numtext::formatInt(hi);
    auto divided = [&](int divisor) {
        b.text = s.text(source);
        b.value = numtext::parseInt(b.text) / divisor;
        // The range in the field's own unit: every text whose quotient fits.
        b.textLo = numtext::formatInt(lo * divisor - (divisor - 1));
        b.textHi = numtext::formatInt(hi * divisor + (divisor - 1));
    };
    switch (encoding) {
    case Encoding::Integer:
        b.text = s.text(source);
        b.value = numtext::parseInt(b.text);
        break;
    case Encoding::IntegerDiv10: divided(10); break;
    case Encoding::IntegerDiv100: divided(100); break;
    case Encoding::Tenths:
        b.text = s.text(source);
        b.value = scaled(b.text, 10);
        b.textLo = numtext::formatGeneral(lo / 10.0L);
        b.textHi = numtext::formatGeneral(hi / 10.0L);
        break;
    case Encoding::FanIncrement:
        b.text = fanText_;
        b.value = wv.fanIncrement;
        b.textLo = numtext::formatGeneral(lo / 10.0L);
        b.textHi = numtext::formatGeneral(hi / 10.0L);
        break;
    case Encoding::ToothOffset:
        // The tooth text may range over the first tooth up to 255 teeth after it.
        b.text = toothText_;
        b.value = wv.toothOffset;
        b.textLo = numtext::formatInt(firstTooth_);
        b.textHi = numtext::formatInt(firstTooth_ + 255);
        break;
    case Encoding::ChargeTime: {
        // Coil charge time in units of 25 µs; outside 2 to 6 ms the ECU gets 3 ms.
        const int code = scaled(s.text(source), 1000) / 25;
        b.value = code < 80 || code > 240 ? 120 : code;
        break;
    }
    case Encoding::ZeroPoint: b.value = s.itemIndex(source) - 3; break;
    case Encoding::Code:
    case Encoding::WheelCode:
    case Encoding::ItemIndex: b.value = *codeSlot(wv, source); break;
    case Encoding::TpsLimit:
        // The TPS minimum's low 8 bits by design; the maximum as the read-back takes it.
        b.value = range == Range::TpsMax ? wv.tpsMax : wv.tpsMin;
        if (range == Range::TpsMax) {
            b.text = numtext::formatInt(b.value);
            b.lo = tpslimits::maxLow(wv.tpsMin);
            b.textLo = numtext::formatInt(b.lo);
        }
        break;
    case Encoding::None:
    case Encoding::CurvePoint: break; // see curvePoint
    }
    return b;
}

ParameterImage::Bytes ParameterImage::encode(int n) const
{
    if (n < 1 || n > 32)
        throw std::out_of_range("block number out of range");
    Bytes out;
    for (const CurveRow &row : curveRows) {
        if (n < row.first || n > row.last)
            continue;
        for (int i = 0; i < 8; ++i) {
            const int k = 8 * (n - row.first) + i;
            if (k < row.points)
                out[std::size_t(i)] = curvePoint(QString::fromLatin1(row.curve), k);
        }
    }
    for (const tunefields::Field *field : tunefields::imageFields(n))
        out[std::size_t(field->image.byte)] = convert(*field);
    return out;
}

const ParameterImage::Byte *ParameterImage::outOfRange(const Bytes &bytes)
{
    for (const Byte &b : bytes)
        if (b.checked && (b.value < b.lo || b.value > b.hi))
            return &b;
    return nullptr;
}

QString ParameterImage::rangeMessage(const Byte &b, const QString &tail)
{
    return QStringLiteral(" Atenção ! !  O valor \"%1\" do campo %2 está fora da faixa de %3 a %4. %5  ")
        .arg(b.text, b.field, b.textLo, b.textHi, tail);
}

std::array<std::uint8_t, 8> ParameterImage::block(int n) const
{
    const Bytes bytes = encode(n);
    if (const Byte *bad = outOfRange(bytes))
        throw ImageRangeError(rangeMessage(*bad, notSentTail(n)).toUtf8().toStdString());
    std::array<std::uint8_t, 8> out{};
    for (int i = 0; i < 8; ++i)
        out[i] = low8(bytes[i].value);
    return out;
}

QString ParameterImage::notSentTail(int n)
{
    return n == 0 ? QStringLiteral("Nada foi enviado.") : QStringLiteral("O bloco %1 não foi enviado.").arg(n);
}

void ParameterImage::checkSelections(int n) const
{
    // The image takes these from the selected entry, not from the text: with no entry
    // selected it would send a value the box does not show. The zero point is read
    // again at its block, so a key typed during the upload is caught there too.
    struct Selected {
        int block; // the block that reads the box itself, 0 when Prepare takes it
        const QString &combo;
        const char *caption;
    };
    static const Selected selected[] = {
        {0, ctl::cbTipoRodaFonica, "Tipo de Roda Fônica"},
        {0, ctl::cbEscalaRpm, "Escala de RPM Mapa"},
        {31, ctl::cbPontoZero, "Ponto  Zero"},
    };
    const Screen &s = ctx_.screen;
    for (const Selected &box : selected) {
        const QString &name = box.combo;
        if ((n == 0 || n == box.block) && s.itemIndex(name) < 0)
            throw ImageRangeError(
                QStringLiteral(" Atenção ! !  O valor \"%1\" do campo %2 não é um dos valores da lista. Selecione um "
                               "dos Valores. %3  ")
                    .arg(s.text(name), QString::fromUtf8(box.caption), notSentTail(n))
                    .toUtf8()
                    .toStdString());
    }
}

void ParameterImage::checkAll() const
{
    checkSelections(0);
    for (int n = 1; n <= 32; ++n) {
        const Bytes bytes = encode(n);
        if (const Byte *bad = outOfRange(bytes))
            throw ImageRangeError(rangeMessage(*bad, notSentTail(0)).toUtf8().toStdString());
    }
}
