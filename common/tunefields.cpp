#include "common/tunefields.h"

#include "common/numtext.h"

#include <QHash>

namespace tunefields {

namespace {

const QStringList temperatures{"0", "15", "30", "45", "60", "75", "90", "105"};

Field text(const char *name, const char *caption, const char *unit, Placement image, ReadBack readBack,
           int decimals = 0)
{
    Field f;
    f.name = QString::fromLatin1(name);
    f.caption = QString::fromUtf8(caption);
    f.unit = QString::fromUtf8(unit);
    f.decimals = decimals;
    f.image = image;
    f.readBack = readBack;
    return f;
}

Field choice(const char *name, const char *caption, QList<Choice> choices, bool fixed, Placement image,
             ReadBack readBack)
{
    Field f = text(name, caption, "", image, readBack);
    f.kind = Kind::Choice;
    f.choices = std::move(choices);
    f.fixedChoices = fixed;
    return f;
}

Field withUpper(Field f, long double limit, const char *message, const char *limitText)
{
    f.upper = UpperLimit{limit, QString::fromUtf8(message), QString::fromLatin1(limitText)};
    return f;
}

// Point p of curve c: three curves of 22 points from block 19 (each starts a block),
// then the atmospheric curve of 10 points from block 28.
Placement curvePoint(int c, int p)
{
    const int offset = (c < 3 ? 8 * (19 + 3 * c - 1) : 8 * (28 - 1)) + p;
    Placement at{offset / 8 + 1, offset % 8, Encoding::CurvePoint, Range::Curve};
    at.curve = c;
    at.point = p;
    return at;
}

std::vector<Field> build()
{
    using E = Encoding;
    using R = Range;
    using D = Decode;
    const QList<Choice> tpsOrMap{{"TPS", 5}, {"MAP", 10}};
    std::vector<Field> t;
    t.reserve(202);

    t.push_back(choice("cbCombinacaoMapa", "Combinação dos Mapas", {{"TPS X RPM", 5}, {"MAP X RPM", 10}}, true,
                       {31, 0, E::Code}, {25, 3, D::Choice}));
    t.push_back(
        choice("cbDentesPms", "Dente PMS", {}, true, {30, 6, E::ToothOffset, R::Unsigned}, {25, 1, D::ToothIndex}));
    t.push_back(
        withUpper(text("eLimiteRpm", "Limite de RPM", "RPM", {30, 7, E::IntegerDiv100, R::Byte}, {25, 2, D::Times100}),
                  12000, " Atenção ! !  Valor máximo 12.000 PRM   ", "12000"));
    t.push_back(text("eRepousoTps", "Repouso do TPS", "", {}, {}));
    t.push_back(
        text("emSAr", "Ar Condic.: Incrementa Ti (ms)", "ms", {32, 6, E::Tenths, R::Byte}, {24, 6, D::Tenths}, 1));
    t.push_back(
        text("ePercentualAr", "Ar Condic.: Abre Atuador (%)", "%", {32, 7, E::Integer, R::Byte}, {24, 7, D::Plain}));
    t.push_back(text("eLigaCutOff", "Cut Off: Liga os Injet. (RPM)", "RPM", {32, 1, E::IntegerDiv100, R::Byte},
                     {24, 1, D::Times100}));
    t.push_back(text("eDeslCutOff", "Cut Off: Desl. os Injet. (RPM)", "RPM", {32, 0, E::IntegerDiv100, R::Byte},
                     {24, 0, D::Times100}));

    for (int map = 0; map < 2; ++map) {
        for (int k = 0; k < 72; ++k) {
            Field f;
            f.name = QStringLiteral("e%1%2").arg(k).arg(map == 0 ? "" : "i");
            f.caption = QStringLiteral("%1 linha %2 coluna %3")
                            .arg(map == 0 ? QString::fromUtf8("ignição") : QString::fromUtf8("injeção"))
                            .arg(k / 8 + 1)
                            .arg(k % 8 + 1);
            f.unit = map == 0 ? QStringLiteral("graus") : QStringLiteral("ms");
            f.decimals = map;
            const int block = (map == 0 ? 1 : 10) + k / 8;
            f.image = {block, k % 8, map == 0 ? E::Integer : E::Tenths, R::Unsigned};
            f.readBack = {block, k % 8, map == 0 ? D::Whole : D::Tenths};
            t.push_back(f);
        }
    }

    t.push_back(choice("cbSondaTipo", "Sonda Lambda: Tipo de sensor", {{"Normal", 5}, {"Banda Larga (1)", 10}}, false,
                       {29, 5, E::Code}, {23, 0, D::Choice}));
    t.push_back(text("eSondaLenta", "Sonda Lambda: Valor Alvo Lenta (mV)", "mV", {29, 2, E::IntegerDiv10, R::Byte},
                     {23, 4, D::Times10}));
    t.push_back(text("eSondaParcial", "Sonda Lambda: Valor Alvo Parcial (mV)", "mV", {29, 3, E::IntegerDiv10, R::Byte},
                     {23, 5, D::Times10}));
    t.push_back(text("eSondaPlena", "Sonda Lambda: Valor Alvo Plena (mV)", "mV", {29, 4, E::IntegerDiv10, R::Byte},
                     {23, 6, D::Times10}));
    t.push_back(choice("cbSondaCorrecao", "Sonda Lambda: Definido por:", tpsOrMap, false, {29, 6, E::Code},
                       {23, 7, D::Choice}));
    t.push_back(text("eSondaTemp", "Sonda Lambda: °C", "°C", {29, 7, E::Integer, R::Byte}, {23, 3, D::Plain}));
    t.push_back(choice("cbSondaAtiva", "Sonda Lambda: Atividade",
                       {{"Ativada", 5}, {"Desativada", 10}, {"Des em Marcha Lenta", 15}}, false, {30, 0, E::Code},
                       {23, 2, D::Choice}));

    const char *pressures[] = {"820", "880", "940", "1000"};
    for (int i = 0; i < 4; ++i) {
        const QString caption = QStringLiteral("Pressão Atmosférica: % do Ti a %1 mbar").arg(pressures[i]);
        t.push_back(text(QStringLiteral("eAtm%1").arg(pressures[i]).toLatin1().constData(),
                         caption.toUtf8().constData(), "%", curvePoint(3, 3 * i), {22, i, D::SignedWhole}));
    }
    t.push_back(choice("cbRapidaTpsxMap", "Aceler. Rápida: Definido por:", tpsOrMap, false, {30, 1, E::Code},
                       {22, 4, D::Choice}));
    t.push_back(text("eBasico", "Aceler. Rápida: Curta", "ms", {30, 2, E::Tenths, R::Byte}, {22, 5, D::Tenths}, 1));
    t.push_back(text("eGanho", "Aceler. Rápida: Longa", "", {30, 3, E::Integer, R::Byte}, {22, 6, D::Plain}));
    t.push_back(text("eDecremento", "Aceler. Rápida: Decremento", "", {30, 4, E::Integer, R::Byte}, {22, 7, D::Plain}));

    const struct {
        const char *prefix, *caption, *unit;
    } curves[] = {{"eCorrecaoTi", "Correção Ti", "%"},
                  {"eCorrecaoIg", "Correção Avanço", "graus"},
                  {"eCorrecaoMl", "Atuador de M. lenta", "%"}};
    for (int c = 0; c < 3; ++c) {
        for (int i = 0; i < 8; ++i) {
            Field f;
            f.name = QLatin1String(curves[c].prefix) + temperatures[i];
            f.caption = QString::fromUtf8(curves[c].caption) + QStringLiteral(" a %1 °C").arg(temperatures[i]);
            f.unit = QString::fromUtf8(curves[c].unit);
            f.image = curvePoint(c, 3 * i);
            f.readBack = {19 + c, i, D::SignedWhole};
            t.push_back(f);
        }
    }

    t.push_back(
        text("eLigaEletro", "Eletro Ventilador: °C Liga", "°C", {32, 2, E::Integer, R::Byte}, {24, 2, D::Plain}));
    t.push_back(
        text("eDesligaEletro", "Eletro Ventilador: °C Desliga", "°C", {32, 3, E::Integer, R::Byte}, {24, 3, D::Plain}));
    t.push_back(choice("cbTipoRodaFonica", "Tipo de Roda Fônica", {{"60-2", 3}, {"36-1", 6}, {"2+2", 9}}, true,
                       {30, 5, E::WheelCode}, {25, 0, D::Wheel}));
    t.push_back(choice("cbEscalaRpm", "Escala de RPM Mapa", {{"6600", 0}, {"8000", 1}, {"9400", 2}}, true,
                       {31, 2, E::ItemIndex}, {25, 7, D::ItemIndex}));
    t.push_back(
        withUpper(text("eTempoCarga", "Tempo de Carga (mS)", "ms", {31, 3, E::ChargeTime}, {26, 0, D::ChargeTime}, 3),
                  4, " Atenção ! !  Valor máximo 4 mS   ", "4"));
    {
        QList<Choice> zero;
        for (int z = -3; z <= 3; ++z)
            zero.push_back({numtext::formatInt(z), z});
        t.push_back(choice("cbPontoZero", "Ponto  Zero", zero, true, {31, 4, E::ZeroPoint}, {26, 1, D::ZeroPoint}));
    }
    t.push_back(
        withUpper(text("eAvancoPartida", "Avanço na Partida", "graus", {31, 1, E::Integer, R::Byte}, {25, 4, D::Plain}),
                  15, " Atenção ! !  Valor máximo 15 graus   ", "15"));
    t.push_back(text("emSCorrecaoEletro", "Eletro Ventilador: mS Ti", "ms", {32, 4, E::FanIncrement, R::Byte},
                     {24, 4, D::Fan}, 1));
    t.push_back(text("ePercEletro", "Eletro Ventilador: %  Atuador M. Lenta", "%", {32, 5, E::Integer, R::Byte},
                     {24, 5, D::Percent}));

    t.push_back(text("tpsMin", "TPS mínimo", "", {31, 5, E::TpsLimit}, {25, 5, D::TpsMin}));
    t.push_back(text("tpsMax", "TPS máximo", "", {31, 6, E::TpsLimit, R::TpsMax}, {25, 6, D::TpsMax}));
    return t;
}

} // namespace

const std::vector<Field> &all()
{
    static const std::vector<Field> table = build();
    return table;
}

int indexOf(const QString &name)
{
    static const QHash<QString, int> index = [] {
        QHash<QString, int> h;
        for (int i = 0; i < int(all().size()); ++i)
            h.insert(all()[std::size_t(i)].name, i);
        return h;
    }();
    return index.value(name, -1);
}

const Field *find(const QString &name)
{
    const int i = indexOf(name);
    return i < 0 ? nullptr : &all()[std::size_t(i)];
}

std::optional<int> codeOf(const Field &field, const QString &text)
{
    for (const Choice &c : field.choices)
        if (c.text == text)
            return c.code;
    return std::nullopt;
}

std::optional<QString> textOf(const Field &field, int code)
{
    for (const Choice &c : field.choices)
        if (c.code == code)
            return c.text;
    return std::nullopt;
}

QStringList choiceTexts(const Field &field)
{
    QStringList list;
    for (const Choice &c : field.choices)
        list << c.text;
    return list;
}

int firstTooth(int wheel) { return wheel == 0 ? 12 : wheel == 1 ? 8 : 0; }

QStringList toothList(int wheel)
{
    // 60-2: teeth 12 to 27; 36-1: 8 to 16; 2+2 or none selected: the list "0".
    const int count = wheel == 0 ? 16 : wheel == 1 ? 9 : 1;
    QStringList teeth;
    for (int i = 0; i < count; ++i)
        teeth << numtext::formatInt(firstTooth(wheel) + i);
    return teeth;
}

QString decodedText(Decode decode, std::uint8_t b)
{
    switch (decode) {
    case Decode::Whole: return numtext::formatFloat(QStringLiteral("0;-0;0"), b);
    case Decode::SignedWhole: return numtext::formatFloat(QStringLiteral("0;-0;0"), std::int8_t(b));
    case Decode::Tenths: return numtext::formatFloat(QStringLiteral("0.0;-0.0;0.0"), b / 10.0L);
    case Decode::Plain: return numtext::formatInt(b);
    case Decode::Times10: return numtext::formatInt(b * 10);
    case Decode::Times100: return numtext::formatInt(b * 100);
    case Decode::Fan: return numtext::formatFloat(QStringLiteral("0.0;-0.0"), b / 10.0L);
    case Decode::Percent: return numtext::formatFloat(QStringLiteral("0;-0;"), b);
    case Decode::ChargeTime: return numtext::formatFloat(QStringLiteral("#0.0"), b * 25 / 1000.0L);
    default: break;
    }
    return {};
}

std::vector<const Field *> readBackFields(int kind)
{
    std::vector<const Field *> list;
    for (int b = 0; b < 8; ++b)
        for (const Field &f : all())
            if (f.readBack.kind == kind && f.readBack.byte == b)
                list.push_back(&f);
    return list;
}

std::vector<const Field *> imageFields(int block)
{
    std::vector<const Field *> list;
    for (int b = 0; b < 8; ++b)
        for (const Field &f : all())
            if (f.image.block == block && f.image.byte == b && f.image.encoding != Encoding::CurvePoint)
                list.push_back(&f);
    return list;
}

} // namespace tunefields
