#include "app/comparedialog.h"

#include <QDialogButtonBox>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

namespace
{

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

CompareDialog::CompareDialog(const FileComparison &comparison, std::function<void(const QString &)> showField,
                             QWidget *parent)
    : QDialog(parent), showField_(std::move(showField))
{
    setObjectName(QStringLiteral("dlgComparar"));
    setWindowTitle(QStringLiteral("Comparar com ") + QFileInfo(comparison.path).fileName());
    resize(760, 460);

    auto *layout = new QVBoxLayout(this);
    auto *heading = new QLabel(summary(comparison), this);
    heading->setObjectName(QStringLiteral("lbComparacao"));
    heading->setWordWrap(true);
    layout->addWidget(heading);

    table_ = new QTableWidget(int(comparison.differences.size()), 5, this);
    table_->setObjectName(QStringLiteral("tbDiferencas"));
    table_->setHorizontalHeaderLabels({QStringLiteral("Campo"), QStringLiteral("Controle"),
                                       QString::fromUtf8("Rótulo ou posição"), QStringLiteral("Na tela"),
                                       QStringLiteral("No arquivo")});
    table_->verticalHeader()->setVisible(false);
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setSelectionMode(QAbstractItemView::SingleSelection);
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->setAccessibleName(QString::fromUtf8("Diferenças"));
    heading->setBuddy(table_);
    int row = 0;
    for (const tunediff::Difference &d : comparison.differences) {
        table_->setItem(row, 0, cell(QString::number(d.field)));
        table_->setItem(row, 1, cell(d.control));
        table_->setItem(row, 2, cell(d.label));
        table_->setItem(row, 3, cell(d.a));
        table_->setItem(row, 4, cell(d.b));
        controls_ << d.control;
        ++row;
    }
    // Number, control and the two texts as wide as they need; the label takes the rest.
    QHeaderView *header = table_->horizontalHeader();
    for (int c : {0, 1, 3, 4})
        header->setSectionResizeMode(c, QHeaderView::ResizeToContents);
    header->setSectionResizeMode(2, QHeaderView::Stretch);
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
