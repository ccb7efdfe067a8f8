#include "files/mapfilecodec.h"

#include "common/names.h"

#include <QHash>

namespace mapfile {

const QStringList &fieldControls()
{
    static const QStringList list = [] {
        QStringList l{"cbCombinacaoMapa", "cbDentesPms", "eLimiteRpm",  "eRepousoTps",
                      "emSAr",            "ePercentualAr", "eLigaCutOff", "eDeslCutOff"};
        for (int k = 0; k < 72; ++k)
            l << names::ignitionCell(k);
        for (int k = 0; k < 72; ++k)
            l << names::injectionCell(k);
        l << "cbSondaTipo" << "eSondaLenta" << "eSondaParcial" << "eSondaPlena" << "cbSondaCorrecao"
          << "eSondaTemp" << "cbSondaAtiva";
        l << "eAtm820" << "eAtm880" << "eAtm940" << "eAtm1000";
        l << "cbRapidaTpsxMap" << "eBasico" << "eGanho" << "eDecremento";
        const QStringList temps{"0", "15", "30", "45", "60", "75", "90", "105"};
        for (const char *row : {"eCorrecaoTi", "eCorrecaoIg", "eCorrecaoMl"})
            for (const QString &t : temps)
                l << QLatin1String(row) + t;
        l << "eLigaEletro" << "eDesligaEletro";
        l << "cbTipoRodaFonica" << "cbEscalaRpm" << "eTempoCarga" << "cbPontoZero" << "eAvancoPartida"
          << "emSCorrecaoEletro" << "ePercEletro";
        return l;
    }();
    return list;
}

QByteArray encodeLine(const QStringList &fields)
{
    QByteArray line = fields.join(u';').toLatin1();
    line += "\r\n";
    return line;
}

QString firstLine(const QByteArray &bytes)
{
    qsizetype end = 0;
    while (end < bytes.size() && bytes[end] != '\r' && bytes[end] != '\n')
        ++end;
    return QString::fromLatin1(bytes.constData(), end);
}

QStringList splitSlots(const QString &line)
{
    QStringList table;
    table.reserve(slotCount);
    for (int i = 0; i < slotCount; ++i)
        table << QString();
    int current = 0;
    for (const QChar c : line) {
        if (c == u';') {
            // The table ends at slot 256; whatever follows has no slot.
            if (++current == slotCount)
                break;
        } else {
            table[current] += c;
        }
    }
    return table;
}

namespace {

const QHash<QString, QString> &captions()
{
    static const QHash<QString, QString> table = [] {
        QHash<QString, QString> t{
            {"cbCombinacaoMapa", "Combinação dos Mapas"},
            {"cbDentesPms", "Dente PMS"},
            {"eLimiteRpm", "Limite de RPM"},
            {"eRepousoTps", "Repouso do TPS"},
            {"emSAr", "Ar Condic.: Incrementa Ti (ms)"},
            {"ePercentualAr", "Ar Condic.: Abre Atuador (%)"},
            {"eLigaCutOff", "Cut Off: Liga os Injet. (RPM)"},
            {"eDeslCutOff", "Cut Off: Desl. os Injet. (RPM)"},
            {"cbSondaTipo", "Sonda Lambda: Tipo de sensor"},
            {"eSondaLenta", "Sonda Lambda: Valor Alvo Lenta (mV)"},
            {"eSondaParcial", "Sonda Lambda: Valor Alvo Parcial (mV)"},
            {"eSondaPlena", "Sonda Lambda: Valor Alvo Plena (mV)"},
            {"cbSondaCorrecao", "Sonda Lambda: Definido por:"},
            {"eSondaTemp", "Sonda Lambda: °C"},
            {"cbSondaAtiva", "Sonda Lambda: Atividade"},
            {"cbRapidaTpsxMap", "Aceler. Rápida: Definido por:"},
            {"eBasico", "Aceler. Rápida: Curta"},
            {"eGanho", "Aceler. Rápida: Longa"},
            {"eDecremento", "Aceler. Rápida: Decremento"},
            {"eLigaEletro", "Eletro Ventilador: °C Liga"},
            {"eDesligaEletro", "Eletro Ventilador: °C Desliga"},
            {"emSCorrecaoEletro", "Eletro Ventilador: mS Ti"},
            {"ePercEletro", "Eletro Ventilador: %  Atuador M. Lenta"},
            {"cbTipoRodaFonica", "Tipo de Roda Fônica"},
            {"cbEscalaRpm", "Escala de RPM Mapa"},
            {"eTempoCarga", "Tempo de Carga (mS)"},
            {"cbPontoZero", "Ponto  Zero"},
            {"eAvancoPartida", "Avanço na Partida"},
        };
        for (const char *p : {"820", "880", "940", "1000"})
            t.insert(QStringLiteral("eAtm") + QLatin1String(p),
                     QStringLiteral("Pressão Atmosférica: % do Ti a %1 mbar").arg(QLatin1String(p)));
        const struct {
            const char *prefix;
            const char *caption;
        } rows[] = {{"eCorrecaoTi", "Correção Ti"}, {"eCorrecaoIg", "Correção Avanço"}, {"eCorrecaoMl", "Atuador de M. lenta"}};
        for (const auto &row : rows)
            for (const char *temp : {"0", "15", "30", "45", "60", "75", "90", "105"})
                t.insert(QLatin1String(row.prefix) + QLatin1String(temp),
                         QString::fromUtf8(row.caption) + QStringLiteral(" a %1 °C").arg(QLatin1String(temp)));
        return t;
    }();
    return table;
}

} // namespace

QString fieldControl(int field)
{
    if (field == tpsMinField)
        return QStringLiteral("tpsMin");
    if (field == tpsMaxField)
        return QStringLiteral("tpsMax");
    return mapfile::fieldControls().value(field - 1);
}

QString fieldLabel(int field)
{
    if (isCellField(field)) {
        const int index = field - firstCellField;
        const int cell = index % cellsPerMap;
        const QString map = index < cellsPerMap ? QString::fromUtf8("ignição") : QString::fromUtf8("injeção");
        return QStringLiteral("%1 linha %2 coluna %3").arg(map).arg(cell / 8 + 1).arg(cell % 8 + 1);
    }
    if (field == tpsMinField)
        return QString::fromUtf8("TPS mínimo");
    if (field == tpsMaxField)
        return QString::fromUtf8("TPS máximo");
    return captions().value(fieldControl(field));
}

} // namespace mapfile
