// Any bytes as a map file: the codec (first line, slotTexts), a full load through
// btnCarregarClick from a file on disk with a fresh core over the fakes, and a save of
// what was loaded; then the same bytes, cut into 202 fields, through encodeLine and back.
// Properties: a load either takes the file's fields exactly or fails with a message and
// changes nothing; a save of a loaded map writes the same fields back.
#include "check.h"
#include "common/numtext.h"
#include "corebench.h"
#include "files/mapfilecodec.h"

#include <QDir>
#include <QFile>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

QString tempFolder;

QStringList expectedSlots(const QString &line)
{
    QStringList slotTexts = line.split(u';').mid(0, mapfile::slotCount);
    while (slotTexts.size() < mapfile::slotCount)
        slotTexts << QString();
    return slotTexts;
}

void checkCodec(const QByteArray &bytes, QString *line, QStringList *slotTexts)
{
    qsizetype end = 0;
    while (end < bytes.size() && bytes[end] != '\r' && bytes[end] != '\n')
        ++end;
    *line = mapfile::firstLine(bytes);
    fuzzcheck::require(*line == QString::fromLatin1(bytes.left(end)), "firstLine is not the bytes up to CR or LF");
    *slotTexts = mapfile::splitSlots(*line);
    fuzzcheck::require(slotTexts->size() == mapfile::slotCount, "splitSlots does not give 256 slotTexts");
    fuzzcheck::require(*slotTexts == expectedSlots(*line), "splitSlots differs from the fields between the separators");
}

struct Snapshot {
    QStringList texts;
    int tpsMin = 0, tpsMax = 0;
};

template <typename Rig> Snapshot snapshot(Rig &rig)
{
    Snapshot s;
    for (const QString &name : mapfile::fieldControls())
        s.texts << rig.screen.text(name);
    s.tpsMin = rig.state().wv.tpsMin;
    s.tpsMax = rig.state().wv.tpsMax;
    return s;
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size())
        fuzzcheck::fail("cannot write the input file", path);
}

QByteArray readFile(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        fuzzcheck::fail("cannot read the saved file", path);
    return f.readAll();
}

template <typename Rig> void checkLoadAndSave(Rig &rig, const QByteArray &bytes, const QStringList &slotTexts)
{
    const Snapshot before = snapshot(rig);
    const QString in = tempFolder + "/in.txt";
    writeFile(in, bytes);
    rig.prompt.fileAnswers.push_back(in);
    const auto error = fuzzcheck::guarded([&] { rig.c().btnCarregarClick(); });
    const Snapshot after = snapshot(rig);

    if (error) {
        fuzzcheck::require(after.texts == before.texts && after.tpsMin == before.tpsMin && after.tpsMax == before.tpsMax,
                           "a load that failed changed the screen", *error);
        return;
    }
    for (int i = 0; i < mapfile::fieldCount - 2; ++i)
        fuzzcheck::require(after.texts[i] == slotTexts[i], "a loaded field is not the file's field",
                           [&] { return mapfile::fieldControls()[i] + ": " + after.texts[i] + " / " + slotTexts[i]; });
    int tpsMin = 0, tpsMax = 0;
    fuzzcheck::require(numtext::tryParseInt(slotTexts[200], &tpsMin) && numtext::tryParseInt(slotTexts[201], &tpsMax),
                       "a load took TPS values that are not integers",
                       [&] { return slotTexts[200] + " / " + slotTexts[201]; });
    fuzzcheck::require(after.tpsMin == tpsMin && after.tpsMax == tpsMax, "the loaded TPS values are not the file's");

    const QString out = tempFolder + "/out.txt";
    rig.prompt.fileAnswers.push_back(out);
    if (const auto saveError = fuzzcheck::guarded([&] { rig.c().btnSalvarClick(); }))
        fuzzcheck::fail("a loaded map cannot be saved", *saveError);
    QStringList fields = slotTexts.mid(0, mapfile::fieldCount - 2);
    fields << numtext::formatInt(tpsMin) << numtext::formatInt(tpsMax);
    fuzzcheck::require(readFile(out) == mapfile::encodeLine(fields), "saving a loaded map does not write its fields back");
}

// The input cut at line feeds into 202 fields without separators or line ends.
void checkEncodeRoundTrip(const QByteArray &bytes)
{
    QStringList fields;
    for (QByteArray piece : bytes.split('\n')) {
        piece.replace(';', "").replace('\r', "");
        fields << QString::fromLatin1(piece);
    }
    fields = fields.mid(0, mapfile::fieldCount);
    while (fields.size() < mapfile::fieldCount)
        fields << QString();
    const QByteArray line = mapfile::encodeLine(fields);
    fuzzcheck::require(line.endsWith("\r\n"), "encodeLine does not end the line with CR LF");
    fuzzcheck::require(line.count('\r') == 1 && line.count('\n') == 1, "encodeLine writes more than one line end");
    fuzzcheck::require(line.chopped(2) == fields.join(u';').toLatin1(), "encodeLine is not the fields joined with ;");
    const QStringList slotTexts = mapfile::splitSlots(mapfile::firstLine(line));
    fuzzcheck::require(slotTexts.mid(0, mapfile::fieldCount) == fields, "encoded fields do not come back from the line");
    for (int i = mapfile::fieldCount; i < mapfile::slotCount; ++i)
        fuzzcheck::require(slotTexts[i].isEmpty(), "a slot past the last field is not empty");
}

CoreBench *bench = nullptr;

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    // Saving syncs the file to disk: a folder in memory keeps that cheap.
    const QString base = QDir(QStringLiteral("/dev/shm")).exists() ? QStringLiteral("/dev/shm") : QDir::tempPath();
    QByteArray pattern = QFile::encodeName(base) + "/velto-fuzz-mapfile-XXXXXX";
    if (!mkdtemp(pattern.data()))
        fuzzcheck::fail("cannot make a temporary folder");
    tempFolder = QFile::decodeName(pattern);
    std::atexit([] { QDir(tempFolder).removeRecursively(); });
    fuzzcheck::require(mapfile::fieldControls().size() == mapfile::fieldCount - 2, "not 200 field controls");
    bench = new CoreBench;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    QString line;
    QStringList slotTexts;
    checkCodec(bytes, &line, &slotTexts);
    fuzzbench::runOnBench(*bench, [&](auto &rig) { checkLoadAndSave(rig, bytes, slotTexts); });
    checkEncodeRoundTrip(bytes);
    return 0;
}
