#include "datalog/logformat.h"

#include "common/numtext.h"
#include "common/systemerror.h"

#include <QFile>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <array>
#include <charconv>
#include <cmath>
#include <cstring>
#include <optional>

namespace logformat {

namespace {

// Channel order in the file; the values are taken from LiveValues.
enum Channel {
    Time, Rpm, Advance, Ti, Opening, Tps, TpsVolts, Temperature, ColumnMap, ColumnTps, Load, SpeedRow, Cell,
    IdleActuator, Probe, Pressure, CorrShort, CorrLong, CorrTemp, CorrAtm, CorrAdvance, Pump, Fan, Air, ChannelCount
};

// Channels a log needs to be played; the others follow from them.
bool derived(int c) { return c == Opening || c == TpsVolts || c == Cell; }

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

QString lineError(const char *what) { return QString::fromUtf8(what); }

std::optional<double> number(const char *b, const char *e)
{
    double v = 0;
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
    static const QStringList c{"Time",       "RPM",       "Avanco",    "Ti",        "Abertura",   "TPS",
                               "TPSV",       "Temperatura", "ColunaMAP", "ColunaTPS", "Carga",     "LinhaRPM",
                               "Celula",     "AtuadorML", "Sonda",     "PressaoAtm", "CorrCurto", "CorrLongo",
                               "CorrTemp",   "CorrAtm",   "CorrAvanco", "Bomba",     "Eletro",     "Ar"};
    return c;
}

const QStringList &units()
{
    static const QStringList u{"s",   "rpm", "deg", "ms", "%", "adc", "V", "C", "raw", "raw", "pos", "pos",
                               "cell", "%",  "mV",  "mbar", "%", "%", "%", "%", "deg", "on/off", "on/off", "on/off"};
    return u;
}

QByteArray header(const QString &version, const QString &captureDate)
{
    QByteArray h;
    h += "\"Velto " + version.toUtf8() + "\"\n";
    h += "\"Capture Date: " + captureDate.toUtf8() + "\"\n";
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
    appendTwoDecimals(out, v.tpsReading * 5 / 1023.0L);
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

Log parse(const QByteArray &bytes, const QString &path)
{
    Log log;
    const char *p = bytes.constData();
    const char *const end = p + bytes.size();
    int lineNo = 0;
    std::array<int, ChannelCount> column;
    column.fill(-1);
    int fieldCount = 0;
    bool haveNames = false, skipUnits = false;

    auto bad = [&log, &lineNo](const QString &why) {
        if (log.badLines++ == 0) {
            log.firstBadLine = lineNo;
            log.firstBadReason = why;
        }
    };

    std::vector<const char *> fields;
    fields.reserve(32);
    while (p < end) {
        ++lineNo;
        const char *nl = static_cast<const char *>(std::memchr(p, '\n', std::size_t(end - p)));
        const bool complete = nl != nullptr;
        const char *lineEnd = complete ? nl : end;
        const char *next = complete ? nl + 1 : end;
        const char *e = lineEnd;
        if (e > p && e[-1] == '\r')
            --e;
        const char *b = p;
        p = next;

        if (!haveNames) {
            // The header lines come first; the channel names start with "Time".
            if (e - b >= 5 && std::memcmp(b, "Time\t", 5) == 0) {
                const QList<QByteArray> names = QByteArray(b, e - b).split('\t');
                fieldCount = int(names.size());
                for (int c = 0; c < ChannelCount; ++c)
                    column[c] = int(names.indexOf(channels()[c].toUtf8()));
                for (int c = 0; c < ChannelCount; ++c)
                    if (column[c] < 0 && !derived(c))
                        throw LogRefused(QString::fromUtf8("O registro %1 não tem o canal %2. Nada foi aberto.")
                                             .arg(path, channels()[c]));
                haveNames = true;
                skipUnits = true;
            } else if (lineNo >= 16) {
                throw LogRefused(QString::fromUtf8("O registro %1 não tem a linha dos canais (Time ...). Nada foi aberto.")
                                     .arg(path));
            }
            continue;
        }
        if (!complete) {
            bad(lineError("linha incompleta"));
            break;
        }
        if (skipUnits) {
            skipUnits = false;
            continue;
        }
        if (e - b >= 5 && std::memcmp(b, "MARK ", 5) == 0) {
            const QByteArray line(b, e - b);
            const int first = int(line.indexOf(" - "));
            const int last = int(line.lastIndexOf(" - "));
            bool okNumber = false, okTime = false;
            Marker m;
            if (first > 5 && last > first) {
                m.number = line.mid(5, first - 5).toInt(&okNumber);
                const auto t = number(b + last + 3, e);
                okTime = t.has_value() && *t >= 0 && *t < 1e9;
                if (okTime)
                    m.ms = std::llround(*t * 1000);
                m.text = QString::fromUtf8(line.mid(first + 3, last - first - 3));
            }
            if (!okNumber || !okTime) {
                bad(lineError("marcador ilegível"));
                continue;
            }
            m.row = log.rows.size();
            log.markers.push_back(m);
            continue;
        }

        fields.clear();
        fields.push_back(b);
        for (const char *q = b; q < e; ++q)
            if (*q == '\t')
                fields.push_back(q + 1);
        if (int(fields.size()) != fieldCount) {
            bad(QString::fromUtf8("%1 campos em vez de %2").arg(fields.size()).arg(fieldCount));
            continue;
        }
        std::array<double, ChannelCount> val{};
        QString why;
        for (int c = 0; c < ChannelCount && why.isEmpty(); ++c) {
            if (column[c] < 0)
                continue;
            const std::size_t i = std::size_t(column[c]);
            const char *fb = fields[i];
            const char *fe = i + 1 < fields.size() ? fields[i + 1] - 1 : e;
            const auto v = number(fb, fe);
            if (!v || !fitsInt(*v * (c == Time ? 1000 : 10)))
                why = QString::fromUtf8("número inválido em %1").arg(channels()[c]);
            else
                val[std::size_t(c)] = *v;
        }
        if (why.isEmpty() && val[Time] < 0)
            why = QString::fromUtf8("tempo negativo");
        Row r;
        r.ms = std::llround(val[Time] * 1000);
        if (why.isEmpty() && !log.rows.empty() && r.ms < log.rows.back().ms)
            why = QString::fromUtf8("tempo fora de ordem");
        if (!why.isEmpty()) {
            bad(why);
            continue;
        }
        auto whole = [&val](int c) { return int(std::lround(val[std::size_t(c)])); };
        LiveValues &v = r.values;
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
        v.markedCell = column[Cell] >= 0 ? whole(Cell) : -1;
        log.rows.push_back(r);
    }
    if (!haveNames)
        throw LogRefused(
            QString::fromUtf8("O registro %1 não tem a linha dos canais (Time ...). Nada foi aberto.").arg(path));
    if (log.rows.empty())
        throw LogRefused(
            QString::fromUtf8("O registro %1 não tem nenhuma linha de dados que possa ser lida. Nada foi aberto.")
                .arg(path));
    for (Marker &m : log.markers)
        if (m.row >= log.rows.size())
            m.row = log.rows.size() - 1;
    return log;
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
        throw LogRefused(QString::fromUtf8("O registro %1 não pôde ser aberto: %2").arg(path, systemerror::text(errno)));
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
