#include "datalog/logformat.h"

#include "common/numtext.h"
#include "common/systemerror.h"

#include <QFile>
#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace logformat {

namespace {

// Channel order in the file; the values are taken from LiveValues.
enum Channel {
    Time,
    Rpm,
    Advance,
    Ti,
    Opening,
    Tps,
    TpsVolts,
    Temperature,
    ColumnMap,
    ColumnTps,
    Load,
    SpeedRow,
    Cell,
    IdleActuator,
    Probe,
    Pressure,
    CorrShort,
    CorrLong,
    CorrTemp,
    CorrAtm,
    CorrAdvance,
    Pump,
    Fan,
    Air,
    ChannelCount
};

void appendInt(QByteArray &out, std::int64_t v)
{
    char buf[24];
    const auto r = std::to_chars(buf, buf + sizeof buf, v);
    out.append(buf, r.ptr - buf);
}

// A whole number of 10^-decimals units with its point ("12.345", "-0.5").
void appendFixed(QByteArray &out, std::int64_t units, int decimals)
{
    std::int64_t scale = 1;
    for (int i = 0; i < decimals; ++i)
        scale *= 10;
    if (units < 0) {
        out.append('-');
        units = -units;
    }
    appendInt(out, units / scale);
    out.append('.');
    char buf[24];
    std::int64_t frac = units % scale;
    for (int i = decimals - 1; i >= 0; --i) {
        buf[i] = char('0' + frac % 10);
        frac /= 10;
    }
    out.append(buf, decimals);
}

// Two decimals rounded as the read-outs round (half away from zero).
void appendTwoDecimals(QByteArray &out, long double v)
{
    QByteArray t = numtext::formatFloat(QStringLiteral("0.00"), v).toLatin1();
    t.replace(',', '.');
    out.append(t);
}

// Blanks around a field ("  1000 ") are no part of it.
bool blank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

std::optional<double> number(const char *b, const char *e)
{
    double v = 0;
    while (b != e && b[0] == ' ')
        ++b;
    while (e != b && e[-1] == ' ')
        --e;
    if (b != e && *b == '+')
        ++b;
    const auto r = std::from_chars(b, e, v);
    if (r.ec != std::errc() || r.ptr != e || !std::isfinite(v))
        return std::nullopt;
    return v;
}

bool fitsInt(double v) { return v > -2147483648.0 && v < 2147483647.0; }

} // namespace

const QStringList &channels()
{
    static const QStringList c{"Time",     "RPM",         "Avanco",     "Ti",         "Abertura",  "TPS",
                               "TPSV",     "Temperatura", "ColunaMAP",  "ColunaTPS",  "Carga",     "LinhaRPM",
                               "Celula",   "AtuadorML",   "Sonda",      "PressaoAtm", "CorrCurto", "CorrLongo",
                               "CorrTemp", "CorrAtm",     "CorrAvanco", "Bomba",      "Eletro",    "Ar"};
    return c;
}

const QStringList &units()
{
    static const QStringList u{"s",    "rpm", "deg", "ms",   "%", "adc", "V", "C", "raw", "raw",    "pos",    "pos",
                               "cell", "%",   "mV",  "mbar", "%", "%",   "%", "%", "deg", "on/off", "on/off", "on/off"};
    return u;
}

QByteArray perSampleLine() { return "\"Rows: one per sample\"\n"; }

QByteArray moduleSetUnknownLine()
{
    return QString::fromUtf8("\"Mapa do módulo: desconhecido (o módulo não pôde ser lido; nenhum mapa foi gravado ao "
                             "lado)\"\n")
        .toUtf8();
}

QByteArray historyEntryLine(const QString &entry)
{
    return QStringLiteral("\"Entrada do histórico: %1\"\n").arg(entry).toUtf8();
}

namespace {

const QByteArray historyEntryStart = QStringLiteral("\"Entrada do histórico: ").toUtf8();

// The hash of a "Entrada do histórico" line; empty for any other line.
QString historyEntryIn(QByteArrayView line)
{
    if (!line.startsWith(historyEntryStart) || !line.endsWith('"'))
        return {};
    const QByteArrayView hash =
        line.sliced(historyEntryStart.size(), line.size() - historyEntryStart.size() - 1).trimmed();
    if (hash.isEmpty() || hash.size() > 64 ||
        !std::all_of(hash.begin(), hash.end(), [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); }))
        return {};
    return QString::fromLatin1(hash);
}

} // namespace

QString historyEntryOf(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    // The header is a few short lines; the names row ends the search.
    for (int n = 0; n < 8 && !f.atEnd(); ++n) {
        const QByteArray line = f.readLine(4096).trimmed();
        const QString entry = historyEntryIn(line);
        if (!entry.isEmpty())
            return entry;
        if (line.contains('\t'))
            break;
    }
    return {};
}

QByteArray header(const QString &version, const QString &captureDate, bool moduleSetUnknown,
                  const QString &historyEntry)
{
    QByteArray h;
    h += "\"Velto " + version.toUtf8() + "\"\n";
    h += "\"Capture Date: " + captureDate.toUtf8() + "\"\n";
    h += perSampleLine();
    if (moduleSetUnknown)
        h += moduleSetUnknownLine();
    if (!historyEntry.isEmpty())
        h += historyEntryLine(historyEntry);
    h += channels().join('\t').toUtf8() + '\n';
    h += units().join('\t').toUtf8() + '\n';
    return h;
}

QByteArray seconds(std::int64_t ms)
{
    QByteArray out;
    appendFixed(out, ms, 3);
    return out;
}

QByteArray row(std::int64_t ms, const LiveValues &v)
{
    QByteArray out;
    out.reserve(128);
    appendFixed(out, ms, 3);
    auto field = [&out](std::int64_t n) {
        out.append('\t');
        appendInt(out, n);
    };
    field(v.rpm);
    field(v.advance);
    out.append('\t');
    appendFixed(out, v.injectionTenths, 1);
    out.append('\t');
    appendTwoDecimals(out, v.opening());
    field(v.tpsReading);
    out.append('\t');
    appendTwoDecimals(out, v.tpsVolts());
    field(v.temperature);
    field(v.columnMap);
    field(v.columnTps);
    field(v.loadPosition);
    field(v.speedPosition);
    field(v.markedCell);
    field(v.idleActuator);
    field(v.probeMv);
    field(v.pressure);
    field(v.correctionShort);
    field(v.correctionLong);
    field(v.correctionTemperature);
    field(v.correctionAtmosphere);
    field(v.correctionAdvance);
    field(v.pump);
    field(v.fan);
    field(v.airConditioning);
    out.append('\n');
    return out;
}

QByteArray marker(int number, const QString &text, std::int64_t ms)
{
    QByteArray out = "MARK ";
    out += QByteArray::number(number).rightJustified(3, '0');
    out += " - ";
    // A marker is one line: line ends and tabs in its text become blanks.
    QByteArray t = text.toUtf8();
    for (char &c : t)
        if (c == '\n' || c == '\r' || c == '\t')
            c = ' ';
    out += t + " - " + seconds(ms) + '\n';
    return out;
}

namespace {

// One line of the file, without its line end.
struct Line {
    const char *b = nullptr, *e = nullptr;
    int number = 0;        // 1-based
    bool complete = false; // ended by a line feed
    bool startsWith(const char *prefix) const
    {
        const std::size_t n = std::strlen(prefix);
        return std::size_t(e - b) >= n && std::memcmp(b, prefix, n) == 0;
    }
};

// The names row: the line among the first ones that holds channel names.
constexpr int namesWithin = 16;
// A names row of more fields is refused: a row is read no further than the names
// row's fields, so a line of nothing but separators costs no memory.
constexpr int namesAtMost = 1024;
// A time from here on (seconds) is a clock time (seconds since 1970, say), not one
// since the recording began: the rows' times are then taken from the first row's.
constexpr double clockTimeFrom = 1e6;

QByteArrayView trimmedName(QByteArrayView name)
{
    name = name.trimmed();
    if (name.size() >= 2 && name.front() == '"' && name.back() == '"')
        name = name.sliced(1, name.size() - 2).trimmed();
    return name;
}

// Whether a field of the text between the separators is one that `is` takes; the
// header lines are looked at in place, for most files are refused on them.
template <typename Is> bool anyField(QByteArrayView text, char separator, Is &&is)
{
    for (;;) {
        const qsizetype end = text.indexOf(separator);
        if (is(text.first(end < 0 ? text.size() : end)))
            return true;
        if (end < 0)
            return false;
        text = text.sliced(end + 1);
    }
}

QString joinedNames(const QStringList &names)
{
    return names.size() == 1 ? QString::fromUtf8("o canal %1").arg(names.front())
                             : QString::fromUtf8("os canais %1").arg(names.join(QStringLiteral(", ")));
}

// Reads a log in steps: the lines before the names row, the names row, the units row,
// then rows and markers; a line that does not parse is counted, never fatal.
class Parser {
public:
    Parser(const QByteArray &bytes, const QString &path)
        : p_(bytes.constData()),
          end_(bytes.constData() + bytes.size()),
          path_(path)
    {
        column_.fill(-1);
        fields_.reserve(32);
    }

    Log run()
    {
        Line line;
        while (nextLine(line)) {
            if (fieldCount_ > 0 && std::all_of(line.b, line.e, blank))
                continue; // a blank line between rows says nothing
            if (fieldCount_ == 0)
                headerLine(line);
            else if (!line.complete)
                bad(line, [] { return QString::fromUtf8("linha incompleta"); });
            else if (line.startsWith("MARK "))
                markerLine(line);
            else
                rowLine(line);
        }
        return finish();
    }

private:
    bool nextLine(Line &line)
    {
        if (p_ >= end_)
            return false;
        const char *nl = static_cast<const char *>(std::memchr(p_, '\n', std::size_t(end_ - p_)));
        line.complete = nl != nullptr;
        line.b = p_;
        line.e = line.complete ? nl : end_;
        p_ = line.complete ? nl + 1 : end_;
        if (line.e > line.b && line.e[-1] == '\r')
            --line.e;
        line.number = ++lineNo_;
        return true;
    }

    // Only the first bad line's reason is kept: the others' are never written out (a
    // torn or foreign file can have thousands).
    template <typename Why> void bad(const Line &line, Why &&why)
    {
        if (log_.badLines++ == 0) {
            log_.firstBadLine = line.number;
            log_.firstBadReason = why();
        }
    }

    [[noreturn]] void refuse(const QString &why) const
    {
        throw LogRefused(QString::fromUtf8("O registro %1 %2. Nada foi aberto.").arg(path_, why));
    }

    // Before the names row: header lines, which say nothing Velto needs but whether
    // the rows are one per sample.
    void headerLine(const Line &line)
    {
        const QByteArrayView text(line.b, line.e - line.b);
        static const QByteArray perSample = perSampleLine().trimmed();
        static const QByteArray setUnknown = moduleSetUnknownLine().trimmed();
        if (text == perSample)
            log_.rowPerSample = true;
        if (text == setUnknown)
            log_.moduleSetUnknown = true;
        if (const QString entry = historyEntryIn(text); !entry.isEmpty())
            log_.historyEntry = entry;
        // The names row holds channel names; Time among them or not (then it is refused).
        // The names are ASCII: bytes beyond it match none, read as Latin-1 or as UTF-8.
        const auto isChannel = [](QByteArrayView n) { return channels().contains(QLatin1StringView(trimmedName(n))); };
        if (anyField(text, '\t', isChannel)) {
            if (text.count('\t') >= namesAtMost)
                refuse(QString::fromUtf8("tem mais de %1 campos na linha dos canais (linha %2)")
                           .arg(namesAtMost)
                           .arg(line.number));
            namesRow(text.toByteArray().split('\t'));
            return;
        }
        for (char separator : {';', ','})
            if (anyField(text, separator, [](QByteArrayView n) { return trimmedName(n) == "Time"; }))
                refuse(QString::fromUtf8("separa os campos com \"%1\" na linha %2 (Velto lê campos separados por "
                                         "tabulação)")
                           .arg(QLatin1Char(separator))
                           .arg(line.number));
        if (line.number >= namesWithin || !line.complete)
            refuse(QString::fromUtf8("não tem a linha dos canais (Time ...)"));
    }

    // Channels are taken by name, in any order; those missing are filled as not available.
    void namesRow(QList<QByteArray> names)
    {
        // Separators at the end of the row name nothing.
        while (names.size() > 1 && names.back().trimmed().isEmpty())
            names.removeLast();
        fieldCount_ = int(names.size());
        for (int i = fieldCount_ - 1; i >= 0; --i) {
            const int c = int(channels().indexOf(QString::fromUtf8(trimmedName(names[i]))));
            if (c >= 0)
                column_[std::size_t(c)] = i; // the first of two equal names wins
        }
        QStringList missing;
        bool anyShown = false;
        for (int c = 0; c < ChannelCount; ++c) {
            const bool held = column_[std::size_t(c)] >= 0 || derivable(c);
            if (!held)
                missing << channels()[c];
            else if (c != Time)
                anyShown = true;
        }
        if (column_[Time] < 0 || !anyShown)
            refuse(QString::fromUtf8("não pode ser reproduzido: falta%1 %2")
                       .arg(missing.size() == 1 ? QString() : QStringLiteral("m"), joinedNames(missing)));
        log_.absent = missing;
        expectUnits_ = true;
    }

    // A channel the file does not hold that follows from others it holds.
    bool derivable(int c) const
    {
        auto held = [this](int k) { return column_[std::size_t(k)] >= 0; };
        switch (c) {
        case Opening: return held(Rpm) && held(Ti);
        case TpsVolts: return held(Tps);
        case Cell: return held(Load) && held(SpeedRow);
        default: return false;
        }
    }

    void markerLine(const Line &line)
    {
        const QByteArray text(line.b, line.e - line.b);
        const int first = int(text.indexOf(" - "));
        const int last = int(text.lastIndexOf(" - "));
        bool okNumber = false, okTime = false;
        Marker m;
        if (first > 5 && last > first) {
            m.number = text.mid(5, first - 5).toInt(&okNumber);
            const auto t = number(line.b + last + 3, line.e);
            okTime = t.has_value() && *t >= 0 && *t < 1e9;
            if (okTime)
                m.ms = std::llround(*t * 1000);
            m.text = QString::fromUtf8(text.mid(first + 3, last - first - 3));
        }
        if (!okNumber || !okTime) {
            bad(line, [] { return QString::fromUtf8("marcador ilegível"); });
            return;
        }
        m.row = log_.rows.size();
        log_.markers.push_back(m);
    }

    // The fields of a line, each as [fields_[i], end of field i).
    const char *fieldEnd(std::size_t i, const char *lineEnd) const
    {
        return i + 1 < fields_.size() ? fields_[i + 1] - 1 : lineEnd;
    }

    void rowLine(const Line &line)
    {
        // Split no further than one field past the names row: what follows the last
        // field may be separators and blanks only (a trailing tab), else the row has
        // fields that no name stands for.
        fields_.clear();
        fields_.push_back(line.b);
        const char *q = line.b;
        for (; q < line.e && int(fields_.size()) <= fieldCount_; ++q)
            if (*q == '\t')
                fields_.push_back(q + 1);
        const char *rowEnd = line.e;
        if (int(fields_.size()) > fieldCount_) {
            const char *extra = fields_.back();
            if (std::all_of(extra - 1, line.e, blank)) {
                fields_.pop_back();
                rowEnd = extra - 1;
            }
        }
        if (expectUnits_) {
            // The units row follows the names; a file without one starts with a row.
            expectUnits_ = false;
            const std::size_t t = std::size_t(column_[Time]);
            if (t >= fields_.size() ||
                std::none_of(fields_[t], fieldEnd(t, rowEnd), [](char c) { return c >= '0' && c <= '9'; }))
                return;
        }
        if (int(fields_.size()) != fieldCount_) {
            const bool more = int(fields_.size()) > fieldCount_;
            bad(line, [this, more] {
                return more ? QString::fromUtf8("mais de %1 campos").arg(fieldCount_)
                            : QString::fromUtf8("%1 campos em vez de %2").arg(fields_.size()).arg(fieldCount_);
            });
            return;
        }
        std::array<double, ChannelCount> val{};
        std::uint32_t empty = 0;
        if (const auto fault = rowValues(rowEnd, val, empty)) {
            bad(line, [&] { return faultText(*fault); });
            return;
        }
        Row r;
        double t = val[Time];
        if (log_.rows.empty() && rawTimes_ == 0 && t >= clockTimeFrom)
            timeBase_ = t; // a clock time: the rows count from the first
        t -= timeBase_;
        if (!fitsInt(t * 1000)) {
            bad(line, [] { return QString::fromUtf8("número inválido em Time"); });
            return;
        }
        const std::int64_t raw = std::llround(t * 1000);
        std::int64_t offset = segmentOffset_;
        if (!log_.rows.empty() && raw + offset < log_.rows.back().ms) {
            // The time began again (a logger restarted): a new stretch, right after
            // the last row, one step later.
            offset = log_.rows.back().ms + lastStep_ - raw;
        }
        // Stretches that carry the time past what a row's Time holds: the row could
        // not be written again as it reads, so it is not taken.
        if (!fitsInt(double(raw + offset))) {
            bad(line, [] { return QString::fromUtf8("número inválido em Time"); });
            return;
        }
        ++rawTimes_;
        segmentOffset_ = offset;
        r.ms = raw + offset;
        if (!log_.rows.empty() && r.ms > log_.rows.back().ms)
            lastStep_ = r.ms - log_.rows.back().ms;
        r.values = liveValues(val);
        r.empty = empty;
        log_.rows.push_back(r);
    }

    // Why a row's numbers were not taken: a channel that is no number (or holds a
    // decimal comma), or a negative time (channel -1).
    struct RowFault {
        int channel = -1;
        bool comma = false;
    };
    static QString faultText(const RowFault &f)
    {
        if (f.channel < 0)
            return QString::fromUtf8("tempo negativo");
        return QString::fromUtf8(f.comma ? "vírgula decimal em %1" : "número inválido em %1")
            .arg(channels()[f.channel]);
    }

    // The numbers of the channels held; what is wrong when one is not a number.
    // An empty field (blanks only) of a channel other than Time is an absent value:
    // its bit is set in empty and its value is 0.
    std::optional<RowFault> rowValues(const char *rowEnd, std::array<double, ChannelCount> &val,
                                      std::uint32_t &empty) const
    {
        for (int c = 0; c < ChannelCount; ++c) {
            if (column_[std::size_t(c)] < 0)
                continue;
            const std::size_t i = std::size_t(column_[std::size_t(c)]);
            const char *fb = fields_[i];
            const char *fe = fieldEnd(i, rowEnd);
            if (c != Time && std::all_of(fb, fe, blank)) {
                empty |= 1u << c;
                continue;
            }
            const auto v = number(fb, fe);
            if (!v || (c != Time && !fitsInt(*v * 10)))
                return RowFault{c, std::find(fb, fe, ',') != fe};
            val[std::size_t(c)] = *v;
        }
        if (val[Time] < 0)
            return RowFault{};
        return std::nullopt;
    }

    LiveValues liveValues(const std::array<double, ChannelCount> &val) const
    {
        auto whole = [&val](int c) { return int(std::lround(val[std::size_t(c)])); };
        LiveValues v;
        v.rpm = whole(Rpm);
        v.advance = whole(Advance);
        v.injectionTenths = int(std::lround(val[Ti] * 10));
        v.tpsReading = whole(Tps);
        v.temperature = whole(Temperature);
        v.columnMap = whole(ColumnMap);
        v.columnTps = whole(ColumnTps);
        v.loadPosition = whole(Load);
        v.speedPosition = whole(SpeedRow);
        v.idleActuator = whole(IdleActuator);
        v.probeMv = whole(Probe);
        v.pressure = whole(Pressure);
        v.correctionShort = whole(CorrShort);
        v.correctionLong = whole(CorrLong);
        v.correctionTemperature = whole(CorrTemp);
        v.correctionAtmosphere = whole(CorrAtm);
        v.correctionAdvance = whole(CorrAdvance);
        v.pump = whole(Pump) != 0;
        v.fan = whole(Fan) != 0;
        v.airConditioning = whole(Air) != 0;
        v.markedCell = column_[Cell] >= 0 ? whole(Cell) : -1;
        return v;
    }

    Log finish()
    {
        if (fieldCount_ == 0)
            refuse(QString::fromUtf8("não tem a linha dos canais (Time ...)"));
        if (log_.rows.empty())
            refuse(log_.badLines == 0
                       ? QString::fromUtf8("não tem nenhuma linha de dados que possa ser lida")
                       : QString::fromUtf8("não tem nenhuma linha de dados que possa ser lida: a primeira, a linha %1, "
                                           "não pôde ser lida (%2)")
                             .arg(log_.firstBadLine)
                             .arg(log_.firstBadReason));
        for (Marker &m : log_.markers)
            m.row = std::min(m.row, log_.rows.size() - 1);
        return std::move(log_);
    }

    const char *p_;
    const char *const end_;
    const QString &path_;
    Log log_;
    int lineNo_ = 0;
    int fieldCount_ = 0; // 0 until the names row
    bool expectUnits_ = false;
    std::array<int, ChannelCount> column_;
    std::vector<const char *> fields_;
    double timeBase_ = 0;            // subtracted from every time (a clock time's first row)
    int rawTimes_ = 0;               // rows whose time was read
    std::int64_t segmentOffset_ = 0; // added to the times after a time reset
    std::int64_t lastStep_ = 0;      // ms between the last two rows apart
};

} // namespace

Log parse(const QByteArray &bytes, const QString &path)
{
    try {
        return Parser(bytes, path).run();
    } catch (const std::bad_alloc &) {
        throw LogRefused(QString::fromUtf8("O registro %1 não pôde ser lido: %2. Nada foi aberto.")
                             .arg(path, systemerror::text(ENOMEM)));
    }
}

Log read(const QString &path)
{
    // Opened here rather than by QFile, whose error texts are English: the message
    // names the system's error in Portuguese.
    int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    struct stat st;
    if (fd >= 0 && ::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
        ::close(fd);
        fd = -1;
        errno = EISDIR;
    }
    if (fd < 0)
        throw LogRefused(
            QString::fromUtf8("O registro %1 não pôde ser aberto: %2").arg(path, systemerror::text(errno)));
    QFile f;
    f.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle);
    const qint64 size = f.size();
    if (size > 0) {
        if (uchar *m = f.map(0, size)) {
            const Log log = parse(QByteArray::fromRawData(reinterpret_cast<const char *>(m), size), path);
            f.unmap(m);
            return log;
        }
    }
    return parse(f.readAll(), path);
}

} // namespace logformat
