// The map file line: field order, encoding, first line and the slot table.
#include "common/controls.h"
#include "files/mapfilecodec.h"

#include <QSet>
#include <QtTest>

class TestMapFileCodec : public QObject {
    Q_OBJECT
private slots:
    void fieldOrder_data();
    void fieldOrder();
    void fieldControlsAreDistinctControls();
    void encodeLine_data();
    void encodeLine();
    void firstLine_data();
    void firstLine();
    void splitSlots_data();
    void splitSlots();
    void splitDropsFieldsPastTheTable();
};

void TestMapFileCodec::fieldOrder_data()
{
    QTest::addColumn<int>("field"); // position in the file, from 1
    QTest::addColumn<QString>("control");
    QTest::newRow("1") << 1 << "cbCombinacaoMapa";
    QTest::newRow("2") << 2 << "cbDentesPms";
    QTest::newRow("3") << 3 << "eLimiteRpm";
    QTest::newRow("4") << 4 << "eRepousoTps";
    QTest::newRow("5") << 5 << "emSAr";
    QTest::newRow("6") << 6 << "ePercentualAr";
    QTest::newRow("7") << 7 << "eLigaCutOff";
    QTest::newRow("8") << 8 << "eDeslCutOff";
    QTest::newRow("9 first ignition cell") << 9 << "e0";
    QTest::newRow("25 ignition cell 16") << 25 << "e16";
    QTest::newRow("80 last ignition cell") << 80 << "e71";
    QTest::newRow("81 first injection cell") << 81 << "e0i";
    QTest::newRow("152 last injection cell") << 152 << "e71i";
    QTest::newRow("153") << 153 << "cbSondaTipo";
    QTest::newRow("154") << 154 << "eSondaLenta";
    QTest::newRow("156") << 156 << "eSondaPlena";
    QTest::newRow("157") << 157 << "cbSondaCorrecao";
    QTest::newRow("158") << 158 << "eSondaTemp";
    QTest::newRow("159") << 159 << "cbSondaAtiva";
    QTest::newRow("160") << 160 << "eAtm820";
    QTest::newRow("163") << 163 << "eAtm1000";
    QTest::newRow("164") << 164 << "cbRapidaTpsxMap";
    QTest::newRow("165") << 165 << "eBasico";
    QTest::newRow("166") << 166 << "eGanho";
    QTest::newRow("167") << 167 << "eDecremento";
    QTest::newRow("168") << 168 << "eCorrecaoTi0";
    QTest::newRow("169") << 169 << "eCorrecaoTi15";
    QTest::newRow("175") << 175 << "eCorrecaoTi105";
    QTest::newRow("176") << 176 << "eCorrecaoIg0";
    QTest::newRow("183") << 183 << "eCorrecaoIg105";
    QTest::newRow("184") << 184 << "eCorrecaoMl0";
    QTest::newRow("191") << 191 << "eCorrecaoMl105";
    QTest::newRow("192") << 192 << "eLigaEletro";
    QTest::newRow("193") << 193 << "eDesligaEletro";
    QTest::newRow("194") << 194 << "cbTipoRodaFonica";
    QTest::newRow("195") << 195 << "cbEscalaRpm";
    QTest::newRow("196") << 196 << "eTempoCarga";
    QTest::newRow("197") << 197 << "cbPontoZero";
    QTest::newRow("198") << 198 << "eAvancoPartida";
    QTest::newRow("199") << 199 << "emSCorrecaoEletro";
    QTest::newRow("200") << 200 << "ePercEletro";
}

void TestMapFileCodec::fieldOrder()
{
    QFETCH(int, field);
    QFETCH(QString, control);
    QCOMPARE(mapfile::fieldControls().size(), 200);
    QCOMPARE(mapfile::fieldControls().at(field - 1), control);
}

void TestMapFileCodec::fieldControlsAreDistinctControls()
{
    const QStringList &controls = mapfile::fieldControls();
    QSet<QString> seen;
    for (const QString &c : controls) {
        QVERIFY2(findControl(c) != nullptr, qPrintable("not a control of the window: " + c));
        QVERIFY2(!seen.contains(c), qPrintable("twice in the file: " + c));
        seen.insert(c);
    }
    QCOMPARE(seen.size(), 200);
}

void TestMapFileCodec::encodeLine_data()
{
    QTest::addColumn<QStringList>("fields");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("plain") << QStringList{"TPS X RPM", "3,6", "130"} << QByteArray("TPS X RPM;3,6;130\r\n");
    QTest::newRow("empty fields keep their separators")
        << QStringList{"", "a", "", ""} << QByteArray(";a;;\r\n");
    QTest::newRow("accents as one byte each")
        << QStringList{QString::fromUtf8("Ação"), QString::fromUtf8("°C ü")}
        << QByteArray("A\xe7\xe3o;\xb0" "C \xfc\r\n");
    QTest::newRow("no fields") << QStringList{} << QByteArray("\r\n");
}

void TestMapFileCodec::encodeLine()
{
    QFETCH(QStringList, fields);
    QFETCH(QByteArray, bytes);
    QCOMPARE(mapfile::encodeLine(fields), bytes);
}

void TestMapFileCodec::firstLine_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("line");
    QTest::newRow("CR LF, second line ignored") << QByteArray("a;b\r\nc;d\r\n") << "a;b";
    QTest::newRow("LF only") << QByteArray("a;b\nc") << "a;b";
    QTest::newRow("CR only") << QByteArray("a;b\rc") << "a;b";
    QTest::newRow("no line end") << QByteArray("a;b") << "a;b";
    QTest::newRow("empty") << QByteArray() << "";
    QTest::newRow("empty first line") << QByteArray("\r\na;b") << "";
    QTest::newRow("Latin-1 bytes") << QByteArray("A\xe7\xe3o;\xff\r\n") << QString::fromUtf8("Ação;ÿ");
    QTest::newRow("NUL byte kept") << QByteArray("a\0b", 3) << QString(QStringLiteral("a") + QChar(0) + "b");
}

void TestMapFileCodec::firstLine()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, line);
    QCOMPARE(mapfile::firstLine(bytes), line);
}

void TestMapFileCodec::splitSlots_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<QStringList>("leading"); // the first slots; all later ones must be empty
    QTest::newRow("empty line") << "" << QStringList{""};
    QTest::newRow("two separators in a row") << "a;;b" << QStringList{"a", "", "b"};
    QTest::newRow("separator at the end") << "a;b;" << QStringList{"a", "b", ""};
    QTest::newRow("blanks kept") << " a ; b" << QStringList{" a ", " b"};
    QTest::newRow("only separators") << ";;" << QStringList{"", "", ""};
}

void TestMapFileCodec::splitSlots()
{
    QFETCH(QString, line);
    QFETCH(QStringList, leading);
    const QStringList table = mapfile::splitSlots(line);
    QCOMPARE(table.size(), 256);
    QCOMPARE(table.mid(0, leading.size()), leading);
    for (qsizetype i = leading.size(); i < table.size(); ++i)
        QVERIFY2(table[i].isEmpty(), qPrintable(QString("slot %1 not empty").arg(i + 1)));
}

void TestMapFileCodec::splitDropsFieldsPastTheTable()
{
    QStringList fields;
    for (int i = 1; i <= 300; ++i)
        fields << "f" + QString::number(i);
    const QStringList table = mapfile::splitSlots(fields.join(';'));
    QCOMPARE(table.size(), 256);
    QCOMPARE(table.first(), QString("f1"));
    QCOMPARE(table[201], QString("f202"));
    // Slot 256 holds field 256 alone: later fields are not appended to it.
    QCOMPARE(table.last(), QString("f256"));
}

QTEST_GUILESS_MAIN(TestMapFileCodec)
#include "tst_mapfilecodec.moc"
