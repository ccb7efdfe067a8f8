#include "history/tunetext.h"

#include "common/controlnames.h"
#include "files/mapfilecodec.h"

#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

namespace tunetext {

namespace {

const QString ignitionTitle = QString::fromUtf8("ignição:");
const QString injectionTitle = QString::fromUtf8("injeção:");
constexpr int rows = 9;
constexpr int columns = 8;

// A value after "name = ": the backslash and the line ends escaped, and a blank at
// either end, so that nothing a text holds is lost to an editor or to the line split.
QString escapeValue(const QString &text)
{
    QString e;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c == u'\\')
            e += QStringLiteral("\\\\");
        else if (c == u'\n')
            e += QStringLiteral("\\n");
        else if (c == u'\r')
            e += QStringLiteral("\\r");
        else if (c == u'\t')
            e += QStringLiteral("\\t");
        else if (c == u' ' && (i == 0 || i == text.size() - 1))
            e += QStringLiteral("\\s");
        else
            e += c;
    }
    return e;
}

// A map cell: as a value, and every blank and bar escaped; an empty cell is "\-".
QString escapeCell(const QString &text)
{
    if (text.isEmpty())
        return QStringLiteral("\\-");
    QString e;
    for (const QChar c : text) {
        if (c == u' ')
            e += QStringLiteral("\\s");
        else if (c == u'|')
            e += QStringLiteral("\\|");
        else
            e += escapeValue(QString(c));
    }
    return e;
}

// Undoes both escapes; false for a backslash that starts none of them.
bool unescape(const QString &text, QString &out)
{
    out.clear();
    if (text == QLatin1String("\\-"))
        return true;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] != u'\\') {
            out += text[i];
            continue;
        }
        if (++i == text.size())
            return false;
        switch (text[i].unicode()) {
        case '\\': out += u'\\'; break;
        case 'n': out += u'\n'; break;
        case 'r': out += u'\r'; break;
        case 't': out += u'\t'; break;
        case 's': out += u' '; break;
        case '|': out += u'|'; break;
        default: return false;
        }
    }
    return true;
}

// The speed axis as the map page shows it for the set's scale.
QStringList speedCaptions(const Tune &tune)
{
    const QString scale = tune.texts.value(mapfile::fieldControls().indexOf(ctl::cbEscalaRpm));
    const int index =
        QStringList{QStringLiteral("6600"), QStringLiteral("8000"), QStringLiteral("9400")}.indexOf(scale);
    QStringList captions{QStringLiteral("500"), QStringLiteral("900")};
    for (int n = 1; n <= 7; ++n)
        captions << (index < 0 ? QStringLiteral("?") : QString::number(1000 + n * (200 * index + 800)));
    return captions;
}

// The load axis as the map page shows it for the set's map combination.
QStringList loadCaptions(const Tune &tune)
{
    const QString combination = tune.texts.value(0);
    if (combination == QLatin1String("TPS X RPM"))
        return {"TPS 0 %", "14", "28", "42", "56", "70", "84", "100 %"};
    if (combination == QLatin1String("MAP X RPM"))
        return {"MAP -820", "-720", "-600", "-480", "-370", "-250", "-130", "0 mbar"};
    return {"1", "2", "3", "4", "5", "6", "7", "8"};
}

QString mapTable(const Tune &tune, int firstIndex)
{
    QStringList cells;
    for (int k = 0; k < rows * columns; ++k)
        cells << escapeCell(tune.texts.value(firstIndex + k));
    const QStringList speeds = speedCaptions(tune), loads = loadCaptions(tune);
    qsizetype width = 0, captionWidth = 3;
    for (const QString &c : cells + loads)
        width = std::max(width, c.size());
    for (const QString &s : speeds)
        captionWidth = std::max(captionWidth, s.size());
    QString text = QStringLiteral("%1 |").arg(QStringLiteral("RPM"), int(captionWidth));
    for (const QString &l : loads)
        text += QStringLiteral(" %1 |").arg(l, int(width));
    text.chop(2);
    text += u'\n';
    for (int r = 0; r < rows; ++r) {
        QString line = QStringLiteral("%1 |").arg(speeds.at(r), int(captionWidth));
        for (int c = 0; c < columns; ++c)
            line += QStringLiteral(" %1 |").arg(cells.at(r * columns + c), int(width));
        line.chop(2);
        text += line + u'\n';
    }
    return text;
}

[[noreturn]] void refuse(int line, const QString &why)
{
    throw ParseError(QStringLiteral("linha %1: %2").arg(line).arg(why).toStdString());
}

// Without the blanks at either end (only blanks: any other character is a cell's own).
QString trimBlanks(const QString &text)
{
    qsizetype from = 0, to = text.size();
    while (from < to && text[from] == u' ')
        ++from;
    while (to > from && text[to - 1] == u' ')
        --to;
    return text.mid(from, to - from);
}

// Splits a row at the bars that no backslash escapes.
QStringList splitRow(const QString &line)
{
    QStringList pieces{QString()};
    for (qsizetype i = 0; i < line.size(); ++i) {
        if (line[i] == u'\\' && i + 1 < line.size()) {
            pieces.last() += line[i];
            pieces.last() += line[++i];
        } else if (line[i] == u'|') {
            pieces << QString();
        } else {
            pieces.last() += line[i];
        }
    }
    return pieces;
}

} // namespace

QByteArray write(const Tune &tune)
{
    const QStringList &controls = mapfile::fieldControls();
    const auto field = [&](const QString &name, const QString &value) {
        const QString e = escapeValue(value);
        return e.isEmpty() ? name + QStringLiteral(" =\n") : name + QStringLiteral(" = ") + e + u'\n';
    };
    QString text = QString::fromUtf8("# Ajuste Velto: um campo por linha; cada mapa em 9 linhas (RPM) de 8 colunas "
                                     "(carga).\n");
    const int cells = mapfile::firstCellField - 1;
    for (int i = 0; i < cells; ++i)
        text += field(controls[i], tune.texts.value(i));
    text += u'\n' + ignitionTitle + u'\n' + mapTable(tune, cells);
    text += u'\n' + injectionTitle + u'\n' + mapTable(tune, cells + mapfile::cellsPerMap);
    text += u'\n';
    for (int i = cells + 2 * mapfile::cellsPerMap; i < controls.size(); ++i)
        text += field(controls[i], tune.texts.value(i));
    text += field(QStringLiteral("tpsMin"), QString::number(tune.tpsMin));
    text += field(QStringLiteral("tpsMax"), QString::number(tune.tpsMax));
    return text.toUtf8();
}

Tune parse(const QByteArray &bytes)
{
    const QString all = QString::fromUtf8(bytes);
    if (all.toUtf8() != bytes)
        refuse(1, QStringLiteral("o texto não é UTF-8"));
    const QStringList lines = all.split(u'\n');
    const QStringList &controls = mapfile::fieldControls();
    QHash<QString, int> index; // field name -> index in texts; the TPS limits 200, 201
    for (int i = 0; i < controls.size(); ++i)
        if (!mapfile::isCellField(i + 1))
            index.insert(controls[i], i);
    index.insert(QStringLiteral("tpsMin"), 200);
    index.insert(QStringLiteral("tpsMax"), 201);

    Tune tune;
    tune.texts = QStringList(controls.size(), QString());
    QSet<QString> seen;
    int tpsMin = 0, tpsMax = 0;
    for (int n = 0; n < lines.size(); ++n) {
        const int lineNo = n + 1;
        const QString &line = lines[n];
        if (line.isEmpty() || line.startsWith(u'#'))
            continue;
        if (line == ignitionTitle || line == injectionTitle) {
            const bool ignition = line == ignitionTitle;
            const QString name = ignition ? QStringLiteral("ignição") : QStringLiteral("injeção");
            if (seen.contains(name))
                refuse(lineNo, QStringLiteral("o mapa de %1 aparece duas vezes").arg(name));
            seen.insert(name);
            const int first = mapfile::firstCellField - 1 + (ignition ? 0 : mapfile::cellsPerMap);
            ++n; // the axis line
            for (int r = 0; r < rows; ++r) {
                ++n;
                if (n >= lines.size() || lines[n].isEmpty())
                    refuse(n + 1, QStringLiteral("o mapa de %1 tem %2 linhas em vez de 9").arg(name).arg(r));
                const QStringList pieces = splitRow(lines[n]);
                if (pieces.size() != columns + 1)
                    refuse(n + 1, QStringLiteral("a linha do mapa tem %1 células em vez de 8").arg(pieces.size() - 1));
                for (int c = 0; c < columns; ++c) {
                    QString cell;
                    if (!unescape(trimBlanks(pieces[c + 1]), cell))
                        refuse(n + 1, QStringLiteral("a célula %1 tem um \\ que não é de escape").arg(c + 1));
                    tune.texts[first + r * columns + c] = cell;
                }
            }
            continue;
        }
        qsizetype eq = line.indexOf(QLatin1String(" = "));
        const bool empty = eq < 0 && line.endsWith(QLatin1String(" ="));
        if (empty)
            eq = line.size() - 2;
        if (eq < 0)
            refuse(lineNo, QStringLiteral("falta \" = \" entre o nome e o valor"));
        const QString name = line.left(eq);
        if (!index.contains(name))
            refuse(lineNo, QStringLiteral("campo desconhecido: %1").arg(name));
        if (seen.contains(name))
            refuse(lineNo, QStringLiteral("o campo %1 aparece duas vezes").arg(name));
        seen.insert(name);
        QString value;
        if (!empty && !unescape(line.mid(eq + 3), value))
            refuse(lineNo, QStringLiteral("o valor de %1 tem um \\ que não é de escape").arg(name));
        const int i = index.value(name);
        if (i >= 200) {
            bool ok = false;
            const int v = value.toInt(&ok);
            if (!ok || QString::number(v) != value)
                refuse(lineNo, QStringLiteral("%1 não é um número inteiro: %2").arg(name, value));
            (i == 200 ? tpsMin : tpsMax) = v;
        } else {
            tune.texts[i] = value;
        }
    }
    if (seen.size() != index.size() + 2) {
        QStringList missing;
        for (const QString &name : index.keys() + QStringList{QStringLiteral("ignição"), QStringLiteral("injeção")})
            if (!seen.contains(name))
                missing << name;
        missing.sort();
        refuse(lines.size(), QStringLiteral("faltam campos: %1").arg(missing.join(QStringLiteral(", "))));
    }
    tune.tpsMin = tpsMin;
    tune.tpsMax = tpsMax;
    return tune;
}

} // namespace tunetext
