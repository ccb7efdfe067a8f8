#pragma once
// Helpers shared by the receive-side and scanner tests: frame building, a snapshot of
// every control to prove that a frame changed nothing it should not, and a port that
// serves each read from a heap buffer of exactly the bytes read, so that a read past
// them shows up under the address sanitizer.
#include "common/controls.h"
#include "fakes.h"

#include <QByteArray>
#include <QHash>
#include <QMetaType>
#include <QSet>
#include <QString>
#include <QStringList>
#include <array>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <stdexcept>

Q_DECLARE_METATYPE(Rgb)

// Readable colours in failure messages.
inline char *toString(const Rgb &c)
{
    return qstrdup(QString("Rgb(%1, %2, %3)").arg(c.r).arg(c.g).arg(c.b).toUtf8().constData());
}

namespace linktest {

using Payload = std::array<std::uint8_t, 8>;

inline Payload payload(std::initializer_list<int> bytes)
{
    Payload p{};
    int i = 0;
    for (int b : bytes)
        p[std::size_t(i++)] = std::uint8_t(b);
    return p;
}

inline QByteArray raw(std::initializer_list<int> bytes)
{
    QByteArray s;
    for (int b : bytes)
        s.append(char(b));
    return s;
}

// "H", "P", kind, payload, "F".
inline QByteArray frame(int kind, const Payload &p = {})
{
    QByteArray s("HP");
    s.append(char(kind));
    for (std::uint8_t b : p)
        s.append(char(b));
    s.append('F');
    return s;
}

// The same frame one byte late ("H" lost, a blank after "F") and two bytes late.
inline QByteArray shiftedByOne(int kind, const Payload &p = {}) { return frame(kind, p).mid(1) + ' '; }
inline QByteArray shiftedByTwo(int kind, const Payload &p = {}) { return frame(kind, p).mid(2) + "  "; }

// A 9-byte read with the kind in the "H", "P", kind, ..., "F" layout.
inline QByteArray shortFrame(int kind) { return QByteArray("HP") + char(kind) + QByteArray("12345") + 'F'; }

struct Snapshot {
    QHash<QString, FakeControl> controls;
};

inline Snapshot snapshot(const FakeScreen &screen)
{
    Snapshot s;
    for (const ControlSpec &c : controlTable())
        s.controls.insert(c.name, screen.control(c.name));
    return s;
}

inline bool sameControl(const FakeControl &a, const FakeControl &b)
{
    return a.text == b.text && a.items == b.items && a.itemIndex == b.itemIndex && a.enabled == b.enabled &&
           a.visible == b.visible && a.color == b.color && a.fontColor == b.fontColor && a.barMin == b.barMin &&
           a.barMax == b.barMax && a.barPosition == b.barPosition && a.focusCount == b.focusCount;
}

// Names of the controls that differ between the two snapshots, minus those expected.
inline QStringList changedControls(const Snapshot &before, const FakeScreen &screen,
                                   const QSet<QString> &except = {})
{
    QStringList changed;
    for (auto it = before.controls.cbegin(); it != before.controls.cend(); ++it) {
        if (except.contains(it.key()))
            continue;
        if (!sameControl(it.value(), screen.control(it.key())))
            changed << it.key();
    }
    changed.sort();
    return changed;
}

inline QStringList redCells(const FakeScreen &screen, bool injection)
{
    QStringList red;
    for (int k = 0; k < 72; ++k) {
        const QString name = (injection ? "e" + QString::number(k) + "i" : "e" + QString::number(k));
        if (screen.color(name) == colors::red)
            red << QString::number(k);
    }
    return red;
}

// Serves each read from its own heap buffer of exactly the length returned.
class ExactPort : public LinkPort {
public:
    int write(const QByteArray &bytes) override
    {
        writes << bytes;
        return int(bytes.size());
    }
    QByteArray read(int count) override
    {
        lastCount = count;
        const QByteArray next = pending;
        buffer.reset(new char[std::size_t(next.size()) + (next.isEmpty() ? 1 : 0)]);
        std::copy(next.cbegin(), next.cend(), buffer.get());
        return QByteArray::fromRawData(buffer.get(), next.size());
    }
    QByteArray pending;
    QList<QByteArray> writes;
    int lastCount = -1;

private:
    std::unique_ptr<char[]> buffer;
};

// A port whose reads fail as a broken line does.
class FailingReadPort : public LinkPort {
public:
    int write(const QByteArray &bytes) override { return int(bytes.size()); }
    QByteArray read(int) override { throw std::runtime_error("ReadFile function failed (win error code: 995)"); }
};

} // namespace linktest
