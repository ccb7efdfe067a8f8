#pragma once
// Real modal boxes and file dialogs for the core's questions.
#include "common/context.h"

#include <QPointer>
#include <QString>
#include <QStringList>
#include <map>
#include <memory>

class QDialog;
class QFileDialog;
class QMessageBox;
class QWidget;

namespace prompt {
// Title of every message box.
inline const QString messageTitle = QStringLiteral("Velto");
// "Name|pattern|Name|pattern" as Qt's name filters ("Name (pattern)").
QStringList nameFilters(const QString &filter);
// A file dialog set up from setup: filters (first selected), default suffix without
// "*." or ".", initial folder, no overwrite question when saving, and on opening
// any file name is accepted (the caller reports a missing file).
std::unique_ptr<QFileDialog> fileDialog(QWidget *parent, const FileDialogSpec &setup, bool save);
std::unique_ptr<QMessageBox> messageBox(QWidget *parent, const QString &text);
// A question with the buttons in the order given, the first the default and the last
// also answered by Escape.
std::unique_ptr<QMessageBox> questionBox(QWidget *parent, const QString &text, const QStringList &buttons);
// The box that asks for one line of text: the question (a label, the field's buddy),
// the field eResposta holding initial, all of it selected, and "OK" (the default) and
// "Cancelar" (also Escape).
std::unique_ptr<QDialog> textBox(QWidget *parent, const QString &question, const QString &initial);
// The index of the button the user chose in a question box, or -1.
int chosenButton(const QMessageBox &box);
} // namespace prompt

class WidgetPrompt : public Prompt {
public:
    explicit WidgetPrompt(QWidget *parent) : parent_(parent) {}
    void message(const QString &text) override;
    // A box that is not modal; it deletes itself when closed.
    int notice(const QString &text) override;
    void closeNotice(int id) override;
    std::optional<QString> saveFileName(const FileDialogSpec &setup) override;
    std::optional<QString> openFileName(const FileDialogSpec &setup) override;
    std::optional<QStringList> openFileNames(const FileDialogSpec &setup) override;
    int question(const QString &text, const QStringList &buttons) override;
    std::optional<QString> askText(const QString &question, const QString &initial) override;
    // The "Comparar" table and one button per choice.
    int differenceQuestion(const QString &text, const QList<tunediff::Difference> &differences,
                           const QStringList &buttons) override;

private:
    std::optional<QString> run(const FileDialogSpec &setup, bool save);
    QWidget *parent_;
    std::map<int, QPointer<QMessageBox>> notices_;
    int lastNotice_ = 0;
};
