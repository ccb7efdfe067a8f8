#include "maps/mapedit.h"

#include "common/controlnames.h"
#include "common/enabledset.h"
#include "common/names.h"
#include "common/numtext.h"
#include "maps/cells.h"

#include <QStringList>

namespace {

// Ignition cells whose lower limit is 0 degrees instead of 1.
bool zeroAllowed(int k)
{
    switch (k) {
    case 9:
    case 27:
    case 28:
    case 29:
    case 37:
    case 38:
    case 39:
    case 47:
    case 48:
    case 49:
    case 57:
    case 58:
    case 59:
    case 67:
    case 68:
    case 69: return true;
    default: return false;
    }
}

QStringList changeFields()
{
    QStringList list;
    for (int c = 0; c < 8; ++c)
        list << names::ignitionColumnField(c) << names::injectionColumnField(c);
    for (int r = 0; r < 9; ++r)
        list << names::ignitionRowField(r) << names::injectionRowField(r);
    return list;
}

// A number of the bulk change. A text that is no number throws the conversion's own
// error with a line under it naming the field ("eC3inj (alteração da coluna 4 do mapa
// de injeção)") and showing what it holds.
long double valueOf(const Screen &s, const QString &name, const QString &description)
{
    const QString text = s.text(name);
    try {
        return numtext::parseFloat(text);
    } catch (const numtext::ConvertError &e) {
        throw numtext::ConvertError::inField(e, name, QStringLiteral("%1 (%2)").arg(name, description), text, 1);
    }
}

QString mapName(MapId map) { return map == MapId::Ignition ? QStringLiteral("ignição") : QStringLiteral("injeção"); }

long double columnChange(const Screen &s, MapId map, int c)
{
    const QString name = map == MapId::Ignition ? names::ignitionColumnField(c) : names::injectionColumnField(c);
    return valueOf(s, name, QStringLiteral("alteração da coluna %1 do mapa de %2").arg(c + 1).arg(mapName(map)));
}

long double rowChange(const Screen &s, MapId map, int r)
{
    const QString name = map == MapId::Ignition ? names::ignitionRowField(r) : names::injectionRowField(r);
    return valueOf(s, name, QStringLiteral("alteração da linha %1 do mapa de %2").arg(r + 1).arg(mapName(map)));
}

} // namespace

MapEdit::MapEdit(Context &ctx) : ctx_(ctx) {}

void MapEdit::btnAlterarMapasClick()
{
    Screen &s = ctx_.screen;
    for (const QString &c :
         {ctl::Button3, ctl::Button6, ctl::Button8, ctl::btnCarregar, ctl::btnSalvar, ctl::GroupBox3, ctl::Gauge4})
        s.setVisible(c, false);
    for (const QString &f : changeFields())
        s.setVisible(f, true);
    s.setVisible(ctl::GroupBox10, true);
    s.setVisible(ctl::btnVoltarTelaPrincipal, true);
    s.setVisible(ctl::btnAlterarMapas, false);
    ctx_.state.editMode = true;
    enabledset::apply(ctx_);
}

void MapEdit::btnAlterarClick()
{
    Screen &s = ctx_.screen;
    // All new texts of both maps are worked out first, in the order the cells are
    // changed; an amount or a cell that does not convert stops the change before any
    // cell is written, and the amounts stay for the user to mend.
    QStringList injection, ignition;
    injection.reserve(72);
    ignition.reserve(72);

    // The 25 ms cap belongs to the ms view only.
    const bool msView = !ctx_.state.percentView;
    const long double injectionMax = cells::limits(MapId::Injection).max;
    for (int k = 0; k < 72; ++k) {
        const int r = k / 8, c = k % 8;
        const long double v = cells::cellValue(s, MapId::Injection, r, c);
        const long double a = valueOf(s, ctl::eAlterar, QStringLiteral("Alterar todo o Mapa de Injeção"));
        const long double col = columnChange(s, MapId::Injection, c);
        const long double row = rowChange(s, MapId::Injection, r);
        // The percentages add up before they scale the cell.
        const long double value = (row + (a + col) + 100.0L) / 100.0L * v;
        QString text = numtext::formatFloat("0.0; -0.0; 0.0", value);
        if (msView && numtext::parseFloat(text) > injectionMax)
            text = numtext::formatGeneral(injectionMax);
        injection << text;
    }
    for (int k = 0; k < 72; ++k) {
        const int r = k / 8, c = k % 8;
        const long double v = cells::cellValue(s, MapId::Ignition, r, c);
        const long double a = valueOf(s, ctl::eAltera, QStringLiteral("Alterar todo o Mapa de Ignição"));
        const long double col = columnChange(s, MapId::Ignition, c);
        const long double row = rowChange(s, MapId::Ignition, r);
        const long double value = ((a + col) + row) + v;
        QString text = numtext::formatGeneral(value);
        const long double x = numtext::parseFloat(text);
        if (x < (zeroAllowed(k) ? 0 : 1))
            text = QStringLiteral("0");
        if (x > 50)
            text = QStringLiteral("50");
        ignition << text;
    }

    for (int k = 0; k < 72; ++k)
        s.setText(names::injectionCell(k), injection.at(k));
    for (int k = 0; k < 72; ++k)
        s.setText(names::ignitionCell(k), ignition.at(k));
    for (const QString &f : changeFields())
        s.setText(f, QStringLiteral("0"));
    s.setText(ctl::eAltera, QStringLiteral("0"));
    s.setText(ctl::eAlterar, QStringLiteral("0"));
}

void MapEdit::btnVoltarTelaPrincipalClick()
{
    Screen &s = ctx_.screen;
    // The injection map leaves the edit mode in milliseconds. The return runs before
    // anything else: if a cell does not convert, the error stops here and the edit
    // mode, with its ms button, stays open for the user to mend the cell.
    if (ctx_.state.percentView)
        ctx_.hooks.msView();

    for (const QString &f : changeFields())
        s.setVisible(f, false);
    s.setVisible(ctl::GroupBox10, false);
    s.setVisible(ctl::btnVoltarTelaPrincipal, false);
    s.setVisible(ctl::GroupBox3, true);
    for (const QString &caption : names::injectionRowCaptions())
        s.setVisible(caption, true);
    for (const QString &b :
         {ctl::Button3, ctl::Button6, ctl::Button8, ctl::btnCarregar, ctl::btnSalvar, ctl::btnAlterarMapas})
        s.setVisible(b, true);
    ctx_.state.editMode = false;
    enabledset::apply(ctx_);
}
