#pragma once
// Number texts as the screen and the map files carry them: the decimal
// separator is always the comma, whatever the machine's locale.
#include <QString>
#include <stdexcept>

namespace numtext {

// A text that does not convert. what() is the exact message shown to the user.
class ConvertError : public std::runtime_error {
public:
    explicit ConvertError(const QString &message);
    QString message() const { return QString::fromUtf8(what()); }

    // The error of a field's text: the runtime's message, then a line in the window's
    // language that names the field (description: "e12i (injeção linha 2 coluna 5)")
    // and shows what was written there; decimals: how many the field takes.
    static ConvertError inField(const ConvertError &error, const QString &control, const QString &description,
                                const QString &written, int decimals);
    // The field's control, empty when the error names none.
    QString control() const { return control_; }
    // The runtime's message alone ("'abc' is not a valid integer value").
    QString conversionMessage() const { return conversion_.isEmpty() ? message() : conversion_; }

private:
    QString control_, conversion_;
};

// Decimal integer with optional sign; blanks are not allowed around it; the value
// must fit 32 bits signed. Failure: "'%s' is not a valid integer value".
int parseInt(const QString &text);
// Same parse, without throwing; returns false where parseInt would throw, and then
// leaves *value as it was (value may be null).
bool tryParseInt(const QString &text, int *value);

// Decimal number with the comma as separator, optional sign, optional exponent
// ("1,5E3"), blanks (spaces, tabs) allowed around it; a value beyond extended precision's
// range does not convert. Failure: "'%s' is not a valid floating point value".
long double parseFloat(const QString &text);
bool tryParseFloat(const QString &text, long double *value);

// General format: shortest text with up to 15 significant digits, comma separator,
// no thousands separator; exponent form ("1,5E20", "1E-6") only from 1E15 up and below
// 0,00001. Infinities and NaN are written "INF", "-INF", "NAN" (and do not parse back).
QString formatGeneral(long double value);

// Format pattern with up to three sections "positive;negative;zero", digit
// placeholders '0' and '#', one '.' for the decimal point (written as a comma) and
// literal characters (blanks) kept as written. The zero section is taken when the
// value rounds to zero; an empty section falls back to the positive one. Rounding is
// half away from zero. Patterns used: "0", "0.0", "0.00 ", "#0.0", "0;-0;0", "0;-0;",
// "0.0;-0.0", "0.0;-0.0;0.0", "0.0; -0.0; 0.0", "0.00;-0.00;0.00".
QString formatFloat(const QString &pattern, long double value);

// A fixed number of decimals with the decimal comma, no thousands separator, no minus
// on what rounds to zero (formatFloat's "0.00;-0.00;0.00" for two): "1234,50", "-3,142".
QString formatFixed(long double value, int decimals);

// Plain decimal integer text ("1500", "-3").
QString formatInt(long long value);

} // namespace numtext
