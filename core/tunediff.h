#pragma once
// The field-by-field difference of two parameter sets, as the compare dialog and
// `velto-cli diff` list it.
#include "files/mapfile.h"
#include "files/mapfilecodec.h"
#include "link/tuneimage.h"

#include <QList>
#include <QString>

namespace tunediff {

// A field's control and what a tuner calls it (see mapfile::fieldLabel).
using mapfile::fieldControl;
using mapfile::fieldLabel;

struct Difference {
    int field = 0; // 1..202
    QString control;
    QString label;
    QString a, b; // the field's text in each set
    friend bool operator==(const Difference &, const Difference &) = default;
};

// Every field whose value differs: a field differs when B's text, put in A's place,
// changes a byte of what an upload of A sends (the rule of write --verify), so "4" and
// "4,0" are equal; the TPS rest value, which is never sent, is compared as text. When A
// cannot be sent, A's text is put in B's place instead (a field that cannot be sent
// differs); only when neither set can be sent is every field compared as text. The map cells first (ignition, then
// injection), then the configuration in file order, then the TPS limits.
QList<Difference> compare(const Tune &a, const Tune &b);
// Every field whose text differs, in the same order.
QList<Difference> compareTexts(const Tune &a, const Tune &b);
// The screen against what the module holds: as compare, without the fields that the
// module does not hold (the TPS rest value lives in the map file only).
QList<Difference> compareWithModule(const Tune &screen, const Tune &module);
// tune with field 1..202 taken from `from`.
Tune withField(const Tune &tune, int field, const Tune &from);

// The fields whose bytes differ between the image sent for the parameter set `sent` and
// the image `back` that the read-back screen (holding the texts of `back`) would upload.
// A field is named when its read-back text, put in place of the sent text, changes a
// byte at which the two images differ: a text that the ECU's units round (6050 read
// back as 6000) changes no byte and is not named. Maps first, then configuration, then
// the TPS limits; the texts are those of the two sets.
QList<Difference> differingFields(const Tune &sent, const UploadImage &sentImage, const Tune &backTune,
                                  const UploadImage &backImage);

} // namespace tunediff
