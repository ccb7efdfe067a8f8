#include "link/parameterimage.h"

#include "common/names.h"
#include "common/numtext.h"

#include <QStringList>

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

} // namespace

ParameterImage::ParameterImage(Context &ctx) : ctx_(ctx) {}

void ParameterImage::prepare()
{
    const Screen &s = ctx_.screen;
    WorkingValues &wv = ctx_.state.wv;

    // 1. Electro-fan increment, tenths of a ms (kept whole; the image takes 8 bits).
    {
        const QString text = s.text("emSCorrecaoEletro");
        wv.fanIncrement = scaled(text, 10);
        fanText_ = text;
    }

    // 2. Typed points: injection time, advance, idle actuator, then atmospheric.
    std::array<std::array<std::int8_t, 22> *, 3> curves{&wv.tiCurve, &wv.advanceCurve, &wv.idleCurve};
    for (int c = 0; c < 3; ++c) {
        for (int i = 0; i < 8; ++i) {
            const QString field = curvePrefixes()[c] + temperatureSuffixes()[i];
            const QString text = s.text(field);
            const int v = numtext::parseInt(text);
            (*curves[c])[3 * i] = std::int8_t(low8(v));
            typedCurves_[c][i] = {field, text, v};
        }
    }
    for (int i = 0; i < 4; ++i) {
        const QString text = s.text(atmFields()[i]);
        const int v = numtext::parseInt(text);
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
        const int tooth = numtext::parseInt(text);
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

ParameterImage::Bytes ParameterImage::encode(int n) const
{
    if (n < 1 || n > 32)
        throw std::out_of_range("block number out of range");
    const Screen &s = ctx_.screen;
    const WorkingValues &wv = ctx_.state.wv;

    auto plain = [](long long v) {
        Byte b;
        b.value = v;
        return b;
    };
    auto checkedByte = [](long long v, const QString &field, const QString &text, long long lo, long long hi,
                          const QString &textLo, const QString &textHi) {
        Byte b;
        b.value = v;
        b.checked = true;
        b.field = field;
        b.text = text;
        b.lo = lo;
        b.hi = hi;
        b.textLo = textLo;
        b.textHi = textHi;
        return b;
    };
    auto integer = [&](const QString &field, int lo = byteLo, int hi = byteHi) {
        const QString text = s.text(field);
        return checkedByte(numtext::parseInt(text), field, text, lo, hi, numtext::formatInt(lo),
                           numtext::formatInt(hi));
    };
    // Integer divided by 10 or 100, truncated toward zero (6050 / 100 gives 60).
    auto divided = [&](const QString &field, int divisor) {
        const QString text = s.text(field);
        const long long lo = byteLo, hi = byteHi;
        return checkedByte(numtext::parseInt(text) / divisor, field, text, lo, hi,
                           numtext::formatInt(lo * divisor - (divisor - 1)),
                           numtext::formatInt(hi * divisor + (divisor - 1)));
    };
    auto tenths = [&](const QString &field, int lo = byteLo, int hi = byteHi) {
        const QString text = s.text(field);
        return checkedByte(scaled(text, 10), field, text, lo, hi, numtext::formatGeneral(lo / 10.0L),
                           numtext::formatGeneral(hi / 10.0L));
    };
    auto typedPoint = [&](const Typed &t) {
        return checkedByte(t.value, t.field, t.text, curveLo, curveHi, numtext::formatInt(curveLo),
                           numtext::formatInt(curveHi));
    };

    Bytes out;
    if (n <= 9) {
        for (int i = 0; i < 8; ++i)
            out[i] = integer(names::ignitionCell(8 * (n - 1) + i), 0, 255);
    } else if (n <= 18) {
        for (int i = 0; i < 8; ++i)
            out[i] = tenths(names::injectionCell(8 * (n - 10) + i), 0, 255);
    } else if (n <= 27) {
        const int c = (n - 19) / 3;
        const int from = 8 * ((n - 19) % 3);
        const std::array<std::int8_t, 22> &curve = c == 0 ? wv.tiCurve : c == 1 ? wv.advanceCurve : wv.idleCurve;
        for (int i = 0; i < 8; ++i) {
            const int p = from + i;
            if (p >= 22)
                out[i] = plain(0);
            else if (p % 3 == 0 && std::int8_t(low8(typedCurves_[c][p / 3].value)) == curve[p])
                out[i] = typedPoint(typedCurves_[c][p / 3]);
            else
                out[i] = plain(curve[p]);
        }
    } else if (n == 28) {
        for (int p = 0; p < 8; ++p) {
            if (p % 3 == 0 && std::int8_t(low8(typedAtm_[p / 3].value)) == wv.atmCurve[p])
                out[p] = typedPoint(typedAtm_[p / 3]);
            else
                out[p] = plain(wv.atmCurve[p]);
        }
    } else if (n == 29) {
        out[0] = plain(wv.atmCurve[8]);
        out[1] = std::int8_t(low8(typedAtm_[3].value)) == wv.atmCurve[9] ? typedPoint(typedAtm_[3])
                                                                         : plain(wv.atmCurve[9]);
        out[2] = divided("eSondaLenta", 10);
        out[3] = divided("eSondaParcial", 10);
        out[4] = divided("eSondaPlena", 10);
        out[5] = plain(wv.lambdaType);
        out[6] = plain(wv.lambdaLoadSource);
        out[7] = integer("eSondaTemp");
    } else if (n == 30) {
        out[0] = plain(wv.lambdaActivity);
        out[1] = plain(wv.quickAccelSource);
        out[2] = tenths("eBasico");
        out[3] = integer("eGanho");
        out[4] = integer("eDecremento");
        out[5] = plain(wv.wheelCode);
        // The offset is the position in the tooth list: the tooth text may range over
        // the first tooth up to 255 teeth after it.
        out[6] = checkedByte(wv.toothOffset, "cbDentesPms", toothText_, 0, 255, numtext::formatInt(firstTooth_),
                             numtext::formatInt(firstTooth_ + 255));
        out[7] = divided("eLimiteRpm", 100);
    } else if (n == 31) {
        out[0] = plain(wv.mapCombination);
        out[1] = integer("eAvancoPartida");
        out[2] = plain(wv.speedScaleIndex);
        {
            // Coil charge time in units of 25 µs; outside 2 to 6 ms the ECU gets 3 ms.
            int code = scaled(s.text("eTempoCarga"), 1000) / 25;
            if (code < 80 || code > 240)
                code = 120;
            out[3] = plain(code);
        }
        out[4] = plain(s.itemIndex("cbPontoZero") - 3);
        // The TPS limits travel as their low 8 bits by design (the minimum is a
        // 0..1023 reading of which the ECU takes the low byte).
        out[5] = plain(wv.tpsMin);
        out[6] = plain(wv.tpsMax);
        out[7] = plain(0);
    } else {
        out[0] = divided("eDeslCutOff", 100);
        out[1] = divided("eLigaCutOff", 100);
        out[2] = integer("eLigaEletro");
        out[3] = integer("eDesligaEletro");
        out[4] = checkedByte(wv.fanIncrement, "emSCorrecaoEletro", fanText_, byteLo, byteHi,
                             numtext::formatGeneral(byteLo / 10.0L), numtext::formatGeneral(byteHi / 10.0L));
        out[5] = integer("ePercEletro");
        out[6] = tenths("emSAr");
        out[7] = integer("ePercentualAr");
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
        throw ImageRangeError(
            rangeMessage(*bad, QStringLiteral("O bloco %1 não foi enviado.").arg(n)).toUtf8().toStdString());
    std::array<std::uint8_t, 8> out{};
    for (int i = 0; i < 8; ++i)
        out[i] = low8(bytes[i].value);
    return out;
}

void ParameterImage::checkAll() const
{
    for (int n = 1; n <= 32; ++n) {
        const Bytes bytes = encode(n);
        if (const Byte *bad = outOfRange(bytes))
            throw ImageRangeError(rangeMessage(*bad, QStringLiteral("Nada foi enviado.")).toUtf8().toStdString());
    }
}
