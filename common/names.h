#pragma once
// Names of control groups that several activities switch together.
#include <QString>
#include <QStringList>

namespace names {
// The twelve buttons an upload or a read-back locks while it runs.
const QStringList &transferButtons();
// Ignition cell k ("e0".."e71") and injection cell k ("e0i".."e71i").
QString ignitionCell(int k);
QString injectionCell(int k);
// Row and column captions of both maps, in row / column order.
const QStringList &ignitionRowCaptions();     // StaticText1..StaticText9
const QStringList &injectionRowCaptions();    // StaticText11..StaticText19
const QStringList &ignitionColumnCaptions();  // Label72..Label79
const QStringList &injectionColumnCaptions(); // Label57, Label63..Label66, Label69..Label71
// Change fields of the map edit mode.
QString ignitionColumnField(int c);  // eC0ig..eC7ig
QString injectionColumnField(int c); // eC0inj..eC7inj
QString ignitionRowField(int r);     // eL0ig..eL8ig
QString injectionRowField(int r);    // eL0inj..eL8inj
// Position bars: load bars (0..42) and speed bars (0..48).
const QStringList &loadBars();  // Gauge1, Gauge2, Gauge6, Gauge8
const QStringList &speedBars(); // Gauge3, Gauge4, Gauge5, Gauge7
} // namespace names
