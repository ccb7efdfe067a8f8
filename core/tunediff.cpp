#include "core/tunediff.h"

#include "core/offlinecore.h"
#include "files/mapfilecodec.h"

#include <QHash>
#include <utility>

namespace tunediff {

namespace {

constexpr int firstCell = 9;   // field of ignition cell 0
constexpr int cellCount = 72;
constexpr int tpsMinField = 201;
constexpr int tpsMaxField = 202;

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

bool isCell(int field) { return field >= firstCell && field < firstCell + 2 * cellCount; }

// Maps first, then configuration, then the TPS limits; file order within each.
int rank(int field)
{
    if (isCell(field))
        return 0;
    return field >= tpsMinField ? 2 : 1;
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
    if (isCell(field)) {
        const int index = field - firstCell;
        const int cell = index % cellCount;
        const QString map = index < cellCount ? QString::fromUtf8("ignição") : QString::fromUtf8("injeção");
        return QStringLiteral("%1 linha %2 coluna %3").arg(map).arg(cell / 8 + 1).arg(cell % 8 + 1);
    }
    if (field == tpsMinField)
        return QString::fromUtf8("TPS mínimo");
    if (field == tpsMaxField)
        return QString::fromUtf8("TPS máximo");
    return captions().value(fieldControl(field));
}

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
    if (field == tpsMinField)
        out.tpsMin = from.tpsMin;
    else if (field == tpsMaxField)
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
    OfflineCore dry;
    // The bytes of an upload of base, and of base with one field taken from other.
    // A set that cannot be sent has no bytes to compare: the other one is the base
    // then, so that a field written another way ("4" and "4,0") still counts as equal.
    const auto bytesOf = [&dry](const Tune &tune) { return imageBytes(dry.imageOf(tune)); };
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
        if (d.control == QLatin1String("eRepousoTps")) {
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
    out.removeIf([](const Difference &d) { return d.control == QLatin1String("eRepousoTps"); });
    return out;
}

} // namespace tunediff
