#pragma once
// Answers the next modal box the window opens, as a user does: looks for it from the
// event loop the box itself runs (every few milliseconds until it shows, as long as
// it takes to appear), then acts on it. For the end-to-end tests that drive the real
// window and its real dialogs.
#include <QAbstractButton>
#include <QApplication>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QStringList>
#include <QTimer>
#include <QWidget>
#include <QtTest>
#include <functional>

struct RealDialog {
    // Called once with the box (a QWidget of type T), inside its event loop.
    template <typename T> static void answerNext(std::function<void(T *)> act, int tries = 2000)
    {
        QTimer::singleShot(0, [act, tries] { look<T>(act, tries); });
    }

private:
    template <typename T> static void look(std::function<void(T *)> act, int left)
    {
        if (auto *box = qobject_cast<T *>(QApplication::activeModalWidget()); box && box->isVisible()) {
            act(box);
            return;
        }
        if (left > 0)
            QTimer::singleShot(5, [act, left] { look<T>(act, left - 1); });
    }
};

// Types path into the next file dialog's name field and presses its accept button
// ("Save", "Open"), or presses its "Cancel" button when path is empty.
inline void answerFileDialog(const QString &path)
{
    RealDialog::answerNext<QFileDialog>([path](QFileDialog *d) {
        auto *buttons = d->findChild<QDialogButtonBox *>(QStringLiteral("buttonBox"));
        QVERIFY(buttons);
        if (path.isEmpty()) {
            QTest::mouseClick(buttons->button(QDialogButtonBox::Cancel), Qt::LeftButton);
            return;
        }
        auto *name = d->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
        QVERIFY(name);
        // The whole name at once: typed key by key, the folder completer adds to it.
        name->setFocus();
        name->setText(path);
        QAbstractButton *accept = nullptr;
        for (QAbstractButton *b : buttons->buttons())
            if (buttons->buttonRole(b) == QDialogButtonBox::AcceptRole)
                accept = b;
        QVERIFY(accept);
        accept->click();
    });
}

// Records the next message box's text and buttons and presses the one with that caption.
inline void answerBox(const QString &button, QString *text, QStringList *buttons = nullptr)
{
    RealDialog::answerNext<QMessageBox>([button, text, buttons](QMessageBox *box) {
        *text = box->text();
        QAbstractButton *chosen = nullptr;
        for (QAbstractButton *b : box->buttons()) {
            if (buttons)
                *buttons << b->text();
            if (b->text() == button)
                chosen = b;
        }
        QVERIFY(chosen);
        QTest::mouseClick(chosen, Qt::LeftButton);
    });
}
