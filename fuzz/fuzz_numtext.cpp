// Number texts: any text into parseInt, parseFloat and their try forms, and any
// extended-precision value (infinities and NaN included) into formatGeneral or
// formatFloat with a pattern the program uses (see inputs.h for the layout: the first
// byte chooses the text's encoding, the value and the format). The
// results are compared with a second reading of the same rules built on the C library's
// own decimal conversion (printf, strtold), and every text that the general format
// writes for a finite value must parse back.
#include "check.h"
#include "common/numtext.h"
#include "inputs.h"

#include <QStringList>

#include <cerrno>
#include <cfloat>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <locale.h>
#include <optional>
#include <string>

namespace {

const char *const programPatterns[] = {"0",        "0.0",          "0.00 ",          "#0.0",
                                       "0;-0;0",   "0;-0;",        "0.0;-0.0",       "0.0;-0.0;0.0",
                                       "0.0; -0.0; 0.0", "0.00;-0.00;0.00"};

bool digit(QChar c) { return c >= u'0' && c <= u'9'; }

// The message of a conversion error: the text between quotes, then the reason. A NUL
// character of the text may come out as any other character (what() is a C string, so
// it cannot hold one), but must not cut the message short.
void checkMessage(const char *what, const QString &text, const char *reason)
{
    // A lone surrogate has no UTF-8 form: compare with what UTF-8 makes of the text.
    const QString want = QString::fromUtf8((u'\'' + text + u'\'' + QLatin1String(reason)).toUtf8());
    const QString got = QString::fromUtf8(what);
    bool same = got.size() == want.size();
    for (qsizetype i = 0; same && i < want.size(); ++i)
        same = want[i] == QChar(0) ? got[i] != QChar(0) : got[i] == want[i];
    fuzzcheck::require(same, "conversion error message", got + " / " + want);
}

// --- integers --------------------------------------------------------------------

std::optional<int> expectedInt(const QString &t)
{
    qsizetype i = 0;
    bool negative = false;
    if (i < t.size() && (t[i] == u'+' || t[i] == u'-'))
        negative = t[i++] == u'-';
    if (i == t.size())
        return std::nullopt;
    long long v = 0;
    for (; i < t.size(); ++i) {
        if (!digit(t[i]))
            return std::nullopt;
        v = v * 10 + (t[i].unicode() - u'0');
        if (v > 2147483648LL)
            return std::nullopt;
    }
    v = negative ? -v : v;
    if (v > 2147483647LL)
        return std::nullopt;
    return int(v);
}

void checkInt(const QString &text)
{
    const std::optional<int> want = expectedInt(text);
    int value = 0x5EED;
    const bool ok = numtext::tryParseInt(text, &value);
    fuzzcheck::require(ok == want.has_value(), "tryParseInt accepts or refuses against the integer rule", text);
    fuzzcheck::require(numtext::tryParseInt(text, nullptr) == ok, "tryParseInt without a value answers otherwise", text);
    if (ok) {
        fuzzcheck::require(value == *want, "tryParseInt gives another value", text);
        fuzzcheck::require(numtext::formatInt(value) == QString::fromStdString(std::to_string(value)), "formatInt");
    } else {
        fuzzcheck::require(value == 0x5EED, "a failed tryParseInt changed the value", text);
    }
    try {
        const int parsed = numtext::parseInt(text);
        fuzzcheck::require(ok && parsed == value, "parseInt and tryParseInt disagree", text);
    } catch (const numtext::ConvertError &e) {
        fuzzcheck::require(!ok, "parseInt refuses what tryParseInt accepts", text);
        checkMessage(e.what(), text, " is not a valid integer value");
    }
}

// --- floating point texts ------------------------------------------------------

// The C form ("-1.5e3") of a text of the shape [blanks][sign]digits[,digits][E[sign]digits][blanks],
// or nothing. strict: at least one digit on both sides of a comma.
std::optional<std::string> cForm(const QString &text, bool strict)
{
    auto blank = [](QChar c) { return c == u' ' || c == u'\t'; };
    qsizetype b = 0, e = text.size();
    while (b < e && blank(text[b]))
        ++b;
    while (e > b && blank(text[e - 1]))
        --e;
    std::string c;
    qsizetype i = b;
    if (i < e && (text[i] == u'+' || text[i] == u'-'))
        c += char(text[i++].unicode());
    int before = 0, after = 0;
    for (; i < e && digit(text[i]); ++i, ++before)
        c += char(text[i].unicode());
    bool comma = false;
    if (i < e && text[i] == u',') {
        comma = true;
        c += '.';
        for (++i; i < e && digit(text[i]); ++i, ++after)
            c += char(text[i].unicode());
    }
    if (before + after == 0 || (strict && comma && (before == 0 || after == 0)))
        return std::nullopt;
    if (i < e && (text[i] == u'E' || text[i] == u'e')) {
        c += 'e';
        if (++i < e && (text[i] == u'+' || text[i] == u'-'))
            c += char(text[i++].unicode());
        int exponentDigits = 0;
        for (; i < e && digit(text[i]); ++i, ++exponentDigits)
            c += char(text[i].unicode());
        if (exponentDigits == 0)
            return std::nullopt;
    }
    if (i != e)
        return std::nullopt;
    return c;
}

locale_t cLocale()
{
    static const locale_t locale = newlocale(LC_ALL_MASK, "C", locale_t(0));
    return locale;
}

long double cValue(const std::string &c) { return strtold_l(c.c_str(), nullptr, cLocale()); }

std::optional<long double> checkFloat(const QString &text)
{
    long double value = 42;
    const bool ok = numtext::tryParseFloat(text, &value);
    fuzzcheck::require(numtext::tryParseFloat(text, nullptr) == ok, "tryParseFloat without a value answers otherwise", text);
    const std::optional<std::string> loose = cForm(text, false);
    const std::optional<std::string> strict = cForm(text, true);
    if (ok) {
        fuzzcheck::require(loose.has_value(), "tryParseFloat accepts a text that is no number", text);
        const long double want = cValue(*loose);
        fuzzcheck::require(std::isfinite(value) && value == want, "tryParseFloat gives another value", text);
    } else {
        fuzzcheck::require(value == 42, "a failed tryParseFloat changed the value", text);
        fuzzcheck::require(!strict || std::isinf(cValue(*strict)), "tryParseFloat refuses a number", text);
    }
    try {
        const long double parsed = numtext::parseFloat(text);
        fuzzcheck::require(ok && parsed == value, "parseFloat and tryParseFloat disagree", text);
    } catch (const numtext::ConvertError &e) {
        fuzzcheck::require(!ok, "parseFloat refuses what tryParseFloat accepts", text);
        checkMessage(e.what(), text, " is not a valid floating point value");
    }
    return ok ? std::optional<long double>(value) : std::nullopt;
}

// --- formats -------------------------------------------------------------------

QString nonFinite(long double v)
{
    if (std::isnan(v))
        return QStringLiteral("NAN");
    return v > 0 ? QStringLiteral("INF") : QStringLiteral("-INF");
}

// |v| to `significant` digits by printf: the digits and the power of ten of the first.
void printfDigits(long double magnitude, int significant, std::string *digits, int *exponent)
{
    char buffer[96];
    std::snprintf(buffer, sizeof buffer, "%.*Le", significant - 1, magnitude);
    const std::string s(buffer);
    const std::size_t e = s.find('e');
    digits->clear();
    for (std::size_t i = 0; i < e; ++i)
        if (s[i] != '.')
            *digits += s[i];
    *exponent = std::atoi(s.c_str() + e + 1);
}

QString expectedGeneral(long double v)
{
    if (!std::isfinite(v))
        return nonFinite(v);
    if (v == 0)
        return QStringLiteral("0");
    std::string d;
    int e = 0;
    printfDigits(std::fabs(v), 15, &d, &e);
    d.erase(d.find_last_not_of('0') + 1);
    std::string out = v < 0 ? "-" : "";
    if (e >= 15 || e < -5) {
        out += d.substr(0, 1) + (d.size() > 1 ? "," + d.substr(1) : "") + "E" + std::to_string(e);
    } else if (e >= 0) {
        if (int(d.size()) < e + 1)
            d.append(std::size_t(e + 1) - d.size(), '0');
        out += d.substr(0, std::size_t(e + 1));
        if (int(d.size()) > e + 1)
            out += "," + d.substr(std::size_t(e + 1));
    } else {
        out += "0," + std::string(std::size_t(-e - 1), '0') + d;
    }
    return QString::fromStdString(out);
}

void checkGeneral(long double v)
{
    const QString got = numtext::formatGeneral(v);
    fuzzcheck::require(got == expectedGeneral(v), "formatGeneral", got + " / " + expectedGeneral(v));
    if (!std::isfinite(v))
        return;
    long double back = 0;
    fuzzcheck::require(numtext::tryParseFloat(got, &back), "a general-format text does not parse back", got);
    const long double tolerance = std::fabs(v) * 6e-15L + LDBL_TRUE_MIN;
    fuzzcheck::require(std::fabs(back - v) <= tolerance, "a general-format text parses back to another value", got);
}

// One section of the program's patterns: literal text, digit placeholders ending in
// '0' (so at least one integer digit), an optional point with '0' placeholders, literal text.
struct Section {
    QString prefix, suffix;
    int decimals = 0;
    explicit Section(const QString &s)
    {
        auto inBody = [](QChar c) { return c == u'#' || c == u'0' || c == u'.'; };
        qsizetype first = 0, last = s.size() - 1;
        while (first < s.size() && !inBody(s[first]))
            ++first;
        while (last >= 0 && !inBody(s[last]))
            --last;
        prefix = s.left(first);
        suffix = s.mid(last + 1);
        const qsizetype point = s.indexOf(u'.');
        decimals = point < 0 ? 0 : int(last - point);
    }
};

// |v| x 10^decimals rounded half away from zero after rounding |v| to 18 significant
// digits (extended precision's worth), as integer and fraction digits; "" integer for 0.
void roundedDigits(long double magnitude, int decimals, std::string *integer, std::string *fraction)
{
    std::string r;
    if (magnitude != 0) {
        std::string d;
        int e = 0;
        printfDigits(magnitude, 18, &d, &e);
        const int k = e + 1 + decimals; // digits of d before the units place of the result
        if (k >= 18) {
            r = d + std::string(std::size_t(k - 18), '0');
        } else if (k >= 0) {
            r = d.substr(0, std::size_t(k));
            if (d[std::size_t(k)] >= '5') {
                int i = int(r.size()) - 1;
                for (; i >= 0 && r[std::size_t(i)] == '9'; --i)
                    r[std::size_t(i)] = '0';
                if (i >= 0)
                    ++r[std::size_t(i)];
                else
                    r.insert(r.begin(), '1');
            }
        }
    }
    r.erase(0, std::min(r.find_first_not_of('0'), r.size()));
    if (int(r.size()) < decimals + 1)
        r.insert(0, std::size_t(decimals + 1) - r.size(), '0');
    *integer = r.substr(0, r.size() - std::size_t(decimals));
    *fraction = r.substr(r.size() - std::size_t(decimals));
    integer->erase(0, std::min(integer->find_first_not_of('0'), integer->size()));
}

QString render(const Section &s, const std::string &integer, const std::string &fraction)
{
    QString body = QString::fromStdString(integer.empty() ? "0" : integer);
    if (s.decimals > 0)
        body += u',' + QString::fromStdString(fraction);
    return s.prefix + body + s.suffix;
}

QString expectedFloat(const QString &pattern, long double v)
{
    if (!std::isfinite(v))
        return nonFinite(v);
    const QStringList parts = pattern.split(u';');
    const QString positive = parts.value(0), negativePart = parts.value(1), zeroPart = parts.value(2);
    const bool negative = v < 0;
    const bool ownNegative = negative && !negativePart.isEmpty();
    const Section section(ownNegative ? negativePart : positive);
    std::string integer, fraction;
    roundedDigits(std::fabs(v), section.decimals, &integer, &fraction);
    if (integer.empty() && fraction.find_first_not_of('0') == std::string::npos) {
        const Section zero(zeroPart.isEmpty() ? positive : zeroPart);
        return render(zero, "", std::string(std::size_t(zero.decimals), '0'));
    }
    const QString text = render(section, integer, fraction);
    return negative && !ownNegative ? u'-' + text : text;
}

static_assert(std::size(programPatterns) == fuzzinput::numtext::textPattern - 1);

// The general format (0), one of the program's patterns (1 to 10), or any other
// pattern (11): of that, only that it comes back, with no more than the digits of the
// value and the pattern's own characters.
void checkFormat(int format, long double v, const QString &freePattern)
{
    using namespace fuzzinput::numtext;
    if (format == generalFormat) {
        checkGeneral(v);
    } else if (format == textPattern) {
        const QString got = numtext::formatFloat(freePattern, v);
        fuzzcheck::require(got.size() <= freePattern.size() + 4960, "formatFloat writes more than the value's digits");
    } else {
        const QString pattern = QString::fromLatin1(programPatterns[format - 1]);
        const QString got = numtext::formatFloat(pattern, v);
        const QString want = expectedFloat(pattern, v);
        fuzzcheck::require(got == want, "formatFloat", pattern + ": " + got + " / " + want);
    }
}

QString utf16(const QByteArray &bytes)
{
    std::u16string units(std::size_t(bytes.size() / 2), u'\0');
    std::memcpy(units.data(), bytes.constData(), units.size() * 2);
    return QString::fromStdU16String(units);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    using namespace fuzzinput::numtext;
    std::uint8_t head[header] = {};
    std::memcpy(head, data, std::min<std::size_t>(size, header));
    const Choice choice = fuzzinput::numtext::choice(head[0]);
    const std::uint8_t *number = head + numberAt;
    const char *textStart = reinterpret_cast<const char *>(data) + std::min<std::size_t>(size, header);
    const qsizetype textSize = qsizetype(size > std::size_t(header) ? size - header : 0);
    const QByteArray textBytes = QByteArray::fromRawData(textStart, textSize);

    const QString text = choice.encoding == Utf8     ? QString::fromUtf8(textBytes)
                         : choice.encoding == Latin1 ? QString::fromLatin1(textBytes)
                                                     : utf16(textBytes);
    checkInt(text);
    const std::optional<long double> parsed = checkFloat(text);

    const long double value = choice.source == Decimal           ? fromDecimal(number)
                              : choice.source == Parsed && parsed ? *parsed
                                                                  : fromBits(number);
    checkFormat(choice.format, value, QString::fromLatin1(textBytes.left(24)));
    std::int64_t whole = 0;
    std::memcpy(&whole, number, 8);
    fuzzcheck::require(numtext::formatInt(whole) == QString::fromStdString(std::to_string(whole)), "formatInt");
    return 0;
}
