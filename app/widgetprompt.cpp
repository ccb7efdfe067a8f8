#include "app/widgetprompt.h"

#include "app/comparedialog.h"

#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

namespace prompt {

QStringList nameFilters(const QString &filter)
{
    QStringList out;
    const QStringList parts = filter.split(QLatin1Char('|'));
    for (int i = 0; i + 1 < parts.size(); i += 2)
        out << parts[i] + QStringLiteral(" (") + parts[i + 1] + QLatin1Char(')');
    if (parts.size() % 2 == 1 && !parts.last().isEmpty())
        out << parts.last(); // a name without a pattern
    return out;
}

namespace {
QString plainSuffix(QString suffix)
{
    if (suffix.startsWith(QLatin1String("*.")))
        suffix.remove(0, 2);
    else if (suffix.startsWith(QLatin1Char('.')))
        suffix.remove(0, 1);
    return suffix;
}
} // namespace

std::unique_ptr<QFileDialog> fileDialog(QWidget *parent, const FileDialogSpec &setup, bool save)
{
    auto dialog = std::make_unique<QFileDialog>(parent);
    dialog->setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog->setFileMode(QFileDialog::AnyFile);
    dialog->setOption(QFileDialog::DontConfirmOverwrite, true);
    const QStringList filters = nameFilters(setup.filter);
    if (!filters.isEmpty()) {
        dialog->setNameFilters(filters);
        dialog->selectNameFilter(filters.first());
    }
    dialog->setDefaultSuffix(plainSuffix(setup.defaultSuffix));
    if (!setup.initialDir.isEmpty() && QDir(setup.initialDir).exists())
        dialog->setDirectory(setup.initialDir);
    if (!setup.suggestedName.isEmpty())
        dialog->selectFile(setup.suggestedName);
    return dialog;
}

std::unique_ptr<QMessageBox> messageBox(QWidget *parent, const QString &text)
{
    auto box = std::make_unique<QMessageBox>(QMessageBox::NoIcon, messageTitle, text, QMessageBox::Ok, parent);
    box->setDefaultButton(QMessageBox::Ok);
    box->setTextFormat(Qt::PlainText);
    return box;
}

std::unique_ptr<QMessageBox> questionBox(QWidget *parent, const QString &text, const QStringList &buttons)
{
    auto box = std::make_unique<QMessageBox>(QMessageBox::Question, messageTitle, text, QMessageBox::NoButton, parent);
    box->setTextFormat(Qt::PlainText);
    // One role for all keeps the buttons in the order given on every desktop.
    for (const QString &caption : buttons)
        box->addButton(caption, QMessageBox::ActionRole);
    const QList<QAbstractButton *> added = box->buttons();
    if (!added.isEmpty()) {
        box->setDefaultButton(qobject_cast<QPushButton *>(added.first()));
        box->setEscapeButton(added.last());
    }
    return box;
}

std::unique_ptr<QDialog> textBox(QWidget *parent, const QString &question, const QString &initial)
{
    auto box = std::make_unique<QDialog>(parent);
    box->setWindowTitle(messageTitle);
    box->setModal(true);
    auto *label = new QLabel(question, box.get());
    label->setObjectName(QStringLiteral("lbPergunta"));
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    auto *field = new QLineEdit(initial, box.get());
    field->setObjectName(QStringLiteral("eResposta"));
    field->selectAll();
    label->setBuddy(field);
    auto *buttons = new QDialogButtonBox(box.get());
    QPushButton *ok = buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole);
    QPushButton *cancel = buttons->addButton(QStringLiteral("Cancelar"), QDialogButtonBox::RejectRole);
    ok->setDefault(true);
    ok->setAutoDefault(true);
    cancel->setAutoDefault(false);
    QObject::connect(buttons, &QDialogButtonBox::accepted, box.get(), &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, box.get(), &QDialog::reject);
    auto *layout = new QVBoxLayout(box.get());
    layout->addWidget(label);
    layout->addWidget(field);
    layout->addWidget(buttons);
    box->setMinimumWidth(480); // the three lines of a tool's question without a stray break
    field->setFocus();
    return box;
}

int chosenButton(const QMessageBox &box) { return int(box.buttons().indexOf(box.clickedButton())); }

} // namespace prompt

void WidgetPrompt::message(const QString &text)
{
    auto box = prompt::messageBox(parent_, text);
    box->exec();
}

int WidgetPrompt::notice(const QString &text)
{
    QMessageBox *box = prompt::messageBox(parent_, text).release();
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::NonModal);
    box->show();
    // Closed boxes are forgotten: the map holds only those still open.
    std::erase_if(notices_, [](const auto &n) { return n.second.isNull(); });
    notices_[++lastNotice_] = box;
    return lastNotice_;
}

void WidgetPrompt::closeNotice(int id)
{
    const auto it = notices_.find(id);
    if (it == notices_.end())
        return;
    if (QMessageBox *box = it->second.data())
        box->close();
    notices_.erase(it);
}

std::optional<QString> WidgetPrompt::run(const FileDialogSpec &setup, bool save)
{
    auto dialog = prompt::fileDialog(parent_, setup, save);
    if (dialog->exec() != QDialog::Accepted || dialog->selectedFiles().isEmpty())
        return std::nullopt;
    return dialog->selectedFiles().first();
}

std::optional<QString> WidgetPrompt::saveFileName(const FileDialogSpec &setup) { return run(setup, true); }
std::optional<QString> WidgetPrompt::openFileName(const FileDialogSpec &setup) { return run(setup, false); }

std::optional<QStringList> WidgetPrompt::openFileNames(const FileDialogSpec &setup)
{
    auto dialog = prompt::fileDialog(parent_, setup, false);
    dialog->setFileMode(QFileDialog::ExistingFiles);
    if (dialog->exec() != QDialog::Accepted || dialog->selectedFiles().isEmpty())
        return std::nullopt;
    return dialog->selectedFiles();
}

int WidgetPrompt::question(const QString &text, const QStringList &buttons)
{
    auto box = prompt::questionBox(parent_, text, buttons);
    box->exec();
    return prompt::chosenButton(*box);
}

std::optional<QString> WidgetPrompt::askText(const QString &question, const QString &initial)
{
    auto box = prompt::textBox(parent_, question, initial);
    if (box->exec() != QDialog::Accepted)
        return std::nullopt;
    return box->findChild<QLineEdit *>(QStringLiteral("eResposta"))->text();
}

int WidgetPrompt::differenceQuestion(const QString &text, const QList<tunediff::Difference> &differences,
                                     const QStringList &buttons)
{
    ModuleCheckDialog dialog(text, differences, buttons, parent_);
    dialog.exec();
    return dialog.chosen();
}
