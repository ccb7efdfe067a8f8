// Captions of the speed and load axes of both maps.
#include "fakes.h"
#include "maps/axes.h"

#include "common/names.h"

#include <QtTest>

class TestAxes : public QObject {
    Q_OBJECT

private slots:
    void rowCaptions_data();
    void rowCaptions();
    void rowCaptionsKeptWithoutSelection();
    void columnCaptions_data();
    void columnCaptions();
};

void TestAxes::rowCaptions_data()
{
    QTest::addColumn<int>("before");
    QTest::addColumn<int>("index");
    QTest::addColumn<QStringList>("rows"); // rows 2..8
    const QStringList s6600{"1800", "2600", "3400", "4200", "5000", "5800", "6600"};
    const QStringList s8000{"2000", "3000", "4000", "5000", "6000", "7000", "8000"};
    const QStringList s9400{"2200", "3400", "4600", "5800", "7000", "8200", "9400"};
    QTest::newRow("6600 after 9400") << 2 << 0 << s6600;
    QTest::newRow("8000 after 6600") << 0 << 1 << s8000;
    QTest::newRow("9400 after 8000") << 1 << 2 << s9400;
    QTest::newRow("6600 after 8000") << 1 << 0 << s6600;
}

void TestAxes::rowCaptions()
{
    QFETCH(int, before);
    QFETCH(int, index);
    QFETCH(QStringList, rows);
    Rig rig;
    MapAxes axes(rig.ctx);
    rig.screen.setItemIndex("cbEscalaRpm", before);
    axes.cbEscalaRpmChange();
    // Rows 0 and 1 are never written: marks placed in them must survive.
    for (const QStringList *captions : {&names::ignitionRowCaptions(), &names::injectionRowCaptions()}) {
        rig.screen.setText(captions->at(0), "r0");
        rig.screen.setText(captions->at(1), "r1");
    }
    rig.screen.setItemIndex("cbEscalaRpm", index);
    axes.cbEscalaRpmChange();
    for (const QStringList *captions : {&names::ignitionRowCaptions(), &names::injectionRowCaptions()}) {
        QCOMPARE(rig.screen.text(captions->at(0)), QString("r0"));
        QCOMPARE(rig.screen.text(captions->at(1)), QString("r1"));
        for (int r = 2; r <= 8; ++r)
            QCOMPARE(rig.screen.text(captions->at(r)), rows.at(r - 2));
    }
}

void TestAxes::rowCaptionsKeptWithoutSelection()
{
    Rig rig;
    MapAxes axes(rig.ctx);
    rig.screen.setItemIndex("cbEscalaRpm", 1);
    axes.cbEscalaRpmChange();
    rig.screen.type("cbEscalaRpm", "7000"); // no entry selected now
    QCOMPARE(rig.screen.itemIndex("cbEscalaRpm"), -1);
    axes.cbEscalaRpmChange();
    const QStringList expected{"500", "900", "2000", "3000", "4000", "5000", "6000", "7000", "8000"};
    for (int r = 0; r < 9; ++r) {
        QCOMPARE(rig.screen.text(names::ignitionRowCaptions().at(r)), expected.at(r));
        QCOMPARE(rig.screen.text(names::injectionRowCaptions().at(r)), expected.at(r));
    }
}

void TestAxes::columnCaptions_data()
{
    QTest::addColumn<QStringList>("before");
    QTest::addColumn<QString>("combination");
    QTest::addColumn<bool>("written");
    QTest::addColumn<QStringList>("columns");
    const QStringList start{"1", "2", "3", "4", "5", "6", "7", "8"};
    const QStringList tps{"0 %", "14", "28", "42", "56", "70", "84", "100 %"};
    const QStringList map{"-820", "-720", "-600", "-480", "-370", "-250", "-130", "0 mbar"};
    QTest::newRow("TPS X RPM at start") << start << "TPS X RPM" << true << tps;
    QTest::newRow("MAP X RPM at start") << start << "MAP X RPM" << true << map;
    QTest::newRow("TPS X RPM after MAP") << map << "TPS X RPM" << true << tps;
    QTest::newRow("MAP X RPM after TPS") << tps << "MAP X RPM" << true << map;
    QTest::newRow("lower case") << map << "tps x rpm" << false << map;
    QTest::newRow("trailing blank") << tps << "MAP X RPM " << false << tps;
    QTest::newRow("empty") << start << "" << false << start;
    QTest::newRow("other") << map << "TPS" << false << map;
}

void TestAxes::columnCaptions()
{
    QFETCH(QStringList, before);
    QFETCH(QString, combination);
    QFETCH(bool, written);
    QFETCH(QStringList, columns);
    auto setBefore = [&](Rig &rig) {
        for (int c = 0; c < 8; ++c) {
            rig.screen.setText(names::ignitionColumnCaptions().at(c), before.at(c));
            rig.screen.setText(names::injectionColumnCaptions().at(c), before.at(c));
        }
    };
    {
        // The exit of the combination box.
        Rig rig;
        MapAxes axes(rig.ctx);
        setBefore(rig);
        rig.screen.type("cbCombinacaoMapa", combination);
        axes.cbCombinacaoMapaExit();
        for (int c = 0; c < 8; ++c) {
            QCOMPARE(rig.screen.text(names::ignitionColumnCaptions().at(c)), columns.at(c));
            QCOMPARE(rig.screen.text(names::injectionColumnCaptions().at(c)), columns.at(c));
        }
    }
    {
        // The same captions written for the read-back.
        Rig rig;
        setBefore(rig);
        QCOMPARE(axes::writeLoadCaptions(rig.screen, combination), written);
        for (int c = 0; c < 8; ++c) {
            QCOMPARE(rig.screen.text(names::ignitionColumnCaptions().at(c)), columns.at(c));
            QCOMPARE(rig.screen.text(names::injectionColumnCaptions().at(c)), columns.at(c));
        }
    }
}

QTEST_GUILESS_MAIN(TestAxes)
#include "tst_axes.moc"
