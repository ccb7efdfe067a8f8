#include "files/mapfilecodec.h"

#include "common/names.h"

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

} // namespace mapfile
