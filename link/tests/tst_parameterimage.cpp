// The parameter image built from the screen: block layout, encodings, the
// interpolated curves, the working values of Prepare and the range check.
#include "link/parameterimage.h"

#include "common/numtext.h"
#include "defaultimage.h"
#include "fakes.h"

#include <QtTest>

namespace {

QByteArray bytesOf(const std::array<std::uint8_t, 8> &b)
{
    QByteArray out;
    for (std::uint8_t v : b)
        out += char(v);
    return out;
}

QByteArray frameOf(const ParameterImage &image, int n) { return char(n) + bytesOf(image.block(n)); }

QByteArray wholeImage(const ParameterImage &image)
{
    QByteArray all;
    for (int n = 1; n <= 32; ++n)
        all += bytesOf(image.block(n));
    return all;
}

// Runs f and returns the message of the exception it throws ("" if none).
template <typename F> QString errorOf(F &&f)
{
    try {
        f();
    } catch (const std::exception &e) {
        return QString::fromUtf8(e.what());
    }
    return {};
}

QString rangeMessage(const QString &text, const QString &field, const QString &lo, const QString &hi,
                     const QString &tail = "Nada foi enviado.")
{
    return " Atenção ! !  O valor \"" + text + "\" do campo " + field + " está fora da faixa de " + lo + " a " + hi +
           ". " + tail + "  ";
}

struct Setup {
    QString field;
    QString text;
};
using Setups = QList<Setup>;

} // namespace

Q_DECLARE_METATYPE(Setups)

class TestParameterImage : public QObject {
    Q_OBJECT
private slots:
    void startupFrames_data();
    void startupFrames();
    void startupImageWhole();
    void startupCurveBlocks();
    void interpolation_data();
    void interpolation();
    void encodings_data();
    void encodings();
    void selections_data();
    void selections();
    void choiceCodes_data();
    void choiceCodes();
    void wheel_data();
    void wheel();
    void wheelNoneSelectedKeepsValues();
    void conversionErrors_data();
    void conversionErrors();
    void prepareStopsAtFirstFailure();
    void sendTimeFieldsReadAtBlock();
    void rangeCheck_data();
    void rangeCheck();
    void rangeLimitsAccepted_data();
    void rangeLimitsAccepted();
    void tpsLimitsKeepLowByte();
    void fieldNamed_data();
    void fieldNamed();
    void tpsMaximumAsTheReadBackTakesIt_data();
    void tpsMaximumAsTheReadBackTakesIt();
    void checkAllFindsConversionErrors();
};

void TestParameterImage::startupFrames_data()
{
    QTest::addColumn<int>("block");
    QTest::addColumn<QByteArray>("frame");
    using defaultimage::fromHex;
    QTest::newRow("1") << 1 << fromHex("01 0A 0A 06 06 06 06 06 06");
    QTest::newRow("10") << 10 << fromHex("0A 23 34 3A 40 4A 4E 50 51");
    QTest::newRow("19") << 19 << fromHex("13 37 32 2D 28 25 22 1E 1B");
    QTest::newRow("24") << 24 << fromHex("18 00 00 00 00 FF FE 00 00");
    QTest::newRow("29") << 29 << fromHex("1D 00 00 37 46 52 05 05 1E");
    QTest::newRow("30") << 30 << fromHex("1E 05 05 1E 05 03 03 08 3C");
    QTest::newRow("31") << 31 << fromHex("1F 05 06 00 90 00 82 E6 00");
    QTest::newRow("32") << 32 << fromHex("20 16 0F 57 50 07 14 0A 46");
}

void TestParameterImage::startupFrames()
{
    QFETCH(int, block);
    QFETCH(QByteArray, frame);
    Rig rig;
    ParameterImage image(rig.ctx);
    image.prepare();
    QCOMPARE(frameOf(image, block).toHex(' '), frame.toHex(' '));
}

void TestParameterImage::startupImageWhole()
{
    Rig rig;
    ParameterImage image(rig.ctx);
    image.prepare();
    image.checkAll(); // the start-up screen fits every byte
    const QByteArray expected = defaultimage::image();
    const QByteArray got = wholeImage(image);
    for (int n = 1; n <= 32; ++n)
        QCOMPARE(got.mid(8 * (n - 1), 8).toHex(' '), expected.mid(8 * (n - 1), 8).toHex(' '));
}

void TestParameterImage::startupCurveBlocks()
{
    // Blocks 19 to 28 of the start-up screen, as the tuner's documentation lists them.
    const QList<QList<int>> blocks = {
        {55, 50, 45, 40, 37, 34, 30, 27}, {24, 20, 18, 15, 12, 10, 8, 5}, {4, 2, 0, 0, 0, 0, 0, 0},
        {5, 5, 5, 4, 4, 4, 3, 3},         {3, 2, 2, 2, 1, 1, 1, 0},       {0, 0, 0, 0, 255, 254, 0, 0},
        {70, 64, 57, 50, 47, 44, 40, 37}, {34, 30, 27, 24, 20, 19, 17, 15}, {10, 5, 0, 0, 0, 0, 0, 0},
        {0, 0, 0, 0, 0, 0, 0, 0}};
    Rig rig;
    ParameterImage image(rig.ctx);
    image.prepare();
    for (int i = 0; i < blocks.size(); ++i) {
        QByteArray expected;
        for (int v : blocks[i])
            expected += char(v);
        QCOMPARE(bytesOf(image.block(19 + i)).toHex(' '), expected.toHex(' '));
    }
}

void TestParameterImage::interpolation_data()
{
    QTest::addColumn<QString>("first");  // typed point p
    QTest::addColumn<QString>("second"); // typed point p + 3
    QTest::addColumn<QString>("a");
    QTest::addColumn<QString>("b");
    QTest::addColumn<int>("block");
    QTest::addColumn<int>("byte"); // position of point p in the block
    QTest::addColumn<QList<int>>("points"); // p, p + 1, p + 2, p + 3 as signed bytes
    QTest::newRow("ti falling") << "eCorrecaoTi0" << "eCorrecaoTi15" << "55" << "40" << 19 << 0
                                << QList<int>{55, 50, 45, 40};
    QTest::newRow("falling rounds toward zero") << "eCorrecaoTi60" << "eCorrecaoTi75" << "5" << "0" << 20 << 4
                                                << QList<int>{5, 4, 2, 0};
    QTest::newRow("into negative") << "eCorrecaoIg90" << "eCorrecaoIg105" << "0" << "-2" << 24 << 2
                                   << QList<int>{0, 0, -1, -2};
    QTest::newRow("rising from negative") << "eCorrecaoIg90" << "eCorrecaoIg105" << "-2" << "0" << 24 << 2
                                          << QList<int>{-2, -2, -1, 0};
    QTest::newRow("rising") << "eCorrecaoMl15" << "eCorrecaoMl30" << "10" << "20" << 25 << 3
                            << QList<int>{10, 13, 16, 20};
    QTest::newRow("whole range") << "eCorrecaoMl0" << "eCorrecaoMl15" << "127" << "-128" << 25 << 0
                                 << QList<int>{127, 42, -43, -128};
    QTest::newRow("atmospheric") << "eAtm880" << "eAtm940" << "-10" << "8" << 28 << 3
                                 << QList<int>{-10, -4, 2, 8};
    QTest::newRow("atmospheric end") << "eAtm940" << "eAtm1000" << "7" << "-7" << 28 << 6
                                     << QList<int>{7, 3, -2, -7}; // points 6, 7 | 29.0, 29.1
}

void TestParameterImage::interpolation()
{
    QFETCH(QString, first);
    QFETCH(QString, second);
    QFETCH(QString, a);
    QFETCH(QString, b);
    QFETCH(int, block);
    QFETCH(int, byte);
    QFETCH(QList<int>, points);
    Rig rig;
    rig.screen.setText(first, a);
    rig.screen.setText(second, b);
    ParameterImage image(rig.ctx);
    image.prepare();
    const QByteArray all = bytesOf(image.block(block)) + bytesOf(image.block(block + 1));
    for (int i = 0; i < 4; ++i)
        QCOMPARE(int(std::int8_t(all[byte + i])), points[i]);
    // The working value holds the same points.
    const auto &wv = rig.state.wv;
    const std::int8_t *curve = block < 22   ? wv.tiCurve.data()
                               : block < 25 ? wv.advanceCurve.data()
                               : block < 28 ? wv.idleCurve.data()
                                            : wv.atmCurve.data();
    const int p = 8 * ((block - 19) % 3) + byte;
    for (int i = 0; i < 4; ++i)
        QCOMPARE(int(curve[p + i]), points[i]);
}

void TestParameterImage::encodings_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("block");
    QTest::addColumn<int>("byte");
    QTest::addColumn<int>("expected");
    QTest::newRow("coil 2 ms") << "eTempoCarga" << "2" << 31 << 3 << 80;
    QTest::newRow("coil 6 ms") << "eTempoCarga" << "6" << 31 << 3 << 240;
    QTest::newRow("coil 1,9 ms") << "eTempoCarga" << "1,9" << 31 << 3 << 120;
    QTest::newRow("coil 6,1 ms") << "eTempoCarga" << "6,1" << 31 << 3 << 120;
    QTest::newRow("coil 3,65 ms") << "eTempoCarga" << "3,65" << 31 << 3 << 146;
    QTest::newRow("coil 0 ms") << "eTempoCarga" << "0" << 31 << 3 << 120;
    QTest::newRow("coil 2,024 ms truncated") << "eTempoCarga" << "2,024" << 31 << 3 << 80;
    QTest::newRow("rpm 6050") << "eLimiteRpm" << "6050" << 30 << 7 << 60;
    QTest::newRow("rpm 6099") << "eLimiteRpm" << "6099" << 30 << 7 << 60;
    QTest::newRow("lambda 559") << "eSondaLenta" << "559" << 29 << 2 << 55;
    QTest::newRow("lambda partial 705") << "eSondaParcial" << "705" << 29 << 3 << 70;
    QTest::newRow("lambda full 829") << "eSondaPlena" << "829" << 29 << 4 << 82;
    QTest::newRow("lambda negative truncates toward zero") << "eSondaLenta" << "-15" << 29 << 2 << 255;
    QTest::newRow("eBasico 3,5") << "eBasico" << "3,5" << 30 << 2 << 35;
    QTest::newRow("eBasico blanks around") << "eBasico" << " 2,5 " << 30 << 2 << 25;
    QTest::newRow("emSAr 2,5") << "emSAr" << "2,5" << 32 << 6 << 25;
    QTest::newRow("cut-off off 2299") << "eDeslCutOff" << "2299" << 32 << 0 << 22;
    QTest::newRow("cut-off on 1650") << "eLigaCutOff" << "1650" << 32 << 1 << 16;
    QTest::newRow("cranking advance negative") << "eAvancoPartida" << "-5" << 31 << 1 << 0xFB;
    QTest::newRow("lambda temperature") << "eSondaTemp" << "45" << 29 << 7 << 45;
    QTest::newRow("long") << "eGanho" << "9" << 30 << 3 << 9;
    QTest::newRow("decrement") << "eDecremento" << "1" << 30 << 4 << 1;
    QTest::newRow("fan on") << "eLigaEletro" << "95" << 32 << 2 << 95;
    QTest::newRow("fan off") << "eDesligaEletro" << "90" << 32 << 3 << 90;
    QTest::newRow("fan actuator") << "ePercEletro" << "25" << 32 << 5 << 25;
    QTest::newRow("air actuator") << "ePercentualAr" << "55" << 32 << 7 << 55;
    QTest::newRow("fan increment (Prepare)") << "emSCorrecaoEletro" << "1,2" << 32 << 4 << 12;
    QTest::newRow("fan increment negative") << "emSCorrecaoEletro" << "-0,5" << 32 << 4 << 0xFB;
    QTest::newRow("ignition cell") << "e12" << "31" << 2 << 4 << 31;
    QTest::newRow("injection cell") << "e71i" << "12,3" << 18 << 7 << 123;
    QTest::newRow("injection cell whole") << "e8i" << "4" << 11 << 0 << 40;
}

void TestParameterImage::encodings()
{
    QFETCH(QString, field);
    QFETCH(QString, text);
    QFETCH(int, block);
    QFETCH(int, byte);
    QFETCH(int, expected);
    Rig rig;
    rig.screen.setText(field, text);
    ParameterImage image(rig.ctx);
    image.prepare();
    image.checkAll();
    const auto bytes = image.block(block);
    QCOMPARE(int(bytes[byte]), expected);
    // Nothing else of the block moved.
    Rig plain;
    ParameterImage reference(plain.ctx);
    reference.prepare();
    const auto before = reference.block(block);
    for (int i = 0; i < 8; ++i)
        if (i != byte)
            QCOMPARE(int(bytes[i]), int(before[i]));
}

void TestParameterImage::selections_data()
{
    QTest::addColumn<QString>("combo");
    QTest::addColumn<int>("index");
    QTest::addColumn<int>("block");
    QTest::addColumn<int>("byte");
    QTest::addColumn<int>("expected");
    QTest::newRow("zero point -3") << "cbPontoZero" << 0 << 31 << 4 << 253;
    QTest::newRow("zero point 3") << "cbPontoZero" << 6 << 31 << 4 << 3;
    QTest::newRow("zero point none selected") << "cbPontoZero" << -1 << 31 << 4 << 252;
    QTest::newRow("speed scale 8000") << "cbEscalaRpm" << 1 << 31 << 2 << 1;
    QTest::newRow("speed scale 9400") << "cbEscalaRpm" << 2 << 31 << 2 << 2;
    QTest::newRow("speed scale none selected") << "cbEscalaRpm" << -1 << 31 << 2 << 255;
}

void TestParameterImage::selections()
{
    QFETCH(QString, combo);
    QFETCH(int, index);
    QFETCH(int, block);
    QFETCH(int, byte);
    QFETCH(int, expected);
    Rig rig;
    rig.screen.setItemIndex(combo, index);
    ParameterImage image(rig.ctx);
    image.prepare();
    QCOMPARE(int(image.block(block)[byte]), expected);
}

void TestParameterImage::choiceCodes_data()
{
    QTest::addColumn<QString>("combo");
    QTest::addColumn<QString>("first");  // text of the first upload
    QTest::addColumn<QString>("second"); // text of the second upload
    QTest::addColumn<int>("block");
    QTest::addColumn<int>("byte");
    QTest::addColumn<int>("codeFirst");
    QTest::addColumn<int>("codeSecond");
    QTest::newRow("lambda source MAP") << "cbSondaCorrecao" << "MAP" << "TPS" << 29 << 6 << 10 << 5;
    QTest::newRow("lambda source unknown keeps") << "cbSondaCorrecao" << "MAP" << "Map" << 29 << 6 << 10 << 10;
    QTest::newRow("combination MAP") << "cbCombinacaoMapa" << "MAP X RPM" << "TPS X RPM" << 31 << 0 << 10 << 5;
    QTest::newRow("combination blank counts") << "cbCombinacaoMapa" << "MAP X RPM" << "MAP X RPM " << 31 << 0 << 10
                                              << 10;
    QTest::newRow("quick source MAP") << "cbRapidaTpsxMap" << "MAP" << "TPS" << 30 << 1 << 10 << 5;
    QTest::newRow("quick source empty keeps") << "cbRapidaTpsxMap" << "MAP" << "" << 30 << 1 << 10 << 10;
    QTest::newRow("activity Desativada") << "cbSondaAtiva" << "Desativada" << "Des em Marcha Lenta" << 30 << 0 << 10
                                         << 15;
    QTest::newRow("activity lower case keeps") << "cbSondaAtiva" << "Desativada" << "ativada" << 30 << 0 << 10 << 10;
    QTest::newRow("probe wide band") << "cbSondaTipo" << "Banda Larga (1)" << "Normal" << 29 << 5 << 10 << 5;
    QTest::newRow("probe unknown keeps") << "cbSondaTipo" << "Banda Larga (1)" << "Banda Larga" << 29 << 5 << 10
                                         << 10;
}

void TestParameterImage::choiceCodes()
{
    QFETCH(QString, combo);
    QFETCH(QString, first);
    QFETCH(QString, second);
    QFETCH(int, block);
    QFETCH(int, byte);
    QFETCH(int, codeFirst);
    QFETCH(int, codeSecond);
    Rig rig;
    ParameterImage image(rig.ctx);
    rig.screen.type(combo, first);
    image.prepare();
    QCOMPARE(int(image.block(block)[byte]), codeFirst);
    rig.screen.type(combo, second);
    image.prepare();
    QCOMPARE(int(image.block(block)[byte]), codeSecond);
}

void TestParameterImage::wheel_data()
{
    QTest::addColumn<int>("wheelIndex");
    QTest::addColumn<QString>("tooth");
    QTest::addColumn<int>("code");
    QTest::addColumn<int>("offset");
    QTest::newRow("60-2 tooth 20") << 0 << "20" << 3 << 8;
    QTest::newRow("60-2 tooth 12") << 0 << "12" << 3 << 0;
    QTest::newRow("60-2 tooth 27") << 0 << "27" << 3 << 15;
    QTest::newRow("36-1 tooth 12") << 1 << "12" << 6 << 4;
    QTest::newRow("36-1 tooth 8") << 1 << "8" << 6 << 0;
    QTest::newRow("2+2 tooth text not read") << 2 << "not a tooth" << 9 << 0;
    QTest::newRow("2+2 empty tooth") << 2 << "" << 9 << 0;
}

void TestParameterImage::wheel()
{
    QFETCH(int, wheelIndex);
    QFETCH(QString, tooth);
    QFETCH(int, code);
    QFETCH(int, offset);
    Rig rig;
    rig.state.wv.toothOffset = 3; // as a read-back might have left it
    rig.screen.setItemIndex("cbTipoRodaFonica", wheelIndex);
    rig.screen.setText("cbDentesPms", tooth);
    ParameterImage image(rig.ctx);
    image.prepare();
    QCOMPARE(int(rig.state.wv.wheelCode), code);
    QCOMPARE(int(rig.state.wv.toothOffset), offset);
    const auto b30 = image.block(30);
    QCOMPARE(int(b30[5]), code);
    QCOMPARE(int(b30[6]), offset);
}

void TestParameterImage::wheelNoneSelectedKeepsValues()
{
    Rig rig;
    ParameterImage image(rig.ctx);
    rig.screen.setItemIndex("cbTipoRodaFonica", 1);
    rig.screen.setText("cbDentesPms", "10");
    image.prepare();
    QCOMPARE(int(rig.state.wv.wheelCode), 6);
    QCOMPARE(int(rig.state.wv.toothOffset), 2);
    rig.screen.type("cbTipoRodaFonica", "60-3"); // no entry selected
    rig.screen.setText("cbDentesPms", "xx");     // not read either
    image.prepare();
    QCOMPARE(int(rig.state.wv.wheelCode), 6);
    QCOMPARE(int(rig.state.wv.toothOffset), 2);
}

void TestParameterImage::conversionErrors_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("inPrepare");
    QTest::addColumn<int>("block"); // block that fails when not in Prepare
    QTest::addColumn<QString>("message");
    QTest::newRow("eBasico 3,55") << "eBasico" << "3,55" << false << 30 << "'35,5' is not a valid integer value";
    QTest::newRow("emSAr 1,25") << "emSAr" << "1,25" << false << 32 << "'12,5' is not a valid integer value";
    QTest::newRow("injection not a number") << "e3i" << "abc" << false << 10
                                            << "'abc' is not a valid floating point value";
    QTest::newRow("injection empty") << "e9i" << "" << false << 11 << "'' is not a valid floating point value";
    QTest::newRow("injection two decimals") << "e9i" << "3,25" << false << 11 << "'32,5' is not a valid integer value";
    QTest::newRow("ignition empty") << "e5" << "" << false << 1 << "'' is not a valid integer value";
    QTest::newRow("ignition decimal") << "e70" << "3,5" << false << 9 << "'3,5' is not a valid integer value";
    QTest::newRow("rpm limit") << "eLimiteRpm" << "6.000" << false << 30 << "'6.000' is not a valid integer value";
    QTest::newRow("coil charge") << "eTempoCarga" << "3.6" << false << 31
                                 << "'3.6' is not a valid floating point value";
    QTest::newRow("coil charge 3,6005") << "eTempoCarga" << "3,6005" << false << 31
                                        << "'3600,5' is not a valid integer value";
    QTest::newRow("cut-off") << "eLigaCutOff" << "" << false << 32 << "'' is not a valid integer value";
    QTest::newRow("fan increment") << "emSCorrecaoEletro" << "0,75" << true << 0
                                   << "'7,5' is not a valid integer value";
    QTest::newRow("curve point") << "eCorrecaoIg45" << "2,5" << true << 0 << "'2,5' is not a valid integer value";
    QTest::newRow("atmospheric point") << "eAtm1000" << "" << true << 0 << "'' is not a valid integer value";
    QTest::newRow("tooth text") << "cbDentesPms" << "2O" << true << 0 << "'2O' is not a valid integer value";
}

void TestParameterImage::conversionErrors()
{
    QFETCH(QString, field);
    QFETCH(QString, text);
    QFETCH(bool, inPrepare);
    QFETCH(int, block);
    QFETCH(QString, message);
    Rig rig;
    rig.screen.setText(field, text);
    ParameterImage image(rig.ctx);
    if (inPrepare) {
        QCOMPARE(errorOf([&] { image.prepare(); }).section('\n', 0, 0), message);
        return;
    }
    image.prepare();
    // The runtime's message first (the field and its text follow: fieldNamed).
    QCOMPARE(errorOf([&] { image.block(block); }).section('\n', 0, 0), message);
    QCOMPARE(errorOf([&] { image.checkAll(); }).section('\n', 0, 0), message);
    // Only that block fails.
    for (int n = 1; n <= 32; ++n)
        if (n != block)
            QCOMPARE(errorOf([&] { image.block(n); }), QString());
}

void TestParameterImage::prepareStopsAtFirstFailure()
{
    Rig rig;
    ParameterImage image(rig.ctx);
    rig.screen.setText("emSCorrecaoEletro", "1,5");
    rig.screen.setText("eCorrecaoTi0", "60");
    rig.screen.setText("eCorrecaoIg30", "x");   // fails here
    rig.screen.setText("eCorrecaoMl0", "90");   // after it: not converted
    rig.screen.type("cbSondaCorrecao", "MAP");  // after it: not converted
    rig.screen.setItemIndex("cbEscalaRpm", 2);  // after it: not converted
    QCOMPARE(errorOf([&] { image.prepare(); }).section('\n', 0, 0), QString("'x' is not a valid integer value"));
    const WorkingValues &wv = rig.state.wv;
    QCOMPARE(wv.fanIncrement, 15);
    QCOMPARE(int(wv.tiCurve[0]), 60);
    QCOMPARE(int(wv.advanceCurve[0]), 5); // converted before the failing point
    QCOMPARE(int(wv.advanceCurve[3]), 4);
    QCOMPARE(int(wv.idleCurve[0]), 0);
    QCOMPARE(int(wv.tiCurve[1]), 0); // no interpolation ran
    QCOMPARE(int(wv.lambdaLoadSource), 5);
    QCOMPARE(int(wv.speedScaleIndex), 0);
    QCOMPARE(int(wv.wheelCode), 0);
}

void TestParameterImage::sendTimeFieldsReadAtBlock()
{
    Rig rig;
    ParameterImage image(rig.ctx);
    image.prepare();
    // Map cells and send-time fields are read when the block is asked for; the
    // working values only by Prepare.
    rig.screen.setText("e8", "20");
    rig.screen.setText("eLimiteRpm", "7000");
    rig.screen.setText("emSCorrecaoEletro", "2");
    rig.screen.setText("eCorrecaoTi0", "10");
    rig.screen.type("cbSondaAtiva", "Desativada");
    QCOMPARE(int(image.block(2)[0]), 20);
    QCOMPARE(int(image.block(30)[7]), 70);
    QCOMPARE(int(image.block(32)[4]), 7);
    QCOMPARE(int(image.block(19)[0]), 55);
    QCOMPARE(int(image.block(30)[0]), 5);
}

void TestParameterImage::rangeCheck_data()
{
    QTest::addColumn<Setups>("setups");
    QTest::addColumn<int>("block");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("lo");
    QTest::addColumn<QString>("hi");
    QTest::newRow("ignition 300") << Setups{{"e12", "300"}} << 2 << "300" << "e12" << "0" << "255";
    QTest::newRow("ignition negative") << Setups{{"e0", "-1"}} << 1 << "-1" << "e0" << "0" << "255";
    QTest::newRow("injection 25,6") << Setups{{"e40i", "25,6"}} << 15 << "25,6" << "e40i" << "0" << "25,5";
    QTest::newRow("injection negative") << Setups{{"e0i", "-0,1"}} << 10 << "-0,1" << "e0i" << "0" << "25,5";
    QTest::newRow("rpm limit 25600") << Setups{{"eLimiteRpm", "25600"}} << 30 << "25600" << "eLimiteRpm" << "-12899"
                                     << "25599";
    QTest::newRow("rpm limit -12900") << Setups{{"eLimiteRpm", "-12900"}} << 30 << "-12900" << "eLimiteRpm"
                                      << "-12899" << "25599";
    QTest::newRow("lambda 2560") << Setups{{"eSondaLenta", "2560"}} << 29 << "2560" << "eSondaLenta" << "-1289"
                                 << "2559";
    QTest::newRow("lambda temperature 256") << Setups{{"eSondaTemp", "256"}} << 29 << "256" << "eSondaTemp" << "-128"
                                            << "255";
    QTest::newRow("short quick 25,6") << Setups{{"eBasico", "25,6"}} << 30 << "25,6" << "eBasico" << "-12,8"
                                      << "25,5";
    QTest::newRow("long -129") << Setups{{"eGanho", "-129"}} << 30 << "-129" << "eGanho" << "-128" << "255";
    QTest::newRow("cranking 300") << Setups{{"eAvancoPartida", "300"}} << 31 << "300" << "eAvancoPartida" << "-128"
                                  << "255";
    QTest::newRow("cut-off 30000") << Setups{{"eDeslCutOff", "30000"}} << 32 << "30000" << "eDeslCutOff" << "-12899"
                                   << "25599";
    QTest::newRow("air 26") << Setups{{"emSAr", "26"}} << 32 << "26" << "emSAr" << "-12,8" << "25,5";
    QTest::newRow("fan increment 30") << Setups{{"emSCorrecaoEletro", "30"}} << 32 << "30" << "emSCorrecaoEletro"
                                      << "-12,8" << "25,5";
    QTest::newRow("curve point 128") << Setups{{"eCorrecaoTi105", "128"}} << 21 << "128" << "eCorrecaoTi105"
                                     << "-128" << "127";
    QTest::newRow("curve point 200") << Setups{{"eCorrecaoMl0", "200"}} << 25 << "200" << "eCorrecaoMl0" << "-128"
                                     << "127";
    QTest::newRow("curve point -129") << Setups{{"eCorrecaoIg105", "-129"}} << 24 << "-129" << "eCorrecaoIg105"
                                      << "-128" << "127";
    QTest::newRow("atmospheric 150") << Setups{{"eAtm1000", "150"}} << 29 << "150" << "eAtm1000" << "-128" << "127";
    QTest::newRow("tooth below the list") << Setups{{"cbDentesPms", "5"}} << 30 << "5" << "cbDentesPms" << "12"
                                          << "267";
    QTest::newRow("first of two in block order") << Setups{{"e15", "256"}, {"e9", "999"}} << 2 << "999" << "e9"
                                                 << "0" << "255";
}

void TestParameterImage::rangeCheck()
{
    QFETCH(Setups, setups);
    QFETCH(int, block);
    QFETCH(QString, text);
    QFETCH(QString, field);
    QFETCH(QString, lo);
    QFETCH(QString, hi);
    Rig rig;
    for (const Setup &s : setups)
        rig.screen.setText(s.field, s.text);
    ParameterImage image(rig.ctx);
    image.prepare();
    QCOMPARE(errorOf([&] { image.checkAll(); }), rangeMessage(text, field, lo, hi));
    QCOMPARE(errorOf([&] { image.block(block); }),
             rangeMessage(text, field, lo, hi, QString("O bloco %1 não foi enviado.").arg(block)));
    try {
        image.checkAll();
        QFAIL("no range error");
    } catch (const ImageRangeError &) {
    }
}

void TestParameterImage::rangeLimitsAccepted_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("block");
    QTest::addColumn<int>("byte");
    QTest::addColumn<int>("expected");
    QTest::newRow("ignition 255") << "e12" << "255" << 2 << 4 << 0xFF;
    QTest::newRow("ignition 0") << "e12" << "0" << 2 << 4 << 0;
    QTest::newRow("injection 25,5") << "e40i" << "25,5" << 15 << 0 << 0xFF;
    QTest::newRow("injection 0") << "e40i" << "0" << 15 << 0 << 0;
    QTest::newRow("rpm 25599") << "eLimiteRpm" << "25599" << 30 << 7 << 0xFF;
    QTest::newRow("rpm -12899") << "eLimiteRpm" << "-12899" << 30 << 7 << 0x80;
    QTest::newRow("cranking -128") << "eAvancoPartida" << "-128" << 31 << 1 << 0x80;
    QTest::newRow("lambda temp 255") << "eSondaTemp" << "255" << 29 << 7 << 0xFF;
    QTest::newRow("quick -12,8") << "eBasico" << "-12,8" << 30 << 2 << 0x80;
    QTest::newRow("curve 127") << "eCorrecaoTi0" << "127" << 19 << 0 << 0x7F;
    QTest::newRow("curve -128") << "eCorrecaoTi0" << "-128" << 19 << 0 << 0x80;
    QTest::newRow("curve -2 two's complement") << "eCorrecaoIg105" << "-2" << 24 << 5 << 0xFE;
    QTest::newRow("tooth 267 with 60-2") << "cbDentesPms" << "267" << 30 << 6 << 0xFF;
}

void TestParameterImage::rangeLimitsAccepted()
{
    QFETCH(QString, field);
    QFETCH(QString, text);
    QFETCH(int, block);
    QFETCH(int, byte);
    QFETCH(int, expected);
    Rig rig;
    rig.screen.setText(field, text);
    ParameterImage image(rig.ctx);
    image.prepare();
    QCOMPARE(errorOf([&] { image.checkAll(); }), QString());
    QCOMPARE(int(image.block(block)[byte]), expected);
}

void TestParameterImage::tpsLimitsKeepLowByte()
{
    Rig rig;
    rig.state.wv.tpsMin = 1023; // a 0..1023 reading: the ECU takes its low byte
    rig.state.wv.tpsMax = 250;
    ParameterImage image(rig.ctx);
    image.prepare();
    QCOMPARE(errorOf([&] { image.checkAll(); }), QString());
    const auto b = image.block(31);
    QCOMPARE(int(b[5]), 0xFF);
    QCOMPARE(int(b[6]), 250);
}

void TestParameterImage::tpsMaximumAsTheReadBackTakesIt_data()
{
    // The read-back takes a maximum from 1 to 250, not below the kept minimum / 4.
    QTest::addColumn<int>("min");
    QTest::addColumn<int>("max");
    QTest::addColumn<QString>("error"); // empty: sent as it is
    QTest::newRow("230 beside 130") << 130 << 230 << "";
    QTest::newRow("250, the top") << 130 << 250 << "";
    QTest::newRow("251") << 130 << 251 << rangeMessage("251", "tpsMax", "32", "250", "O bloco 31 não foi enviado.");
    QTest::newRow("255") << 130 << 255 << rangeMessage("255", "tpsMax", "32", "250", "O bloco 31 não foi enviado.");
    QTest::newRow("300") << 130 << 300 << rangeMessage("300", "tpsMax", "32", "250", "O bloco 31 não foi enviado.");
    QTest::newRow("0") << 0 << 0 << rangeMessage("0", "tpsMax", "1", "250", "O bloco 31 não foi enviado.");
    QTest::newRow("32 beside 130") << 130 << 32 << "";
    QTest::newRow("31 beside 130") << 130 << 31 << rangeMessage("31", "tpsMax", "32", "250", "O bloco 31 não foi enviado.");
    // 300 is kept as 44: 11 is the lowest maximum the read-back takes beside it.
    QTest::newRow("11 beside 300") << 300 << 11 << "";
}

void TestParameterImage::tpsMaximumAsTheReadBackTakesIt()
{
    QFETCH(int, min);
    QFETCH(int, max);
    QFETCH(QString, error);
    Rig rig;
    rig.state.wv.tpsMin = min;
    rig.state.wv.tpsMax = max;
    ParameterImage image(rig.ctx);
    image.prepare();
    QCOMPARE(errorOf([&] { image.block(31); }), error);
    if (error.isEmpty())
        QCOMPARE(int(image.block(31)[6]), max);
}

void TestParameterImage::checkAllFindsConversionErrors()
{
    // The first failing block in block order wins, whatever the kind of failure.
    Rig rig;
    rig.screen.setText("e20i", "");    // block 12, conversion
    rig.screen.setText("e70", "900");  // block 9, range
    ParameterImage image(rig.ctx);
    image.prepare();
    QCOMPARE(errorOf([&] { image.checkAll(); }), rangeMessage("900", "e70", "0", "255"));
    rig.screen.setText("e70", "27");
    QCOMPARE(errorOf([&] { image.checkAll(); }).section('\n', 0, 0), QString("'' is not a valid floating point value"));
}

void TestParameterImage::fieldNamed_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("block");
    QTest::addColumn<QString>("message");
    QTest::newRow("a cell of two decimals") << "e12i" << "8,04" << 11
                                            << QString::fromUtf8("'80,4' is not a valid integer value\nO campo e12i (injeção "
                                                                 "linha 2 coluna 5) contém \"8,04\": use no máximo uma "
                                                                 "casa decimal.");
    QTest::newRow("letters") << "e3i" << "abc" << 10
                             << QString::fromUtf8("'abc' is not a valid floating point value\nO campo e3i (injeção linha "
                                                  "1 coluna 4) contém \"abc\", que não é um número.");
    QTest::newRow("empty") << "e9i" << "" << 11
                           << QString::fromUtf8("'' is not a valid floating point value\nO campo e9i (injeção linha 2 "
                                                "coluna 2) está vazio: escreva um número.");
    QTest::newRow("a whole number field") << "e70" << "3,5" << 9
                                          << QString::fromUtf8("'3,5' is not a valid integer value\nO campo e70 (ignição "
                                                               "linha 9 coluna 7) contém \"3,5\": use um número inteiro.");
    QTest::newRow("thousandths") << "eTempoCarga" << "3,6005" << 31
                                 << QString::fromUtf8("'3600,5' is not a valid integer value\nO campo eTempoCarga (Tempo "
                                                      "de Carga (mS)) contém \"3,6005\": use no máximo 3 casas "
                                                      "decimais.");
}

// The runtime's message, then the field named and what the user wrote in it.
void TestParameterImage::fieldNamed()
{
    QFETCH(QString, field);
    QFETCH(QString, text);
    QFETCH(int, block);
    QFETCH(QString, message);
    Rig rig;
    rig.screen.setText(field, text);
    ParameterImage image(rig.ctx);
    image.prepare();
    QCOMPARE(errorOf([&] { image.block(block); }), message);
}

QTEST_GUILESS_MAIN(TestParameterImage)
#include "tst_parameterimage.moc"
