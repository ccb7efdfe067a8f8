// The field table drives the image, the read-back and the map file: every field goes
// through all three and comes back as it went in; the table's placement agrees with
// the simulator's model of the module; and decoding a read-back from the table gives
// what the window's own read-back leaves on screen.
#include "common/tunefields.h"
#include "core/controller.h"
#include "ecu.h"
#include "fakecore.h"
#include "files/mapfile.h"
#include "files/mapfilecodec.h"
#include "link/tuneimage.h"

#include <QTemporaryDir>
#include <QtTest>

#include <random>

namespace {

QString fieldText(const Tune &t, int i) { return t.fields().value(i); }

void setField(Tune &t, int i, const QString &text)
{
    if (i == mapfile::tpsMinField - 1)
        t.tpsMin = text.toInt();
    else if (i == mapfile::tpsMaxField - 1)
        t.tpsMax = text.toInt();
    else
        t.texts[i] = text;
}

// A text other than the start-up's that the field's byte holds exactly, written as the
// read-back writes it.
QString otherText(const tunefields::Field &f, const QString &current)
{
    using tunefields::Decode;
    if (f.name == "cbDentesPms")
        return tunefields::toothList(0).value(11);
    if (f.kind == tunefields::Kind::Choice) {
        for (const QString &c : tunefields::choiceTexts(f))
            if (c != current)
                return c;
    }
    switch (f.readBack.decode) {
    case Decode::Whole: return "37";
    case Decode::SignedWhole: return "-7";
    case Decode::Tenths: return "12,3";
    case Decode::Plain: return "42";
    case Decode::Times10: return "450";
    case Decode::Times100: return "4500";
    case Decode::Fan: return "1,5";
    case Decode::Percent: return "33";
    case Decode::ChargeTime: return "3,5";
    case Decode::TpsMin: return "140";
    case Decode::TpsMax: return "240";
    default: return "9";
    }
}

ecusim::Image simImage(const UploadImage &image)
{
    ecusim::Image out{};
    for (int n = 0; n < 32; ++n)
        for (int i = 0; i < 8; ++i)
            out[std::size_t(8 * n + i)] = image[std::size_t(n)][std::size_t(i)];
    return out;
}

// The window's read-back of these frames on a start-up screen.
Tune windowReadBack(const ReadBackPayloads &payloads)
{
    CoreRig rig;
    rig.c().portActivated();
    rig.c().btnLerDadosClick();
    for (int kind = 1; kind <= 26; ++kind)
        if (payloads[std::size_t(kind)])
            rig.receive(kind, *payloads[std::size_t(kind)]);
    return rig.c().mapFile().screenTune();
}

} // namespace

class TestTuneFields : public QObject {
    Q_OBJECT
private slots:
    void everyFieldRoundTripsThroughImageReadBackAndMapFile()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const Tune start = startupTune();
        const auto &fields = tunefields::all();
        QCOMPARE(int(fields.size()), mapfile::fieldCount);
        for (int i = 0; i < int(fields.size()); ++i) {
            const tunefields::Field &f = fields[std::size_t(i)];
            QCOMPARE(mapfile::fieldControl(i + 1), f.name);
            Tune t = start;
            const QString text = otherText(f, fieldText(start, i));
            QVERIFY2(text != fieldText(start, i), qPrintable(f.name));
            setField(t, i, text);

            // The map file keeps every field as typed.
            const QString path = dir.filePath(QStringLiteral("f%1.txt").arg(i));
            MapFile::writeFile(path, MapFile::bytesOf(t));
            QVERIFY2(MapFile::readTune(path) == t, qPrintable(f.name));

            if (f.image.block == 0) { // kept in the map file only
                QCOMPARE(f.readBack.decode, tunefields::Decode::None);
                QCOMPARE(tuneImage(t), tuneImage(start));
                continue;
            }
            // The image carries it where the table says, and the module gives it back
            // in the frame the table says (the simulator's own placement).
            const UploadImage image = tuneImage(t);
            QVERIFY2(image[std::size_t(f.image.block - 1)][std::size_t(f.image.byte)] !=
                         tuneImage(start)[std::size_t(f.image.block - 1)][std::size_t(f.image.byte)],
                     qPrintable(f.name));
            const ReadBackPayloads payloads = readBackPayloads(image);
            for (int kind = 1; kind <= 26; ++kind)
                QVERIFY2(*payloads[std::size_t(kind)] == ecusim::readBackPayload(simImage(image), kind),
                         qPrintable(QStringLiteral("%1, kind %2").arg(f.name).arg(kind)));
            const Tune back = readBackTune(payloads, start);
            QVERIFY2(fieldText(back, i) == text, qPrintable(f.name + ": " + fieldText(back, i)));
            QVERIFY2(back == windowReadBack(payloads), qPrintable(f.name));
        }
    }

    // Codes that name no choice, entries out of their lists, a TPS maximum the read-back
    // does not take, frames missing: the table's decoding leaves what the window's does.
    void decodingEqualsTheWindowsReadBack()
    {
        std::mt19937 random(20261210);
        const Tune start = startupTune();
        const std::uint8_t likely[] = {0, 1, 2, 3, 5, 6, 9, 10, 15, 16, 250, 251, 253, 255};
        for (int round = 0; round < 60; ++round) {
            ReadBackPayloads payloads;
            for (int kind = 1; kind <= 26; ++kind) {
                if (round % 3 == 2 && random() % 4 == 0)
                    continue;
                std::array<std::uint8_t, 8> p{};
                for (auto &b : p)
                    b = random() % 2 ? likely[random() % std::size(likely)] : std::uint8_t(random());
                payloads[std::size_t(kind)] = p;
            }
            const Tune window = windowReadBack(payloads);
            const Tune table = readBackTune(payloads, start);
            for (int i = 0; i < mapfile::fieldCount; ++i)
                QVERIFY2(fieldText(table, i) == fieldText(window, i),
                         qPrintable(QStringLiteral("round %1, %2: %3 / %4")
                                        .arg(round)
                                        .arg(tunefields::all()[std::size_t(i)].name, fieldText(table, i),
                                             fieldText(window, i))));
        }
    }
};

QTEST_GUILESS_MAIN(TestTuneFields)
#include "tst_tunefields.moc"
