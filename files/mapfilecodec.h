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

// The two maps' cells are fields 9..152 (ignition, then injection, 72 cells each, row
// by row from the lowest speed); the TPS limits are fields 201 and 202.
constexpr int firstCellField = 9;
constexpr int cellsPerMap = 72;
constexpr int tpsMinField = 201;
constexpr int tpsMaxField = 202;
constexpr bool isCellField(int field) { return field >= firstCellField && field < firstCellField + 2 * cellsPerMap; }

// Field 1..202 of the map file: the control that shows it ("e12i", "eLimiteRpm"; the
// TPS limits, which no control shows, are "tpsMin" and "tpsMax") and what a tuner
// calls it: the caption of its label, or its place in a map ("ignição linha 3 coluna 5",
// rows and columns counted from 1, row 1 the lowest speed, column 1 the lowest load).
QString fieldControl(int field);
QString fieldLabel(int field);

// Joins the 202 fields with ";" and appends CR LF, as Latin-1 bytes.
QByteArray encodeLine(const QStringList &fields);
// The first line of the file's bytes (up to CR or LF), decoded from Latin-1.
QString firstLine(const QByteArray &bytes);
// Splits a line into the 256 slots (index 0 is slot 1); fields past slot 256 are dropped.
QStringList splitSlots(const QString &line);

} // namespace mapfile
