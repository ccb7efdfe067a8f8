#include "common/names.h"

namespace {
QStringList numbered(const QString &prefix, int from, int to, const QString &suffix = {})
{
    QStringList list;
    for (int i = from; i <= to; ++i)
        list << prefix + QString::number(i) + suffix;
    return list;
}
} // namespace

namespace names {
const QStringList &transferButtons()
{
    static const QStringList list{"btnLerDados", "Button6",      "btnEnvia",        "Button8",
                                  "Button3",     "btnDesativar", "btnAlterarMapas", "btnCarregar",
                                  "Button2",     "btnSalvar",    "Button1",         "btnConfigurarTps"};
    return list;
}
QString ignitionCell(int k) { return "e" + QString::number(k); }
QString injectionCell(int k) { return "e" + QString::number(k) + "i"; }
const QStringList &ignitionRowCaptions()
{
    static const QStringList list = numbered("StaticText", 1, 9);
    return list;
}
const QStringList &injectionRowCaptions()
{
    static const QStringList list = numbered("StaticText", 11, 19);
    return list;
}
const QStringList &ignitionColumnCaptions()
{
    static const QStringList list = numbered("Label", 72, 79);
    return list;
}
const QStringList &injectionColumnCaptions()
{
    static const QStringList list{"Label57", "Label63", "Label64", "Label65",
                                  "Label66", "Label69", "Label70", "Label71"};
    return list;
}
QString ignitionColumnField(int c) { return "eC" + QString::number(c) + "ig"; }
QString injectionColumnField(int c) { return "eC" + QString::number(c) + "inj"; }
QString ignitionRowField(int r) { return "eL" + QString::number(r) + "ig"; }
QString injectionRowField(int r) { return "eL" + QString::number(r) + "inj"; }
const QStringList &loadBars()
{
    static const QStringList list{"Gauge1", "Gauge2", "Gauge6", "Gauge8"};
    return list;
}
const QStringList &speedBars()
{
    static const QStringList list{"Gauge3", "Gauge4", "Gauge5", "Gauge7"};
    return list;
}
} // namespace names
