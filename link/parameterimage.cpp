#include "link/parameterimage.h"

#include "common/names.h"
#include "common/numtext.h"
#include "common/tpslimits.h"
#include "files/mapfilecodec.h"

#include <QStringList>
#include <stdexcept>

namespace {

// Typed points of the correction curves, in their order on the screen.
const QStringList &temperatureSuffixes()
{
    static const QStringList list{"0", "15", "30", "45", "60", "75", "90", "105"};
    return list;
}
const QStringList &curvePrefixes()
{
    static const QStringList list{"eCorrecaoTi", "eCorrecaoIg", "eCorrecaoMl"};
    return list;
}
const QStringList &atmFields()
{
    static const QStringList list{"eAtm820", "eAtm880", "eAtm940", "eAtm1000"};
    return list;
}

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
void choose(std::int16_t &code, const QString &text, std::initializer_list<std::pair<const char *, int>> choices)
{
    for (const auto &[choice, value] : choices) {
        if (text == QString::fromUtf8(choice)) {
            code = std::int16_t(value);
            return;
        }
    }
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
        const int k = int(mapfile::fieldControls().indexOf(control));
        const QString label = k >= 0 ? mapfile::fieldLabel(k + 1) : QString();
        throw numtext::ConvertError::inField(
            e, control, label.isEmpty() ? control : QStringLiteral("%1 (%2)").arg(control, label), s.text(control),
            decimals);
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
        const QString text = s.text("emSCorrecaoEletro");
        wv.fanIncrement = namingField(s, QStringLiteral("emSCorrecaoEletro"), 1, [&] { return scaled(text, 10); });
        fanText_ = text;
    }

    // 2. Typed points: injection time, advance, idle actuator, then atmospheric.
    std::array<std::array<std::int8_t, 22> *, 3> curves{&wv.tiCurve, &wv.advanceCurve, &wv.idleCurve};
    for (int c = 0; c < 3; ++c) {
        for (int i = 0; i < 8; ++i) {
            const QString field = curvePrefixes()[c] + temperatureSuffixes()[i];
            const QString text = s.text(field);
            const int v = namingField(s, field, 0, [&] { return numtext::parseInt(text); });
            (*curves[c])[3 * i] = std::int8_t(low8(v));
            typedCurves_[c][i] = {field, text, v};
        }
    }
    for (int i = 0; i < 4; ++i) {
        const QString text = s.text(atmFields()[i]);
        const int v = namingField(s, atmFields()[i], 0, [&] { return numtext::parseInt(text); });
        wv.atmCurve[3 * i] = std::int8_t(low8(v));
        typedAtm_[i] = {atmFields()[i], text, v};
    }

    // 3. The points between the typed ones.
    interpolate(wv.tiCurve);
    interpolate(wv.advanceCurve);
    interpolate(wv.idleCurve);
    interpolate(wv.atmCurve);

    // 4. Choice codes.
    choose(wv.lambdaLoadSource, s.text("cbSondaCorrecao"), {{"TPS", 5}, {"MAP", 10}});
    choose(wv.mapCombination, s.text("cbCombinacaoMapa"), {{"TPS X RPM", 5}, {"MAP X RPM", 10}});
    choose(wv.quickAccelSource, s.text("cbRapidaTpsxMap"), {{"TPS", 5}, {"MAP", 10}});
    choose(wv.lambdaActivity, s.text("cbSondaAtiva"),
           {{"Ativada", 5}, {"Desativada", 10}, {"Des em Marcha Lenta", 15}});
    choose(wv.lambdaType, s.text("cbSondaTipo"), {{"Normal", 5}, {"Banda Larga (1)", 10}});

    // 5. Wheel code and tooth offset by the selected wheel; the tooth text is read
    //    only for the wheels that have a tooth list.
    const int wheel = s.itemIndex("cbTipoRodaFonica");
    if (wheel == 0 || wheel == 1) {
        const int first = wheel == 0 ? 12 : 8;
        const QString text = s.text("cbDentesPms");
        const int tooth = namingField(s, QStringLiteral("cbDentesPms"), 0, [&] { return numtext::parseInt(text); });
        wv.wheelCode = wheel == 0 ? 3 : 6;
        wv.toothOffset = std::uint16_t(tooth - first);
        toothText_ = text;
        firstTooth_ = first;
    } else if (wheel == 2) {
        wv.wheelCode = 9;
        wv.toothOffset = 0;
    }

    // 6. Speed scale (-1 with nothing selected, sent as 255).
    wv.speedScaleIndex = std::int16_t(s.itemIndex("cbEscalaRpm"));
}

// How the text of a control or a working value becomes a byte.
enum class ParameterImage::Encoding {
    Integer,       // text as an integer
    IntegerDiv10,  // text as an integer, divided by 10 (truncated)
    IntegerDiv100, // text as an integer, divided by 100 (truncated)
    Tenths,        // text times 10, a whole number
    CurvePoint,    // point of a correction curve as Prepare left it
    Working,       // working value as Prepare left it
    FanIncrement,  // the electro-fan increment Prepare converted (tenths)
    ToothOffset,   // position of the TDC tooth in its list
    ChargeTime,    // thousandths / 25; outside 80 to 240 it becomes 120
    ZeroPoint,     // selected entry of cbPontoZero minus 3
    Zero,          // always 0
};

// The range a value must lie in before it is cut to 8 bits.
enum class ParameterImage::Range {
    None,     // copied by design (codes, TPS limits) or always fits
    Byte,     // -128 to 255: signed or unsigned, whichever the ECU makes of it
    Unsigned, // 0 to 255
    Curve,    // -128 to 127: a curve point is a signed byte
    TpsMax,   // what the read-back takes back beside the TPS minimum (tpslimits)
};

namespace {

using Encoding = ParameterImage::Encoding;
using Range = ParameterImage::Range;

// Blocks 1 to 28: eight bytes of one source each. Byte i of block n is map cell
// 8 x (n - first) + i, or curve point 8 x (n - first) + i.
struct BlockRow {
    int first, last;
    const char *source; // "ignition", "injection", or a curve
    Encoding encoding;
    Range range;
};
const BlockRow blockRows[] = {
    {1, 9, "ignition", Encoding::Integer, Range::Unsigned},
    {10, 18, "injection", Encoding::Tenths, Range::Unsigned},
    {19, 21, "tiCurve", Encoding::CurvePoint, Range::Curve},
    {22, 24, "advanceCurve", Encoding::CurvePoint, Range::Curve},
    {25, 27, "idleCurve", Encoding::CurvePoint, Range::Curve},
    {28, 28, "atmCurve", Encoding::CurvePoint, Range::Curve},
};

// Blocks 29 to 32 byte by byte. A control is converted when its block is sent; a
// working value is taken as Prepare left it.
struct StateRow {
    int block, byte;
    const char *source; // control, working value, or "atmCurve p"
    Encoding encoding;
    Range range;
};
const StateRow stateRows[] = {
    {29, 0, "atmCurve 8", Encoding::CurvePoint, Range::Curve},
    {29, 1, "atmCurve 9", Encoding::CurvePoint, Range::Curve},
    {29, 2, "eSondaLenta", Encoding::IntegerDiv10, Range::Byte},
    {29, 3, "eSondaParcial", Encoding::IntegerDiv10, Range::Byte},
    {29, 4, "eSondaPlena", Encoding::IntegerDiv10, Range::Byte},
    {29, 5, "lambdaType", Encoding::Working, Range::None},
    {29, 6, "lambdaLoadSource", Encoding::Working, Range::None},
    {29, 7, "eSondaTemp", Encoding::Integer, Range::Byte},
    {30, 0, "lambdaActivity", Encoding::Working, Range::None},
    {30, 1, "quickAccelSource", Encoding::Working, Range::None},
    {30, 2, "eBasico", Encoding::Tenths, Range::Byte},
    {30, 3, "eGanho", Encoding::Integer, Range::Byte},
    {30, 4, "eDecremento", Encoding::Integer, Range::Byte},
    {30, 5, "wheelCode", Encoding::Working, Range::None},
    {30, 6, "cbDentesPms", Encoding::ToothOffset, Range::Unsigned},
    {30, 7, "eLimiteRpm", Encoding::IntegerDiv100, Range::Byte},
    {31, 0, "mapCombination", Encoding::Working, Range::None},
    {31, 1, "eAvancoPartida", Encoding::Integer, Range::Byte},
    {31, 2, "speedScaleIndex", Encoding::Working, Range::None},
    {31, 3, "eTempoCarga", Encoding::ChargeTime, Range::None},
    {31, 4, "cbPontoZero", Encoding::ZeroPoint, Range::None},
    {31, 5, "tpsMin", Encoding::Working, Range::None}, // low 8 bits by design
    {31, 6, "tpsMax", Encoding::Working, Range::TpsMax},
    {31, 7, "", Encoding::Zero, Range::None},
    {32, 0, "eDeslCutOff", Encoding::IntegerDiv100, Range::Byte},
    {32, 1, "eLigaCutOff", Encoding::IntegerDiv100, Range::Byte},
    {32, 2, "eLigaEletro", Encoding::Integer, Range::Byte},
    {32, 3, "eDesligaEletro", Encoding::Integer, Range::Byte},
    {32, 4, "emSCorrecaoEletro", Encoding::FanIncrement, Range::Byte},
    {32, 5, "ePercEletro", Encoding::Integer, Range::Byte},
    {32, 6, "emSAr", Encoding::Tenths, Range::Byte},
    {32, 7, "ePercentualAr", Encoding::Integer, Range::Byte},
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

long long workingValue(const WorkingValues &wv, const QString &name)
{
    if (name == QLatin1String("lambdaType")) return wv.lambdaType;
    if (name == QLatin1String("lambdaLoadSource")) return wv.lambdaLoadSource;
    if (name == QLatin1String("lambdaActivity")) return wv.lambdaActivity;
    if (name == QLatin1String("quickAccelSource")) return wv.quickAccelSource;
    if (name == QLatin1String("wheelCode")) return wv.wheelCode;
    if (name == QLatin1String("mapCombination")) return wv.mapCombination;
    if (name == QLatin1String("speedScaleIndex")) return wv.speedScaleIndex;
    if (name == QLatin1String("tpsMin")) return wv.tpsMin;
    if (name == QLatin1String("tpsMax")) return wv.tpsMax;
    throw std::logic_error("unknown working value " + name.toStdString());
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

ParameterImage::Byte ParameterImage::convert(const QString &source, Encoding encoding, Range range) const
{
    // Decimals the field's text may carry: the bytes hold tenths, thousandths (the
    // charge time) or whole numbers.
    const int decimals = encoding == Encoding::Tenths ? 1 : encoding == Encoding::ChargeTime ? 3 : 0;
    return namingField(ctx_.screen, source, decimals, [&] { return convertText(source, encoding, range); });
}

ParameterImage::Byte ParameterImage::convertText(const QString &source, Encoding encoding, Range range) const
{
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
    case Encoding::Working:
        b.value = workingValue(wv, source);
        if (range == Range::TpsMax) {
            b.text = numtext::formatInt(b.value);
            b.lo = tpslimits::maxLow(wv.tpsMin);
            b.textLo = numtext::formatInt(b.lo);
        }
        break;
    case Encoding::Zero: b.value = 0; break;
    case Encoding::CurvePoint: break; // see curvePoint
    }
    return b;
}

ParameterImage::Bytes ParameterImage::encode(int n) const
{
    if (n < 1 || n > 32)
        throw std::out_of_range("block number out of range");
    Bytes out;
    for (const BlockRow &row : blockRows) {
        if (n < row.first || n > row.last)
            continue;
        const QString source = QString::fromLatin1(row.source);
        for (int i = 0; i < 8; ++i) {
            const int k = 8 * (n - row.first) + i;
            if (row.encoding == Encoding::CurvePoint)
                out[std::size_t(i)] = curvePoint(source, k);
            else
                out[std::size_t(i)] = convert(source == QLatin1String("ignition") ? names::ignitionCell(k)
                                                                                   : names::injectionCell(k),
                                              row.encoding, row.range);
        }
        return out;
    }
    for (const StateRow &row : stateRows) {
        if (row.block != n)
            continue;
        const QString source = QString::fromLatin1(row.source);
        if (row.encoding == Encoding::CurvePoint)
            out[std::size_t(row.byte)] = curvePoint(source.section(u' ', 0, 0), source.section(u' ', 1).toInt());
        else
            out[std::size_t(row.byte)] = convert(source, row.encoding, row.range);
    }
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
        const char *combo, *caption;
    };
    static const Selected selected[] = {
        {0, "cbTipoRodaFonica", "Tipo de Roda Fônica"},
        {0, "cbEscalaRpm", "Escala de RPM Mapa"},
        {31, "cbPontoZero", "Ponto  Zero"},
    };
    const Screen &s = ctx_.screen;
    for (const Selected &box : selected) {
        const QString name = QString::fromLatin1(box.combo);
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
