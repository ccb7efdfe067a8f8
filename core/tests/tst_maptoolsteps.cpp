// Paste and the map tools through the controller: one undo step each, refused while
// the cells are being sent, read back or marked.
#include "core/undo.h"
#include "fakecore.h"
#include "maps/cells.h"

#include <QtTest>

Q_DECLARE_METATYPE(MapTool)
Q_DECLARE_METATYPE(MapId)

namespace {

QStringList cellTexts(const Screen &s)
{
    QStringList t;
    for (MapId map : {MapId::Ignition, MapId::Injection})
        for (int r = 0; r < mapRows; ++r)
            for (int c = 0; c < mapColumns; ++c)
                t << s.text(cells::cellName(map, r, c));
    return t;
}

const QString busy = QStringLiteral(
    " Atenção ! !  O mapa não pode ser alterado durante o envio, a leitura, o scanner ou a calibração do TPS.  ");

} // namespace

class TestMapToolSteps : public QObject {
    Q_OBJECT

private slots:
    void everyToolIsOneUndoStep_data()
    {
        QTest::addColumn<MapTool>("tool");
        QTest::addColumn<MapId>("map");
        QTest::addColumn<QString>("amount");
        QTest::newRow("set") << MapTool::SetValue << MapId::Ignition << "20";
        QTest::newRow("add") << MapTool::Add << MapId::Injection << "0,5";
        QTest::newRow("multiply") << MapTool::Multiply << MapId::Injection << "90";
        QTest::newRow("interpolate") << MapTool::Interpolate << MapId::Ignition << "";
        QTest::newRow("smooth") << MapTool::Smooth << MapId::Injection << "";
    }
    void everyToolIsOneUndoStep()
    {
        QFETCH(MapTool, tool);
        QFETCH(MapId, map);
        QFETCH(QString, amount);
        CoreRig rig;
        Controller &c = rig.c();
        const QStringList before = cellTexts(rig.screen);
        const int steps = c.history().count();
        QVERIFY(!c.unsaved());
        if (!amount.isEmpty())
            rig.prompt.textAnswers = {amount};
        c.mapTool(tool, map, CellRect{1, 1, 4, 5});
        const QStringList after = cellTexts(rig.screen);
        QVERIFY(after != before);
        QCOMPARE(c.history().count(), steps + 1);
        QVERIFY(c.unsaved());
        c.undo();
        QCOMPARE(cellTexts(rig.screen), before);
        QVERIFY(!c.unsaved());
        c.redo();
        QCOMPARE(cellTexts(rig.screen), after);
        QCOMPARE(rig.prompt.messages, QStringList());
    }

    void pasteIsOneStepAndCopyChangesNothing()
    {
        CoreRig rig;
        Controller &c = rig.c();
        const QStringList before = cellTexts(rig.screen);
        const int steps = c.history().count();
        QCOMPARE(c.mapCopy(MapId::Injection, CellRect{0, 0, 1, 1}), QString("3,5\t5,2\n3,1\t4,3"));
        QCOMPARE(c.history().count(), steps);
        c.mapPaste(MapId::Ignition, CellRect{0, 0, 0, 0}, "1\t2\r\n3\t4\r\n");
        QCOMPARE(c.history().count(), steps + 1);
        QCOMPARE(c.mapCopy(MapId::Ignition, CellRect{0, 0, 1, 1}), QString("1\t2\n3\t4"));
        c.undo();
        QCOMPARE(cellTexts(rig.screen), before);
        // A refused paste and a cancelled tool are no step.
        rig.guarded([&] { c.mapPaste(MapId::Ignition, CellRect{0, 0, 0, 0}, "1\tx"); });
        c.mapTool(MapTool::Add, MapId::Ignition, CellRect::whole());
        QCOMPARE(c.history().count(), steps + 1);
        QCOMPARE(c.history().index(), steps - 1);
        QCOMPARE(cellTexts(rig.screen), before);
    }

    void refusedWhileBusy_data()
    {
        QTest::addColumn<QString>("activity");
        QTest::newRow("upload") << "upload";
        QTest::newRow("read-back") << "read-back";
        QTest::newRow("scanner") << "scanner";
        QTest::newRow("TPS calibration") << "tps";
    }
    void refusedWhileBusy()
    {
        QFETCH(QString, activity);
        CoreRig rig;
        Controller &c = rig.c();
        if (activity == "upload") {
            rig.state().uploading = true;
        } else if (activity == "read-back") {
            c.portActivated();
            c.btnLerDadosClick();
        } else if (activity == "scanner") {
            rig.state().scannerActive = true;
        } else {
            rig.state().tps = TpsPhase::Sampling;
        }
        const QStringList before = cellTexts(rig.screen);
        const int steps = c.history().count();
        rig.prompt.textAnswers = {QString("5")};
        rig.guarded([&] { c.mapPaste(MapId::Ignition, CellRect{0, 0, 0, 0}, "20"); });
        rig.guarded([&] { c.mapTool(MapTool::SetValue, MapId::Injection, CellRect::whole()); });
        rig.guarded([&] { c.mapTool(MapTool::Smooth, MapId::Ignition, CellRect::whole()); });
        QCOMPARE(rig.prompt.messages, QStringList({busy, busy, busy}));
        QCOMPARE(rig.prompt.textQuestions, QStringList()); // nothing asked either
        QCOMPARE(cellTexts(rig.screen), before);
        QCOMPARE(c.history().count(), steps);
        // Copy reads only.
        QCOMPARE(c.mapCopy(MapId::Ignition, CellRect{0, 0, 0, 1}), QString("10\t10"));
    }
};

QTEST_GUILESS_MAIN(TestMapToolSteps)
#include "tst_maptoolsteps.moc"
