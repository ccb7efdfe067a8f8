#include "core/undo.h"

#include "common/controlnames.h"
#include "common/enabledset.h"
#include "common/names.h"
#include "files/mapfilecodec.h"

#include <stdexcept>

namespace {

const QString unitCaptionName = ctl::Label46;

// Two states alike but for the edit mode, which is no change of its own.
bool sameContent(const ScreenState &a, ScreenState b)
{
    b.editMode = a.editMode;
    return a == b;
}

bool isCombo(const QString &control) { return control.startsWith(QLatin1String("cb")); }

const QStringList &captionNames()
{
    static const QStringList list = names::ignitionRowCaptions() + names::injectionRowCaptions() +
                                    names::ignitionColumnCaptions() + names::injectionColumnCaptions();
    return list;
}

// Numbers as variable-length unsigned integers (7 bits a byte), signed ones zig-zag
// coded, texts as their UTF-8 length and bytes.
class Writer {
public:
    void number(quint64 v)
    {
        while (v >= 0x80) {
            out.append(char(0x80 | (v & 0x7F)));
            v >>= 7;
        }
        out.append(char(v));
    }
    void integer(qint64 v) { number((quint64(v) << 1) ^ quint64(v >> 63)); }
    void text(const QString &s)
    {
        // Nearly every text is ASCII, whose UTF-8 is its Latin-1: no copy on the way.
        bool ascii = true;
        for (const QChar c : s)
            ascii = ascii && c.unicode() < 0x80;
        if (!ascii) {
            const QByteArray utf8 = s.toUtf8();
            number(quint64(utf8.size()));
            out.append(utf8);
            return;
        }
        number(quint64(s.size()));
        const qsizetype at = out.size();
        out.resize(at + s.size());
        char *to = out.data() + at;
        for (const QChar c : s)
            *to++ = char(c.unicode());
    }
    QByteArray out;
};

class Reader {
public:
    explicit Reader(const QByteArray &bytes) : in_(bytes) {}
    quint64 number()
    {
        quint64 v = 0;
        for (int shift = 0; shift < 64; shift += 7) {
            if (pos_ >= in_.size())
                break;
            const auto b = quint8(in_[pos_++]);
            v |= quint64(b & 0x7F) << shift;
            if (!(b & 0x80))
                return v;
        }
        throw std::logic_error("damaged undo step");
    }
    qint64 integer()
    {
        const quint64 v = number();
        return qint64(v >> 1) ^ -qint64(v & 1);
    }
    QString text()
    {
        const quint64 n = number();
        if (n > quint64(in_.size() - pos_))
            throw std::logic_error("damaged undo step");
        const QString s = QString::fromUtf8(in_.constData() + pos_, qsizetype(n));
        pos_ += qsizetype(n);
        return s;
    }

private:
    const QByteArray &in_;
    qsizetype pos_ = 0;
};

} // namespace

ScreenState ScreenState::capture(Context &ctx)
{
    const Screen &s = ctx.screen;
    ScreenState state;
    state.tune = MapFile(ctx).screenTune();
    const QStringList &controls = mapfile::fieldControls();
    state.itemIndex.reserve(controls.size());
    state.items.reserve(controls.size());
    state.captions.reserve(captionNames().size());
    for (const QString &control : controls) {
        const bool combo = isCombo(control);
        state.itemIndex << (combo ? s.itemIndex(control) : -1);
        state.items << (combo ? s.items(control) : QStringList());
    }
    for (const QString &caption : captionNames())
        state.captions << s.text(caption);
    state.toothFieldsEnabled = ctx.state.toothFields;
    state.percentView = ctx.state.percentView;
    state.unitCaption = s.text(unitCaptionName);
    state.editMode = ctx.state.editMode;
    return state;
}

bool ScreenState::shownOn(const Context &ctx) const
{
    const Screen &s = ctx.screen;
    const QStringList &controls = mapfile::fieldControls();
    const QStringList &captionList = captionNames();
    if (percentView != ctx.state.percentView || tune.tpsMin != ctx.state.wv.tpsMin ||
        tune.tpsMax != ctx.state.wv.tpsMax || tune.texts.size() != controls.size() ||
        itemIndex.size() != controls.size() || items.size() != controls.size() || captions.size() != captionList.size())
        return false;
    for (qsizetype i = 0; i < controls.size(); ++i) {
        const QString &control = controls[i];
        if (s.text(control) != tune.texts[i])
            return false;
        const bool combo = isCombo(control);
        if (itemIndex[i] != (combo ? s.itemIndex(control) : -1))
            return false;
        if (combo ? s.items(control) != items[i] : !items[i].isEmpty())
            return false;
    }
    for (qsizetype i = 0; i < captionList.size(); ++i)
        if (s.text(captionList[i]) != captions[i])
            return false;
    return toothFieldsEnabled == ctx.state.toothFields && unitCaption == s.text(unitCaptionName);
}

QByteArray ScreenState::encode() const
{
    Writer w;
    w.out.reserve(1536);
    for (int i = 0; i < tune.texts.size(); ++i) {
        w.text(tune.texts[i]);
        w.integer(itemIndex.value(i, -1));
        const QStringList list = items.value(i);
        w.number(quint64(list.size()));
        for (const QString &item : list)
            w.text(item);
    }
    w.integer(tune.tpsMin);
    w.integer(tune.tpsMax);
    for (const QString &caption : captions)
        w.text(caption);
    w.number((toothFieldsEnabled ? 1 : 0) | (percentView ? 2 : 0));
    w.text(unitCaption);
    w.out.append(char(editMode ? 1 : 0));
    w.out.squeeze();
    return w.out;
}

ScreenState ScreenState::decode(const QByteArray &bytes)
{
    Reader r(bytes);
    ScreenState state;
    const int fields = int(mapfile::fieldControls().size());
    for (int i = 0; i < fields; ++i) {
        state.tune.texts << r.text();
        state.itemIndex << int(r.integer());
        QStringList list;
        for (quint64 n = r.number(); n > 0; --n)
            list << r.text();
        state.items << list;
    }
    state.tune.tpsMin = int(r.integer());
    state.tune.tpsMax = int(r.integer());
    for (qsizetype i = 0; i < captionNames().size(); ++i)
        state.captions << r.text();
    const quint64 flags = r.number();
    state.toothFieldsEnabled = flags & 1;
    state.percentView = flags & 2;
    state.unitCaption = r.text();
    state.editMode = bytes.endsWith(char(1));
    return state;
}

// The first state is the screen after the start-up (FormCreate resets the history):
// reading it here as well took the whole screen once more for nothing.
UndoHistory::UndoHistory(Context &ctx, ShowView showView) : ctx_(ctx), showView_(std::move(showView)) {}

void UndoHistory::reset()
{
    const ScreenState now = ScreenState::capture(ctx_);
    steps_.clear();
    steps_.push_back(now.encode());
    index_ = 0;
    current_ = now;
    shownAt_ = ctx_.screen.revision();
    saved_ = now.tune;
    transferred_.reset();
}

void UndoHistory::restore(const Snapshot &s)
{
    steps_ = s.steps;
    index_ = s.index;
    current_ = s.current;
    saved_ = s.saved;
    transferred_ = s.transferred;
    module_ = s.module;
    shownAt_.reset();
}

bool UndoHistory::record()
{
    const std::optional<quint64> seen = ctx_.screen.revision();
    const State &s = ctx_.state;
    if (seen && seen == shownAt_ && current_.percentView == s.percentView && current_.tune.tpsMin == s.wv.tpsMin &&
        current_.tune.tpsMax == s.wv.tpsMax && current_.toothFieldsEnabled == s.toothFields)
        return false; // nothing written on screen since it showed the current state
    if (current_.shownOn(ctx_)) {
        shownAt_ = seen;
        return false;
    }
    ScreenState now = ScreenState::capture(ctx_);
    const bool step = !sameContent(now, current_);
    if (step) {
        steps_.resize(std::size_t(index_) + 1);
        steps_.push_back(now.encode());
        ++index_;
        current_ = std::move(now);
    }
    shownAt_ = seen;
    return step;
}

void UndoHistory::undo()
{
    record();
    if (!canUndo())
        return;
    const ScreenState target = ScreenState::decode(steps_[std::size_t(index_) - 1]);
    restore(target, false);
    --index_;
    current_ = target;
    shownAt_.reset(); // what was written back may show the step in a form of its own
}

void UndoHistory::redo()
{
    // A change typed since the last step would be lost by going forward: it becomes
    // the newest step instead, and there is nothing left to redo.
    if (record() || !canRedo())
        return;
    const ScreenState target = ScreenState::decode(steps_[std::size_t(index_) + 1]);
    restore(target, true);
    ++index_;
    current_ = target;
    shownAt_.reset();
}

void UndoHistory::restore(const ScreenState &target, bool forward)
{
    Screen &s = ctx_.screen;
    // The view first: it is the one step that can be refused, before anything changed.
    if (target.percentView != ctx_.state.percentView)
        showView_(target.percentView, forward && !target.editMode);
    ctx_.state.percentView = target.percentView;

    const QStringList &controls = mapfile::fieldControls();
    for (int i = 0; i < controls.size(); ++i) {
        const QString &control = controls[i];
        if (isCombo(control)) {
            bool reselect = false;
            if (s.items(control) != target.items[i]) {
                s.setItems(control, target.items[i]);
                reselect = true;
            }
            if (reselect || s.itemIndex(control) != target.itemIndex[i])
                s.setItemIndex(control, target.itemIndex[i]);
        }
        if (s.text(control) != target.tune.texts[i])
            s.setText(control, target.tune.texts[i]);
        // A box with fixed choices selects the entry its new text names; the step may
        // have had none selected under that text.
        if (isCombo(control) && target.itemIndex[i] < 0 && s.itemIndex(control) >= 0)
            s.setItemIndex(control, -1);
    }
    const QStringList &captions = captionNames();
    for (int i = 0; i < captions.size(); ++i)
        if (s.text(captions[i]) != target.captions[i])
            s.setText(captions[i], target.captions[i]);
    ctx_.state.toothFields = target.toothFieldsEnabled;
    ctx_.state.wv.tpsMin = target.tune.tpsMin;
    ctx_.state.wv.tpsMax = target.tune.tpsMax;
    if (s.text(unitCaptionName) != target.unitCaption)
        s.setText(unitCaptionName, target.unitCaption);
    enabledset::apply(ctx_);
}

void UndoHistory::markSaved()
{
    record();
    saved_ = current_.tune;
}

void UndoHistory::markTransferred(const Tune &tune)
{
    transferred_ = tune;
    module_ = tune;
}

bool UndoHistory::unsaved() const { return current_.tune != saved_; }

bool UndoHistory::wouldLoseChanges() const
{
    const Tune now = MapFile(ctx_).screenTune();
    return now != saved_ && (!transferred_ || now != *transferred_);
}

qsizetype UndoHistory::storedBytes() const
{
    qsizetype total = 0;
    for (const QByteArray &step : steps_)
        total += step.capacity();
    return total;
}
