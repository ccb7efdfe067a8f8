// What an upload of a parameter set sends, worked out from the set alone, and which
// fields explain a difference between the image sent and the image read back.
#include "core/controller.h"
#include "core/tunediff.h"
#include "fakecore.h"
#include "files/mapfile.h"
#include "files/mapfilecodec.h"
#include "link/parameterimage.h"
#include "link/tests/defaultimage.h"
#include "link/tuneimage.h"

#include <QtTest>

namespace {

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

using Changes = QList<QPair<QString, QString>>;

// What the window's core uploads after loading the set, or the message its upload shows.
QString windowUpload(const Tune &tune)
{
    CoreRig rig;
    rig.c().mapFile().apply(tune);
    try {
        return QString::fromLatin1(imageBytes(uploadImage(rig.c().image())).toHex());
    } catch (const std::exception &e) {
        return QString::fromUtf8(e.what());
    }
}
QString setImage(const Tune &tune)
{
    try {
        return QString::fromLatin1(imageBytes(tuneImage(tune)).toHex());
    } catch (const std::exception &e) {
        return QString::fromUtf8(e.what());
    }
}

} // namespace

class TestTuneImage : public QObject {
    Q_OBJECT
private slots:
    void startupSetIsTheWindowsStartupScreen()
    {
        CoreRig rig;
        QCOMPARE(startupTune(), rig.c().mapFile().screenTune());
        QCOMPARE(imageBytes(uploadImage(rig.c().image())), defaultimage::image());
        QCOMPARE(imageBytes(tuneImage(startupTune())), defaultimage::image());
    }

    // The set's image is byte for byte what the window's upload of the loaded set sends,
    // and a set that cannot be sent is refused with the upload's own message.
    void sameAsTheWindowsUpload_data()
    {
        QTest::addColumn<Changes>("changes");
        QTest::newRow("start-up") << Changes{};
        QTest::newRow("wheel 36-1, tooth 10") << Changes{{"cbTipoRodaFonica", "36-1"}, {"cbDentesPms", "10"}};
        QTest::newRow("wheel 2+2") << Changes{{"cbTipoRodaFonica", "2+2"}};
        QTest::newRow("wheel no entry") << Changes{{"cbTipoRodaFonica", "48"}};
        QTest::newRow("scale 9400") << Changes{{"cbEscalaRpm", "9400"}};
        QTest::newRow("load source no entry") << Changes{{"cbSondaCorrecao", "TPS2"}};
        QTest::newRow("loop at idle off") << Changes{{"cbSondaAtiva", "Des em Marcha Lenta"}};
        QTest::newRow("curve points") << Changes{{"eCorrecaoTi0", "-40"}, {"eCorrecaoTi15", "100"}};
        QTest::newRow("cells and limits") << Changes{{"e71i", "25,5"}, {"e0", "45"}, {"tpsMin", "900"}};
        QTest::newRow("no number") << Changes{{"e12i", "8,1a"}};
        QTest::newRow("out of byte") << Changes{{"e3", "300"}};
        QTest::newRow("curve out of range") << Changes{{"eCorrecaoIg30", "128"}};
    }
    void sameAsTheWindowsUpload()
    {
        QFETCH(Changes, changes);
        const Tune tune = changed(changes);
        QCOMPARE(setImage(tune), windowUpload(tune));
    }

    void differingFields_data()
    {
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
        QFETCH(Changes, sent);
        QFETCH(Changes, back);
        QFETCH(int, spoilByte);
        QFETCH(QList<int>, fields);
        const Tune sentTune = changed(sent), backTune = changed(back);
        const UploadImage sentImage = tuneImage(sentTune);
        UploadImage backImage = tuneImage(backTune);
        if (spoilByte >= 0)
            backImage[spoilByte / 8][spoilByte % 8] ^= 0xFF;
        QList<int> named;
        for (const tunediff::Difference &d : tunediff::differingFields(sentTune, sentImage, backTune, backImage))
            named << d.field;
        QCOMPARE(named, fields);
    }
};

QTEST_GUILESS_MAIN(TestTuneImage)
#include "tst_tuneimage.moc"
