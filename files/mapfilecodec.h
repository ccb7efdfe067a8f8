#pragma once
// The map file: one line of 202 fields separated by ";" (the texts of 200 controls,
// then the TPS minimum and maximum), 8-bit text, CR LF.
#include <QByteArray>
#include <QString>
#include <QStringList>

namespace mapfile {

constexpr int fieldCount = 202;
constexpr int slotCount = 256;

// Control names of fields 1..200, in file order.
const QStringList &fieldControls();

// Joins the 202 fields with ";" and appends CR LF, as Latin-1 bytes.
QByteArray encodeLine(const QStringList &fields);
// The first line of the file's bytes (up to CR or LF), decoded from Latin-1.
QString firstLine(const QByteArray &bytes);
// Splits a line into the 256 slots (index 0 is slot 1); fields past slot 256 are dropped.
QStringList splitSlots(const QString &line);

} // namespace mapfile
