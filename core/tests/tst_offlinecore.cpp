// What an upload of a parameter set sends, worked out without a port, and which fields
// explain a difference between the image sent and the image read back.
#include "core/controller.h"
#include "core/offlinecore.h"
#include "core/tunediff.h"
#include "files/mapfile.h"
#include "files/mapfilecodec.h"
#include "link/tests/defaultimage.h"

#include <QtTest>

namespace {

Tune startupTune()
{
    OfflineCore core;
    return core.controller().mapFile().screenTune();
}

Tune changed(const QList<QPair<QString, QString>> &changes)
{
    Tune t = startupTune();
    for (const auto &[control, text] : changes) {
        if (control == "tpsMin")
            t.tpsMin = text.toInt();
        else if (control == "tpsMax")
            t.tpsMax = text.toInt();
        else
            t.texts[mapfile::fieldControls().indexOf(control)] = text;
    }
    return t;
}

} // namespace

class TestOfflineCore : public QObject {
    Q_OBJECT
private slots:
    void startupImageIsTheUploadOfTheStartupScreen()
    {
        OfflineCore core;
        QCOMPARE(imageBytes(uploadImage(core.controller().image())), defaultimage::image());
        QCOMPARE(imageBytes(core.imageOf(startupTune())), defaultimage::image());
    }

    void differingFields_data()
    {
        using Changes = QList<QPair<QString, QString>>;
        QTest::addColumn<Changes>("sent");
        QTest::addColumn<Changes>("back");
        QTest::addColumn<int>("spoilByte"); // -1: none; else a byte of the read-back image flipped
        QTest::addColumn<QList<int>>("fields");
        QTest::newRow("same") << Changes{} << Changes{} << -1 << QList<int>{};
        QTest::newRow("rounded RPM limit, same bytes")
            << Changes{{"eLimiteRpm", "6050"}} << Changes{{"eLimiteRpm", "6000"}} << -1 << QList<int>{};
        QTest::newRow("one cell") << Changes{{"e0", "10"}} << Changes{{"e0", "11"}} << -1 << QList<int>{9};
        QTest::newRow("maps before configuration before TPS")
            << Changes{} << Changes{{"tpsMax", "130"}, {"eLimiteRpm", "7000"}, {"e5i", "9,9"}} << -1
            << QList<int>{86, 3, 202};
        QTest::newRow("a rounded text beside a changed one")
            << Changes{{"eLimiteRpm", "6050"}} << Changes{{"eLimiteRpm", "6000"}, {"e71", "20"}} << -1
            << QList<int>{80};
        QTest::newRow("bytes differ, no text explains it") << Changes{} << Changes{} << 100 << QList<int>{};
    }
    void differingFields()
    {
        using Changes = QList<QPair<QString, QString>>;
        QFETCH(Changes, sent);
        QFETCH(Changes, back);
        QFETCH(int, spoilByte);
        QFETCH(QList<int>, fields);
        OfflineCore core;
        const Tune sentTune = changed(sent), backTune = changed(back);
        const UploadImage sentImage = core.imageOf(sentTune);
        UploadImage backImage = core.imageOf(backTune);
        if (spoilByte >= 0)
            backImage[spoilByte / 8][spoilByte % 8] ^= 0xFF;
        QList<int> named;
        for (const tunediff::Difference &d : ::differingFields(sentTune, sentImage, backTune, backImage))
            named << d.field;
        QCOMPARE(named, fields);
    }
};

QTEST_GUILESS_MAIN(TestOfflineCore)
#include "tst_offlinecore.moc"
