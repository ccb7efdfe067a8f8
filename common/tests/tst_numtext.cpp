// Number texts: the comma-separated forms the screen and the map files carry.
#include "common/numtext.h"

#include <QtTest>
#include <clocale>
#include <limits>

using namespace numtext;

namespace {
const long double kFiveSixths = 5.0L / 6.0L;

QString show(long double v) { return QString::asprintf("%.21Lg", v); }
} // namespace

class TestNumText : public QObject {
    Q_OBJECT
private slots:
    void parseIntAccepts_data();
    void parseIntAccepts();
    void nulInTheTextIsShownNotCut();
    void parseIntRejects_data();
    void parseIntRejects();
    void parseFloatAccepts_data();
    void parseFloatAccepts();
    void parseFloatRejects_data();
    void parseFloatRejects();
    void formatGeneralWrites_data();
    void formatGeneralWrites();
    void formatFloatWrites_data();
    void formatFloatWrites();
    void formatFixedWrites_data();
    void formatFixedWrites();
    void formatIntWrites_data();
    void formatIntWrites();
    void screenRoundTrips_data();
    void screenRoundTrips();
    void commaLocaleChangesNothing();
};

void TestNumText::parseIntAccepts_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("expected");
    QTest::newRow("zero") << "0" << 0;
    QTest::newRow("plain") << "1500" << 1500;
    QTest::newRow("negative") << "-3" << -3;
    QTest::newRow("plus sign") << "+12" << 12;
    QTest::newRow("leading zeros") << "007" << 7;
    QTest::newRow("minus zero") << "-0" << 0;
    QTest::newRow("largest") << "2147483647" << 2147483647;
    QTest::newRow("smallest") << "-2147483648" << std::numeric_limits<int>::min();
    QTest::newRow("many leading zeros") << "000000000000000000042" << 42;
}

void TestNumText::parseIntAccepts()
{
    QFETCH(QString, text);
    QFETCH(int, expected);
    QCOMPARE(parseInt(text), expected);
    int value = 99;
    QVERIFY(tryParseInt(text, &value));
    QCOMPARE(value, expected);
}

void TestNumText::parseIntRejects_data()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("empty") << "";
    QTest::newRow("leading blank") << " 5";
    QTest::newRow("trailing blank") << "5 ";
    QTest::newRow("letters after") << "12a";
    QTest::newRow("tenths product") << "35,5";
    QTest::newRow("point") << "3.0";
    QTest::newRow("exponent") << "1E3";
    QTest::newRow("one past largest") << "2147483648";
    QTest::newRow("one past smallest") << "-2147483649";
    QTest::newRow("far too long") << "99999999999999999999999";
    QTest::newRow("sign alone") << "-";
    QTest::newRow("plus alone") << "+";
    QTest::newRow("two signs") << "--5";
    QTest::newRow("hexadecimal") << "0x1F";
    QTest::newRow("arabic-indic digit") << QString(QChar(0x0663));
    QTest::newRow("accented text") << "ç";
    QTest::newRow("placeholder in text") << "%1";
}

// A map file may hand a field holding a NUL byte to the parsers: the message must
// still be whole.
void TestNumText::nulInTheTextIsShownNotCut()
{
    const QString text = QString::fromLatin1("60\0 00", 6);
    try {
        parseInt(text);
        QFAIL("no error");
    } catch (const ConvertError &e) {
        QCOMPARE(QString::fromUtf8(e.what()), QString::fromUtf8("'60\u2400 00' is not a valid integer value"));
    }
    try {
        parseFloat(text);
        QFAIL("no error");
    } catch (const ConvertError &e) {
        QCOMPARE(QString::fromUtf8(e.what()), QString::fromUtf8("'60\u2400 00' is not a valid floating point value"));
    }
}

void TestNumText::parseIntRejects()
{
    QFETCH(QString, text);
    const QString expected = QStringLiteral("'%1' is not a valid integer value").arg(text);
    try {
        parseInt(text);
        QFAIL("no error");
    } catch (const ConvertError &e) {
        QCOMPARE(e.message(), expected);
        QCOMPARE(QByteArray(e.what()), expected.toUtf8());
    }
    int value = 99;
    QVERIFY(!tryParseInt(text, &value));
    QCOMPARE(value, 99);
}

void TestNumText::parseFloatAccepts_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<long double>("expected");
    QTest::newRow("comma") << "3,5" << 3.5L;
    QTest::newRow("whole") << "8" << 8.0L;
    QTest::newRow("extended precision") << "0,1" << 0.1L;
    QTest::newRow("three decimals") << "3,55" << 3.55L;
    QTest::newRow("bulk change negative") << " -1,5" << -1.5L;
    QTest::newRow("bulk change zero") << " 0,0" << 0.0L;
    QTest::newRow("trailing blank") << "2,50 " << 2.5L;
    QTest::newRow("blanks both sides") << "  8  " << 8.0L;
    QTest::newRow("tab") << "\t7" << 7.0L;
    QTest::newRow("plus sign") << "+2,5" << 2.5L;
    QTest::newRow("nothing before comma") << ",5" << 0.5L;
    QTest::newRow("nothing after comma") << "5," << 5.0L;
    QTest::newRow("exponent") << "1,5E3" << 1500.0L;
    QTest::newRow("small exponent") << "1e-3" << 0.001L;
    QTest::newRow("exponent plus") << "2,5E+2" << 250.0L;
    QTest::newRow("leading zeros") << "007,50" << 7.5L;
    QTest::newRow("beyond double range") << "1E4000" << 1e4000L;
    QTest::newRow("underflows to zero") << "1E-5000" << 0.0L;
}

void TestNumText::parseFloatAccepts()
{
    QFETCH(QString, text);
    QFETCH(long double, expected);
    const long double value = parseFloat(text);
    QVERIFY2(value == expected, qPrintable(show(value) + " != " + show(expected)));
    long double tried = 99;
    QVERIFY(tryParseFloat(text, &tried));
    QVERIFY2(tried == expected, qPrintable(show(tried)));
}

void TestNumText::parseFloatRejects_data()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("empty") << "";
    QTest::newRow("blanks only") << "   ";
    QTest::newRow("point separator") << "3.5";
    QTest::newRow("thousands point") << "1.000,5";
    QTest::newRow("two commas") << "1,2,3";
    QTest::newRow("word") << "abc";
    QTest::newRow("exponent without digits") << "1E";
    QTest::newRow("exponent sign without digits") << "1E+";
    QTest::newRow("exponent alone") << "E5";
    QTest::newRow("comma in exponent") << "1,5E3,2";
    QTest::newRow("comma alone") << ",";
    QTest::newRow("sign alone") << "-";
    QTest::newRow("blank after sign") << "- 5";
    QTest::newRow("blank inside") << "1 5";
    QTest::newRow("sign after") << "5-";
    QTest::newRow("unit after") << "1,5 mm";
    QTest::newRow("infinity word") << "inf";
    QTest::newRow("nan word") << "nan";
    QTest::newRow("hexadecimal") << "0x10";
    QTest::newRow("overflow") << "1E99999";
    QTest::newRow("fullwidth digit") << QString(QChar(0xFF11));
    QTest::newRow("accented text") << "três";
}

void TestNumText::parseFloatRejects()
{
    QFETCH(QString, text);
    const QString expected = QStringLiteral("'%1' is not a valid floating point value").arg(text);
    try {
        parseFloat(text);
        QFAIL("no error");
    } catch (const ConvertError &e) {
        QCOMPARE(e.message(), expected);
        QCOMPARE(QByteArray(e.what()), expected.toUtf8());
    }
    long double value = 99;
    QVERIFY(!tryParseFloat(text, &value));
    QVERIFY(value == 99);
}

void TestNumText::formatGeneralWrites_data()
{
    QTest::addColumn<long double>("value");
    QTest::addColumn<QString>("expected");
    QTest::newRow("zero") << 0.0L << "0";
    QTest::newRow("negative zero") << -0.0L << "0";
    QTest::newRow("whole") << 34.0L << "34";
    QTest::newRow("one decimal") << 12.5L << "12,5";
    QTest::newRow("negative") << -3.0L << "-3";
    QTest::newRow("tenths product") << 3.55L * 10 << "35,5";
    QTest::newRow("thousandths product") << 3.65L * 1000 << "3650";
    QTest::newRow("tenth") << 0.1L << "0,1";
    QTest::newRow("third") << 1.0L / 3 << "0,333333333333333";
    QTest::newRow("percent of 3,5") << 3.5L * kFiveSixths << "2,91666666666667";
    QTest::newRow("percent of 8,1") << 8.1L * kFiveSixths << "6,75";
    QTest::newRow("rounds up through the point") << 0.9999999999999999L << "1";
    QTest::newRow("fifteen digits") << 123456789012345.0L << "123456789012345";
    QTest::newRow("rounds to exponent") << 999999999999999.9L << "1E15";
    QTest::newRow("large") << 1e15L << "1E15";
    QTest::newRow("large with mantissa") << 1.5e20L << "1,5E20";
    QTest::newRow("smallest plain") << 0.00001L << "0,00001";
    QTest::newRow("small") << 0.000001L << "1E-6";
    QTest::newRow("small negative") << -1.25e-7L << "-1,25E-7";
    QTest::newRow("infinity") << std::numeric_limits<long double>::infinity() << "INF";
    QTest::newRow("minus infinity") << -std::numeric_limits<long double>::infinity() << "-INF";
    QTest::newRow("not a number") << std::numeric_limits<long double>::quiet_NaN() << "NAN";
}

void TestNumText::formatGeneralWrites()
{
    QFETCH(long double, value);
    QFETCH(QString, expected);
    QCOMPARE(formatGeneral(value), expected);
}

void TestNumText::formatFloatWrites_data()
{
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<long double>("value");
    QTest::addColumn<QString>("expected");
    QTest::newRow("0 whole") << "0" << 1500.0L << "1500";
    QTest::newRow("0 half up") << "0" << 2.5L << "3";
    QTest::newRow("0 half away below zero") << "0" << -2.5L << "-3";
    QTest::newRow("0 small negative shows zero") << "0" << -0.4L << "0";
    QTest::newRow("0.0 pads") << "0.0" << 8.0L << "8,0";
    QTest::newRow("0.0 half away") << "0.0" << 6.75L << "6,8";
    QTest::newRow("0.0 below half") << "0.0" << 3.5L * kFiveSixths << "2,9";
    QTest::newRow("0.0 stored just below half") << "0.0" << 1.1L * 2.5L << "2,8";
    QTest::newRow("0.0 carries") << "0.0" << 9.96L << "10,0";
    QTest::newRow("0.0 leading zero") << "0.0" << 0.05L << "0,1";
    QTest::newRow("0.0 negative") << "0.0" << -2.25L << "-2,3";
    QTest::newRow("0.0 negative rounding to zero") << "0.0" << -0.04L << "0,0";
    QTest::newRow("0.0 large") << "0.0" << 1e20L << "100000000000000000000,0";
    QTest::newRow("0.00 blank kept") << "0.00 " << 2.5L << "2,50 ";
    QTest::newRow("0.00 blank carries") << "0.00 " << 4.999L << "5,00 ";
    QTest::newRow("0.00 stored just below half") << "0.00 " << 2.675L << "2,68 ";
    QTest::newRow("0.00 one hundredth") << "0.00 " << 1.005L << "1,01 ";
    QTest::newRow("#0.0 below one") << "#0.0" << 0.5L << "0,5";
    QTest::newRow("#0.0 hundreds") << "#0.0" << 123.45L << "123,5";
    QTest::newRow("#0.0 negative") << "#0.0" << -12.34L << "-12,3";
    QTest::newRow("0;-0;0 positive") << "0;-0;0" << 5.0L << "5";
    QTest::newRow("0;-0;0 negative") << "0;-0;0" << -5.0L << "-5";
    QTest::newRow("0;-0;0 zero") << "0;-0;0" << 0.0L << "0";
    QTest::newRow("0;-0;0 rounds to zero") << "0;-0;0" << -0.4L << "0";
    QTest::newRow("0;-0;0 rounds away") << "0;-0;0" << -0.5L << "-1";
    QTest::newRow("0;-0; empty zero section") << "0;-0;" << -0.2L << "0";
    QTest::newRow("0;-0; negative") << "0;-0;" << -3.0L << "-3";
    QTest::newRow("0.0;-0.0 negative") << "0.0;-0.0" << -1.25L << "-1,3";
    QTest::newRow("0.0;-0.0 rounds to zero") << "0.0;-0.0" << -0.04L << "0,0";
    QTest::newRow("0.0;-0.0;0.0 payload") << "0.0;-0.0;0.0" << 25.5L << "25,5";
    QTest::newRow("0.0;-0.0;0.0 tenth below zero") << "0.0;-0.0;0.0" << -0.1L << "-0,1";
    QTest::newRow("bulk positive") << "0.0; -0.0; 0.0" << 6.6L << "6,6";
    QTest::newRow("bulk twenty percent") << "0.0; -0.0; 0.0" << 1.2L * 3.5L << "4,2";
    QTest::newRow("bulk rounds down") << "0.0; -0.0; 0.0" << 8.1L * 1.2L << "9,7";
    QTest::newRow("bulk negative") << "0.0; -0.0; 0.0" << -1.5L << " -1,5";
    QTest::newRow("bulk negative rounds") << "0.0; -0.0; 0.0" << -0.98L * 3.5L << " -3,4";
    QTest::newRow("bulk zero") << "0.0; -0.0; 0.0" << 0.0L << " 0,0";
    QTest::newRow("bulk rounds to zero") << "0.0; -0.0; 0.0" << -0.04L << " 0,0";
    QTest::newRow("volts") << "0.00;-0.00;0.00" << 512 * 5 / 1023.0L << "2,50";
    QTest::newRow("volts zero") << "0.00;-0.00;0.00" << -0.004L << "0,00";
    QTest::newRow("optional decimals shown") << "0.##" << 2.5L << "2,5";
    QTest::newRow("optional decimals dropped") << "0.##" << 2.0L << "2";
    QTest::newRow("zero integer digits") << "00.0" << 5.0L << "05,0";
    QTest::newRow("empty negative section") << "0;;z" << -3.0L << "-3";
    QTest::newRow("zero section without placeholders") << "0;;z" << 0.0L << "z";
    QTest::newRow("a fourth section is no part of the zero one") << "0;-0;0;9" << 0.0L << "0";
    QTest::newRow("exponent of three digits") << "0" << 1e300L << "1" + QString(300, u'0');
    QTest::newRow("tiny rounds to zero") << "0.00" << 1e-300L << "0,00";
    QTest::newRow("exponent of four digits below zero") << "0.0;-0.0" << -1e-4000L << "0,0";
}

void TestNumText::formatFloatWrites()
{
    QFETCH(QString, pattern);
    QFETCH(long double, value);
    QFETCH(QString, expected);
    QCOMPARE(formatFloat(pattern, value), expected);
}

void TestNumText::formatIntWrites_data()
{
    QTest::addColumn<long long>("value");
    QTest::addColumn<QString>("expected");
    QTest::newRow("zero") << 0LL << "0";
    QTest::newRow("thousands") << 1500LL << "1500";
    QTest::newRow("negative") << -3LL << "-3";
    QTest::newRow("smallest") << std::numeric_limits<long long>::min() << "-9223372036854775808";
}

void TestNumText::formatIntWrites()
{
    QFETCH(long long, value);
    QFETCH(QString, expected);
    QCOMPARE(formatInt(value), expected);
}

// The injection map's views write a value in the general format, read it back and
// write it with one decimal; the tenths encoding writes the product and reads it as
// an integer.
void TestNumText::screenRoundTrips_data()
{
    QTest::addColumn<QString>("cell");
    QTest::addColumn<bool>("toPercent");
    QTest::addColumn<long double>("factor");
    QTest::addColumn<QString>("expected");
    QTest::newRow("3,5 to percent") << "3,5" << true << kFiveSixths << "2,9";
    QTest::newRow("8,1 to percent") << "8,1" << true << kFiveSixths << "6,8";
    QTest::newRow("6,2 to percent") << "6,2" << true << 1.5L << "9,3";
    QTest::newRow("8,1 row 8 to percent") << "8,1" << true << 12.0L << "97,2";
    QTest::newRow("6,8 back to ms") << "6,8" << false << kFiveSixths << "8,2";
    QTest::newRow("2,9 back to ms") << "2,9" << false << kFiveSixths << "3,5";
    QTest::newRow("97,2 back to ms") << "97,2" << false << 12.0L << "8,1";
    QTest::newRow("8 to percent") << "8" << true << kFiveSixths << "6,7";
    QTest::newRow("6,7 back to ms") << "6,7" << false << kFiveSixths << "8,0";
    QTest::newRow("zero") << "0" << true << kFiveSixths << "0,0";
}

void TestNumText::screenRoundTrips()
{
    QFETCH(QString, cell);
    QFETCH(bool, toPercent);
    QFETCH(long double, factor);
    QFETCH(QString, expected);
    const long double v = parseFloat(cell);
    const QString general = formatGeneral(toPercent ? v * factor : v / factor);
    QCOMPARE(formatFloat(QStringLiteral("0.0"), parseFloat(general)), expected);
}

// The application takes the process locale from the environment; a locale whose
// decimal point is the comma must change neither parsing nor writing.
void TestNumText::commaLocaleChangesNothing()
{
    const char *names[] = {"pt_BR.UTF-8", "de_DE.UTF-8", "fr_FR.UTF-8"};
    const char *found = nullptr;
    for (const char *name : names)
        if (std::setlocale(LC_ALL, name)) {
            found = name;
            break;
        }
    if (!found)
        QSKIP("no locale with a decimal comma is installed");
    const long double value = parseFloat(QStringLiteral("3,55"));
    const QString general = formatGeneral(12.5L);
    const QString fixed = formatFloat(QStringLiteral("0.00 "), 2.675L);
    const bool pointRejected = !tryParseFloat(QStringLiteral("3.5"), nullptr);
    std::setlocale(LC_ALL, "C");
    QVERIFY(value == 3.55L);
    QCOMPARE(general, QStringLiteral("12,5"));
    QCOMPARE(fixed, QStringLiteral("2,68 "));
    QVERIFY(pointRejected);
}

// Every decimal-comma text outside the cells (the viewer's numbers, a marker's time).
void TestNumText::formatFixedWrites_data()
{
    QTest::addColumn<long double>("value");
    QTest::addColumn<int>("decimals");
    QTest::addColumn<QString>("expected");
    QTest::newRow("two decimals, no grouping") << 1234.5L << 2 << "1234,50";
    QTest::newRow("three decimals") << -3.14159L << 3 << "-3,142";
    QTest::newRow("none") << 7.6L << 0 << "8";
    QTest::newRow("a marker's time") << 83456 / 1000.0L << 3 << "83,456";
    QTest::newRow("rounds to zero: no minus") << -0.001L << 2 << "0,00";
    QTest::newRow("half away from zero") << -0.25L << 1 << "-0,3";
}

void TestNumText::formatFixedWrites()
{
    QFETCH(long double, value);
    QFETCH(int, decimals);
    QFETCH(QString, expected);
    QCOMPARE(formatFixed(value, decimals), expected);
}

QTEST_APPLESS_MAIN(TestNumText)
#include "tst_numtext.moc"
