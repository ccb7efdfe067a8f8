#include "app/comparedialog.h"

#include <QDialogButtonBox>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

namespace {

QTableWidgetItem *cell(const QString &text)
{
    auto *item = new QTableWidgetItem(text);
    item->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
    return item;
}

QString summary(const FileComparison &comparison)
{
    const QString file = QFileInfo(comparison.path).fileName();
    const qsizetype n = comparison.differences.size();
    if (n == 0)
        return QString::fromUtf8("A tela é igual ao arquivo %1.").arg(file);
    return QString::fromUtf8("%1 %2 entre a tela e o arquivo %3. Clique duas vezes numa linha para ir ao campo.")
        .arg(QString::number(n), n == 1 ? QString::fromUtf8("diferença") : QString::fromUtf8("diferenças"), file);
}

} // namespace

QTableWidget *differenceTable(const QList<tunediff::Difference> &differences, const QString &otherSide, QWidget *parent,
                              const QString &thisSide)
{
    auto *table = new QTableWidget(int(differences.size()), 5, parent);
    table->setObjectName(QStringLiteral("tbDiferencas"));
    table->setHorizontalHeaderLabels({QStringLiteral("Campo"), QStringLiteral("Controle"),
                                      QString::fromUtf8("Rótulo ou posição"), thisSide, otherSide});
    table->verticalHeader()->setVisible(false);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->setSelectionMode(QAbstractItemView::SingleSelection);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->setAccessibleName(QString::fromUtf8("Diferenças"));
    int row = 0;
    for (const tunediff::Difference &d : differences) {
        table->setItem(row, 0, cell(QString::number(d.field)));
        table->setItem(row, 1, cell(d.control));
        table->setItem(row, 2, cell(d.label));
        table->setItem(row, 3, cell(d.a));
        table->setItem(row, 4, cell(d.b));
        ++row;
    }
    // Number, control and the two texts as wide as they need; the label takes the rest.
    QHeaderView *header = table->horizontalHeader();
    for (int c : {0, 1, 3, 4})
        header->setSectionResizeMode(c, QHeaderView::ResizeToContents);
    header->setSectionResizeMode(2, QHeaderView::Stretch);
    return table;
}

CompareDialog::CompareDialog(const FileComparison &comparison, std::function<void(const QString &)> showField,
                             QWidget *parent)
    : CompareDialog(comparison.differences,
                    {QStringLiteral("Comparar com ") + QFileInfo(comparison.path).fileName(), summary(comparison),
                     QStringLiteral("Na tela"), QStringLiteral("No arquivo")},
                    std::move(showField), parent)
{
}

CompareDialog::CompareDialog(const QList<tunediff::Difference> &differences, const Texts &texts,
                             std::function<void(const QString &)> showField, QWidget *parent)
    : QDialog(parent),
      showField_(std::move(showField))
{
    setObjectName(QStringLiteral("dlgComparar"));
    setWindowTitle(texts.title);
    resize(760, 460);

    auto *layout = new QVBoxLayout(this);
    auto *heading = new QLabel(texts.heading, this);
    heading->setObjectName(QStringLiteral("lbComparacao"));
    heading->setWordWrap(true);
    layout->addWidget(heading);

    table_ = differenceTable(differences, texts.otherSide, this, texts.thisSide);
    heading->setBuddy(table_);
    for (const tunediff::Difference &d : differences)
        controls_ << d.control;
    layout->addWidget(table_);
    connect(table_, &QTableWidget::cellDoubleClicked, this, [this](int r, int) { showRow(r); });

    auto *buttons = new QDialogButtonBox(this);
    QPushButton *close = buttons->addButton(QStringLiteral("Fechar"), QDialogButtonBox::RejectRole);
    close->setObjectName(QStringLiteral("btnFechar"));
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
}

void CompareDialog::showRow(int row)
{
    if (row >= 0 && row < controls_.size() && showField_)
        showField_(controls_[row]);
}

ModuleCheckDialog::ModuleCheckDialog(const QString &text, const QList<tunediff::Difference> &differences,
                                     const QStringList &choices, QWidget *parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("dlgVerificarModulo"));
    setWindowTitle(QString::fromUtf8("Verificar o módulo"));
    resize(760, 460);

    auto *layout = new QVBoxLayout(this);
    // The first line of the text ("A tela e o módulo diferem em 3 campos:"): the table
    // lists the rest.
    auto *heading = new QLabel(text.section(QLatin1Char('\n'), 0, 0).trimmed(), this);
    heading->setObjectName(QStringLiteral("lbVerificacao"));
    heading->setWordWrap(true);
    layout->addWidget(heading);
    table_ = differenceTable(differences, QString::fromUtf8("No módulo"), this);
    heading->setBuddy(table_);
    layout->addWidget(table_);

    auto *buttons = new QDialogButtonBox(this);
    for (int i = 0; i < choices.size(); ++i) {
        // One role for all keeps the buttons in the order given.
        QPushButton *b = buttons->addButton(choices[i], QDialogButtonBox::ActionRole);
        b->setAutoDefault(false);
        b->setDefault(i == 0);
        connect(b, &QPushButton::clicked, this, [this, i] {
            chosen_ = i;
            accept();
        });
    }
    layout->addWidget(buttons);
    escapeChoice_ = int(choices.size()) - 1;
}

void ModuleCheckDialog::reject()
{
    // Escape or the window's close: the last choice, which changes nothing.
    chosen_ = escapeChoice_;
    QDialog::reject();
}
