// Clipboard blocks pasted into the maps: any text into the block parser and into a
// paste on any selection of either map, in the ms or the percent view (the first four
// bytes choose map, view and selection; see inputs.h). A parsed block is rectangular and
// finite and survives its own copy text; a refused paste leaves every cell as it was;
// an accepted one writes only numbers within the cells' ranges, and only inside the map.
#include "check.h"
#include "corebench.h"
#include "inputs.h"
#include "common/numtext.h"
#include "maps/cells.h"
#include "maps/mapblock.h"
#include "maps/maptools.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <memory>

namespace {

struct Bench {
    Rig rig;
    MapTools tools{rig.ctx};
    QStringList start; // both maps, ignition first
};
Bench *bench = nullptr;

QStringList texts(const Screen &s)
{
    QStringList t;
    for (MapId map : {MapId::Ignition, MapId::Injection})
        for (int r = 0; r < mapRows; ++r)
            for (int c = 0; c < mapColumns; ++c)
                t << s.text(cells::cellName(map, r, c));
    return t;
}

void checkParse(const QString &text)
{
    const mapblock::Block block = mapblock::parse(text);
    if (block.fault) {
        fuzzcheck::require(block.rows.isEmpty(), "a refused block keeps rows");
        return;
    }
    fuzzcheck::require(block.rowCount() > 0 && block.columnCount() > 0, "an accepted block is empty", text);
    QList<QStringList> shown;
    for (const auto &row : block.rows) {
        fuzzcheck::require(row.size() == block.columnCount(), "an accepted block is not rectangular", text);
        QStringList line;
        for (long double v : row) {
            fuzzcheck::require(std::isfinite(v), "an accepted value is not finite", text);
            line << numtext::formatGeneral(v);
        }
        shown << line;
    }
    const mapblock::Block again = mapblock::parse(mapblock::copyText(shown));
    fuzzcheck::require(!again.fault && again.rowCount() == block.rowCount() &&
                           again.columnCount() == block.columnCount(),
                       "the copy text of a block does not parse back", text);
    for (int r = 0; r < again.rowCount(); ++r)
        for (int c = 0; c < again.columnCount(); ++c)
            fuzzcheck::require(numtext::formatGeneral(again.rows[r][c]) == shown[r][c],
                               "the copy text of a block gives other values", text);
}

void checkPaste(Bench &b, const fuzzinput::mapblock::Setup &setup, const QString &text)
{
    const MapId map = setup.injection ? MapId::Injection : MapId::Ignition;
    b.rig.state.percentView = setup.percent;
    // Every input starts from the start-up maps (put back below).
    const std::optional<QString> error = fuzzcheck::guarded([&] { b.tools.paste(map, setup.selection, text); });
    if (error)
        fuzzcheck::require(error->startsWith(QStringLiteral(" Atenção ! !  ")), "a refusal without its warning",
                           *error);
    int i = 0;
    for (MapId m : {MapId::Ignition, MapId::Injection}) {
        for (int r = 0; r < mapRows; ++r) {
            for (int c = 0; c < mapColumns; ++c, ++i) {
                const QString now = b.rig.screen.text(cells::cellName(m, r, c));
                if (now == b.start[i])
                    continue;
                fuzzcheck::require(!error, "a refused paste changed a cell", text);
                fuzzcheck::require(m == map, "a paste changed the other map", text);
                const cells::Scale s = cells::scale(map, r, setup.percent);
                long double v = 0;
                fuzzcheck::require(numtext::tryParseFloat(now, &v), "a pasted cell holds no number", now);
                fuzzcheck::require(v >= s.min && v <= s.max, "a pasted cell is out of its range", now);
                fuzzcheck::require(cells::rounded(s, v) == v, "a pasted cell is not at its resolution", now);
                b.rig.screen.setText(cells::cellName(m, r, c), b.start[i]);
            }
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    bench = new Bench;
    bench->start = texts(bench->rig.screen);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const fuzzinput::mapblock::Setup setup = fuzzinput::mapblock::setup(bytes);
    const QString text = QString::fromUtf8(bytes.mid(fuzzinput::mapblock::header));
    checkParse(text);
    checkPaste(*bench, setup, text);
    if (fuzzbench::resetCheck()) {
        // The cells put back leave the whole screen as a new one, and nothing else changed.
        static const QByteArray startup = fuzzbench::screenPrint(FakeScreen());
        fuzzcheck::require(fuzzbench::screenPrint(bench->rig.screen) == startup, "a paste left the screen changed");
        fuzzcheck::require(bench->rig.prompt.messages.isEmpty() && bench->rig.port.writes.isEmpty(),
                           "a paste left a message or a write behind");
    }
    return 0;
}
