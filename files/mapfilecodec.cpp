#include "files/mapfilecodec.h"

#include "common/tunefields.h"

namespace mapfile {

const QStringList &fieldControls()
{
    static const QStringList list = [] {
        QStringList l;
        for (const tunefields::Field &f : tunefields::all())
            if (l.size() < fieldCount - 2)
                l << f.name;
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

QString fieldControl(int field)
{
    if (field < 1 || field > fieldCount)
        return {};
    return tunefields::all()[std::size_t(field - 1)].name;
}

QString fieldLabel(int field)
{
    if (field < 1 || field > fieldCount)
        return {};
    return tunefields::all()[std::size_t(field - 1)].caption;
}

} // namespace mapfile
