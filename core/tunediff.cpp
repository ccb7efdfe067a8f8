#include "core/tunediff.h"

#include "common/controlnames.h"
#include "files/mapfilecodec.h"
#include "link/tuneimage.h"

#include <utility>

namespace tunediff {

namespace {

bool isCell(int field) { return mapfile::isCellField(field); }

// Maps first, then configuration, then the TPS limits; file order within each.
int rank(int field)
{
    if (isCell(field))
        return 0;
    return field >= mapfile::tpsMinField ? 2 : 1;
}

} // namespace

QList<Difference> compareTexts(const Tune &a, const Tune &b)
{
    const QStringList fa = a.fields(), fb = b.fields();
    QList<Difference> out;
    for (int r = 0; r < 3; ++r)
        for (int field = 1; field <= mapfile::fieldCount; ++field) {
            if (rank(field) != r || fa.value(field - 1) == fb.value(field - 1))
                continue;
            out.append({field, fieldControl(field), fieldLabel(field), fa.value(field - 1), fb.value(field - 1)});
        }
    return out;
}

Tune withField(const Tune &tune, int field, const Tune &from)
{
    Tune out = tune;
    if (field == mapfile::tpsMinField)
        out.tpsMin = from.tpsMin;
    else if (field == mapfile::tpsMaxField)
        out.tpsMax = from.tpsMax;
    else
        out.texts[field - 1] = from.texts.value(field - 1);
    return out;
}

QList<Difference> compare(const Tune &a, const Tune &b)
{
    const QList<Difference> texts = compareTexts(a, b);
    if (texts.isEmpty())
        return texts;
    // The bytes of an upload of base, and of base with one field taken from other.
    // A set that cannot be sent has no bytes to compare: the other one is the base
    // then, so that a field written another way ("4" and "4,0") still counts as equal.
    const auto bytesOf = [](const Tune &tune) { return imageBytes(tuneImage(tune)); };
    const Tune *base = &a, *other = &b;
    QByteArray baseBytes;
    try {
        baseBytes = bytesOf(a);
    } catch (const std::exception &) {
        try {
            baseBytes = bytesOf(b);
            std::swap(base, other);
        } catch (const std::exception &) {
            return texts; // neither set can be sent
        }
    }
    QList<Difference> out;
    for (const Difference &d : texts) {
        // The TPS rest value is kept in the file only: no byte tells its value.
        if (d.control == ctl::eRepousoTps) {
            out.append(d);
            continue;
        }
        try {
            if (bytesOf(withField(*base, d.field, *other)) != baseBytes)
                out.append(d);
        } catch (const std::exception &) {
            out.append(d); // the other set's text cannot be sent at all
        }
    }
    return out;
}

QList<Difference> compareWithModule(const Tune &screen, const Tune &module)
{
    QList<Difference> out = compare(screen, module);
    out.removeIf([](const Difference &d) { return d.control == ctl::eRepousoTps; });
    return out;
}

QList<Difference> differingFields(const Tune &sent, const UploadImage &sentImage, const Tune &backTune,
                                  const UploadImage &backImage)
{
    const QByteArray a = imageBytes(sentImage), b = imageBytes(backImage);
    if (a == b)
        return {};
    QList<Difference> out;
    for (const Difference &d : compareTexts(sent, backTune)) {
        QByteArray changed;
        try {
            changed = imageBytes(tuneImage(withField(sent, d.field, backTune)));
        } catch (const std::exception &) {
            out.append(d); // the read-back text cannot even be sent
            continue;
        }
        for (qsizetype i = 0; i < a.size(); ++i) {
            if (a[i] != b[i] && changed[i] != a[i]) {
                out.append(d);
                break;
            }
        }
    }
    return out;
}

} // namespace tunediff
