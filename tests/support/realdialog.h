#pragma once
// Answers the next modal box the window opens, as a user does: looks for it from the
// event loop the box itself runs (every few milliseconds until it shows, as long as
// it takes to appear), then acts on it. For the end-to-end tests that drive the real
// window and its real dialogs.
#include <QApplication>
#include <QPointer>
#include <QTimer>
#include <QWidget>
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
