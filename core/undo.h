#pragma once
// The history of the parameter set on screen: one state after each completed change,
// for undo and redo, with the state last saved or loaded (the unsaved-changes flag)
// and the state last sent or read in full (the question on closing).
#include "common/context.h"
#include "files/mapfile.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>
#include <vector>

// Everything on screen that belongs to the parameter set: the 200 texts and the TPS
// limits, what is shown because of them (the selected entries and the tooth list of
// the combo boxes, the axis captions of both maps, the enabled state of the tooth
// and zero point fields) and the view of the injection map (percent flag and unit
// caption), so that the view always matches the units of the cells.
struct ScreenState {
    Tune tune;
    QList<int> itemIndex;           // per field control, -1 for an edit box
    QList<QStringList> items;       // per field control, empty for an edit box
    QStringList captions;           // row and column captions of both maps
    bool toothFieldsEnabled = true; // cbDentesPms and cbPontoZero
    bool percentView = false;
    QString unitCaption; // Label46
    // The map edit mode was open. Not a change of its own (opening the mode is no
    // step): a step redone that switches the injection map's view brings it back.
    bool editMode = false;
    friend bool operator==(const ScreenState &, const ScreenState &) = default;

    static ScreenState capture(Context &ctx);
    // Whether capture() would give this state but for the edit mode, read control by
    // control without a copy; nearly every step asked for finds nothing changed.
    bool shownOn(const Context &ctx) const;
    // A compact form for the history (UTF-8 texts with their lengths, about 1 KB); the
    // edit mode is its last byte, left out when two steps are compared.
    QByteArray encode() const;
    static ScreenState decode(const QByteArray &bytes);
};

class UndoHistory {
public:
    // showView switches the injection map's view (enabled states, flag) before a
    // state of the other view is written back, and leaves the map edit mode when asked
    // (a step redone that was taken on leaving it); it throws, and changes nothing,
    // when that view cannot be shown now.
    using ShowView = std::function<void(bool percent, bool leaveEditMode)>;
    UndoHistory(Context &ctx, ShowView showView);

    // The screen as it stands becomes the only state, and the saved one.
    void reset();
    // The screen as it stands becomes a new step when it differs from the current
    // state; the steps that could be redone are dropped. Returns whether it did.
    bool record();
    bool canUndo() const { return index_ > 0; }
    bool canRedo() const { return index_ + 1 < int(steps_.size()); }
    // Write the state before / after the current one back to the screen. A change not
    // recorded yet (a field still being typed in) becomes a step first, so undo takes
    // it back and redo brings it again.
    void undo();
    void redo();

    // After a save or a load: the current state is what the file holds.
    void markSaved();
    // After an upload that ran to its end or a read-back that ended with kind 26: the
    // set is also what the module holds now.
    void markTransferred(const Tune &tune);
    // The module's set as far as it is known: the last one transferred since the port
    // opened, none after a port opened or an upload that did not end.
    const std::optional<Tune> &moduleSet() const { return module_; }
    void forgetModuleSet() { module_.reset(); }
    // A check read the module's set back without touching the screen.
    void setModuleSet(const Tune &tune) { module_ = tune; }
    // The current state differs from the last map file saved or loaded (from the
    // start-up screen while there was none).
    bool unsaved() const;
    // The screen as it stands differs from the last map file saved or loaded and from
    // the last completed transfer: closing would lose it.
    bool wouldLoseChanges() const;

    // Everything the history holds, to start again from it.
    struct Snapshot {
        std::vector<QByteArray> steps;
        int index = 0;
        ScreenState current;
        Tune saved;
        std::optional<Tune> transferred, module;
    };
    Snapshot snapshot() const { return {steps_, index_, current_, saved_, transferred_, module_}; }
    void restore(const Snapshot &s);

    int index() const { return index_; }
    int count() const { return int(steps_.size()); }
    qsizetype storedBytes() const; // bytes held by the encoded steps

private:
    void restore(const ScreenState &target, bool forward);

    Context &ctx_;
    ShowView showView_;
    std::vector<QByteArray> steps_;
    int index_ = 0;
    ScreenState current_;            // steps_[index_], kept decoded: the screen is compared with it
    std::optional<quint64> shownAt_; // the screen's revision when it last showed current_
    Tune saved_;
    std::optional<Tune> transferred_;
    std::optional<Tune> module_;
};
