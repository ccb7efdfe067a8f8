#include "common/numtext.h"

#include <QStringList>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <locale.h>
#include <string>

namespace numtext {

ConvertError::ConvertError(const QString &message)
    // A NUL inside the offending text would cut the message short: show it as ␀.
    : std::runtime_error(QString(message).replace(QChar(u'\0'), QChar(0x2400)).toUtf8().toStdString())
{
}

ConvertError ConvertError::inField(const ConvertError &error, const QString &control, const QString &description,
                                   const QString &written, int decimals)
{
    const QString first = error.conversionMessage();
    QString line;
    if (written.trimmed().isEmpty())
        line = QStringLiteral("O campo %1 está vazio: escreva um número.").arg(description);
    else if (!tryParseFloat(written, nullptr))
        line = QStringLiteral("O campo %1 contém \"%2\", que não é um número.").arg(description, written);
    else if (decimals <= 0)
        line = QStringLiteral("O campo %1 contém \"%2\": use um número inteiro.").arg(description, written);
    else
        line = QStringLiteral("O campo %1 contém \"%2\": use no máximo %3.")
                   .arg(description, written,
                        decimals == 1 ? QStringLiteral("uma casa decimal")
                                      : QStringLiteral("%1 casas decimais").arg(decimals));
    ConvertError e(first + QLatin1Char('\n') + line);
    e.control_ = control;
    e.conversion_ = first;
    return e;
}

namespace {

bool isBlank(QChar c) { return c == u' ' || c == u'\t'; }
bool isDigit(QChar c) { return c >= u'0' && c <= u'9'; }

// A finite, non-zero magnitude in scientific form: digits[0] is the units digit and
// the value is digits[0].digits[1..] x 10^exponent.
struct Decimal {
    std::string digits;
    int exponent = 0;
};

Decimal toDecimal(long double magnitude, int significant)
{
    char buffer[64];
    const auto result =
        std::to_chars(buffer, buffer + sizeof buffer, magnitude, std::chars_format::scientific, significant - 1);
    // "d.ddde+XX": the digits without the point, then the exponent's sign and digits.
    const char *e = std::find(buffer, result.ptr, 'e');
    Decimal d;
    d.digits.reserve(std::size_t(significant));
    for (const char *c = buffer; c != e; ++c)
        if (*c != '.')
            d.digits += *c;
    const bool negative = e[1] == '-';
    std::from_chars(e + 2, result.ptr, d.exponent);
    if (negative)
        d.exponent = -d.exponent;
    return d;
}

QString nonFinite(long double value)
{
    if (std::isnan(value))
        return QStringLiteral("NAN");
    return value > 0 ? QStringLiteral("INF") : QStringLiteral("-INF");
}

// Checks the shape [sign] digits [',' digits] [E [sign] digits] with at least one
// mantissa digit, and turns it into the C form that strtold reads.
bool toCNumber(const QString &text, std::string *out)
{
    qsizetype begin = 0, end = text.size();
    while (begin < end && isBlank(text[begin]))
        ++begin;
    while (end > begin && isBlank(text[end - 1]))
        --end;
    qsizetype i = begin;
    std::string c;
    if (i < end && (text[i] == u'+' || text[i] == u'-'))
        c += char(text[i++].unicode());
    int mantissaDigits = 0;
    for (; i < end && isDigit(text[i]); ++i, ++mantissaDigits)
        c += char(text[i].unicode());
    if (i < end && text[i] == u',') {
        c += '.';
        for (++i; i < end && isDigit(text[i]); ++i, ++mantissaDigits)
            c += char(text[i].unicode());
    }
    if (mantissaDigits == 0)
        return false;
    if (i < end && (text[i] == u'E' || text[i] == u'e')) {
        c += 'e';
        ++i;
        if (i < end && (text[i] == u'+' || text[i] == u'-'))
            c += char(text[i++].unicode());
        int exponentDigits = 0;
        for (; i < end && isDigit(text[i]); ++i, ++exponentDigits)
            c += char(text[i].unicode());
        if (exponentDigits == 0)
            return false;
    }
    if (i != end)
        return false;
    *out = std::move(c);
    return true;
}

// strtold follows the process locale, which the application sets from the
// environment; the texts always use the comma, so read them in the C locale.
locale_t cLocale()
{
    static const locale_t locale = newlocale(LC_NUMERIC_MASK, "C", locale_t(0));
    return locale;
}

// |value| rounded half away from zero to `decimals` places, as the digits before the
// point (no leading zeros, empty for zero) and exactly `decimals` digits after it.
// The value is first taken to 18 significant digits, as many as extended precision
// holds, so that 2.75 stored as 2.7499999... still rounds up.
struct Rounded {
    std::string integer;
    std::string fraction;
    bool isZero() const { return integer.empty() && fraction.find_first_not_of('0') == std::string::npos; }
};

Rounded roundHalfAway(long double magnitude, int decimals)
{
    constexpr int kDigits = 18;
    Rounded r;
    r.fraction.assign(decimals, '0');
    if (magnitude == 0)
        return r;
    Decimal d = toDecimal(magnitude, kDigits);
    const int kept = d.exponent + 1 + decimals;
    if (kept < 0)
        return r;
    std::string digits = d.digits.substr(0, std::min(kept, kDigits));
    if (kept < kDigits && d.digits[kept] >= '5') {
        int i = int(digits.size()) - 1;
        for (; i >= 0 && digits[i] == '9'; --i)
            digits[i] = '0';
        if (i >= 0) {
            ++digits[i];
        } else {
            digits.insert(digits.begin(), '1');
            ++d.exponent;
        }
    }
    const int integerDigits = d.exponent + 1;
    if (integerDigits > 0) {
        if (int(digits.size()) < integerDigits)
            digits.append(integerDigits - digits.size(), '0');
        r.integer = digits.substr(0, integerDigits);
        digits.erase(0, integerDigits);
    } else {
        digits.insert(0, -integerDigits, '0');
    }
    r.fraction = digits.substr(0, decimals);
    r.fraction.append(decimals - r.fraction.size(), '0');
    if (r.integer.find_first_not_of('0') == std::string::npos)
        r.integer.clear();
    return r;
}

bool isPlaceholder(QChar c) { return c == u'0' || c == u'#'; }

// One section of a format pattern: where its digit placeholders stand.
struct Section {
    QStringView text;
    qsizetype point = -1; // index of the first '.', -1 if none
    int integerPlaceholders = 0;
    int minIntegerDigits = 0; // placeholders from the first '0' up to the point
    int decimals = 0;         // placeholders after the point
    int minDecimals = 0;      // up to and including the last '0' after the point

    explicit Section(QStringView pattern) : text(pattern)
    {
        point = text.indexOf(u'.');
        const qsizetype integerEnd = point < 0 ? text.size() : point;
        bool seenZero = false;
        for (qsizetype i = 0; i < integerEnd; ++i) {
            if (!isPlaceholder(text[i]))
                continue;
            ++integerPlaceholders;
            seenZero = seenZero || text[i] == u'0';
            if (seenZero)
                ++minIntegerDigits;
        }
        if (point < 0)
            return;
        for (qsizetype i = point + 1; i < text.size(); ++i) {
            if (!isPlaceholder(text[i]))
                continue;
            ++decimals;
            if (text[i] == u'0')
                minDecimals = decimals;
        }
    }

    QString render(const Rounded &r) const
    {
        std::string integer = r.integer;
        if (int(integer.size()) < minIntegerDigits)
            integer.insert(0, minIntegerDigits - integer.size(), '0');
        std::string fraction = r.fraction;
        while (int(fraction.size()) > minDecimals && fraction.back() == '0')
            fraction.pop_back();

        // Integer digits fill the placeholders from the right; digits beyond the
        // placeholders all go to the first one.
        const int surplus = int(integer.size()) - integerPlaceholders;
        QString out;
        out.reserve(text.size() + qsizetype(integer.size() + fraction.size()) + 1);
        int integerIndex = 0, fractionIndex = 0;
        for (qsizetype i = 0; i < text.size(); ++i) {
            const QChar c = text[i];
            if (i == point) {
                if (integerPlaceholders == 0)
                    out += QLatin1String(integer.data(), qsizetype(integer.size()));
                if (!fraction.empty())
                    out += u',';
            } else if (isPlaceholder(c) && (point < 0 || i < point)) {
                const int digit = integerIndex++ + surplus;
                if (integerIndex == 1 && surplus > 0)
                    out += QLatin1String(integer.data(), surplus + 1);
                else if (digit >= 0)
                    out += QChar(integer[digit]);
            } else if (isPlaceholder(c)) {
                if (fractionIndex < int(fraction.size()))
                    out += QChar(fraction[fractionIndex]);
                ++fractionIndex;
            } else {
                out += c;
            }
        }
        return out;
    }
};

} // namespace

bool tryParseInt(const QString &text, int *value)
{
    qsizetype i = 0;
    const bool negative = !text.isEmpty() && text[0] == u'-';
    if (!text.isEmpty() && (text[0] == u'-' || text[0] == u'+'))
        ++i;
    if (i == text.size())
        return false;
    // Accumulate the magnitude; the limit is one more for negatives (-2147483648).
    const long long limit = negative ? 2147483648LL : 2147483647LL;
    long long magnitude = 0;
    for (; i < text.size(); ++i) {
        if (!isDigit(text[i]))
            return false;
        magnitude = magnitude * 10 + (text[i].unicode() - u'0');
        if (magnitude > limit)
            return false;
    }
    if (value)
        *value = int(negative ? -magnitude : magnitude);
    return true;
}

int parseInt(const QString &text)
{
    int value = 0;
    if (!tryParseInt(text, &value))
        throw ConvertError(QStringLiteral("'%1' is not a valid integer value").arg(text));
    return value;
}

bool tryParseFloat(const QString &text, long double *value)
{
    std::string c;
    if (!toCNumber(text, &c))
        return false;
    const long double parsed = strtold_l(c.c_str(), nullptr, cLocale());
    // Too large for extended precision: no number the screen could show.
    if (std::isinf(parsed))
        return false;
    if (value)
        *value = parsed;
    return true;
}

long double parseFloat(const QString &text)
{
    long double value = 0;
    if (!tryParseFloat(text, &value))
        throw ConvertError(QStringLiteral("'%1' is not a valid floating point value").arg(text));
    return value;
}

QString formatGeneral(long double value)
{
    if (!std::isfinite(value))
        return nonFinite(value);
    if (value == 0)
        return QStringLiteral("0");
    Decimal d = toDecimal(std::fabs(value), 15);
    d.digits.erase(d.digits.find_last_not_of('0') + 1);

    std::string out = value < 0 ? "-" : "";
    if (d.exponent >= 15 || d.exponent < -5) {
        out += d.digits[0];
        if (d.digits.size() > 1)
            out += ',' + d.digits.substr(1);
        out += 'E' + std::to_string(d.exponent);
    } else if (d.exponent >= 0) {
        const std::size_t integerDigits = d.exponent + 1;
        if (d.digits.size() < integerDigits)
            d.digits.append(integerDigits - d.digits.size(), '0');
        out += d.digits.substr(0, integerDigits);
        if (d.digits.size() > integerDigits)
            out += ',' + d.digits.substr(integerDigits);
    } else {
        out += "0," + std::string(-d.exponent - 1, '0') + d.digits;
    }
    return QString::fromLatin1(out);
}

QString formatFloat(const QString &pattern, long double value)
{
    if (!std::isfinite(value))
        return nonFinite(value);
    // The positive, negative and zero sections: the first three pieces between ';'.
    QStringView sections[3];
    QStringView rest(pattern);
    for (int i = 0; i < 3 && !rest.isNull(); ++i) {
        const qsizetype end = rest.indexOf(u';');
        sections[i] = end < 0 ? rest : rest.left(end);
        rest = end < 0 ? QStringView() : rest.sliced(end + 1);
    }
    const QStringView positive = sections[0], negativePart = sections[1], zeroPart = sections[2];

    const bool negative = value < 0;
    const bool ownNegative = negative && !negativePart.isEmpty();
    Section section(ownNegative ? negativePart : positive);
    Rounded rounded = roundHalfAway(std::fabs(value), section.decimals);
    if (rounded.isZero()) {
        section = Section(zeroPart.isEmpty() ? positive : zeroPart);
        return section.render(roundHalfAway(0, section.decimals));
    }
    const QString text = section.render(rounded);
    // A section of its own carries its sign as a literal; the positive one does not.
    return negative && !ownNegative ? u'-' + text : text;
}

QString formatFixed(long double value, int decimals)
{
    QString section = QStringLiteral("0");
    if (decimals > 0)
        section += u'.' + QString(decimals, u'0');
    return formatFloat(section + QStringLiteral(";-") + section + QLatin1Char(';') + section, value);
}

QString formatInt(long long value) { return QString::number(value); }

} // namespace numtext
