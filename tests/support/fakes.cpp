#include "fakes.h"

#include <stdexcept>

QStringList FakeScreen::enabledOf(const QStringList &names) const
{
    QStringList on;
    for (const QString &n : names)
        if (isEnabled(n))
            on << n;
    return on;
}

QStringList FakeScreen::visibleOf(const QStringList &names) const
{
    QStringList on;
    for (const QString &n : names)
        if (isVisible(n))
            on << n;
    return on;
}

int FakePort::write(const QByteArray &bytes)
{
    if (failWrites || refuseWrites)
        throw std::runtime_error("WriteFile function failed (win error code: 5)");
    if (!bytes.isEmpty())
        writes.append(bytes);
    return int(bytes.size());
}

QByteArray FakePort::read(int count)
{
    if (incoming.empty())
        return {};
    QByteArray &front = incoming.front();
    QByteArray out = front.left(count);
    front.remove(0, out.size());
    if (front.isEmpty())
        incoming.pop_front();
    return out;
}

QByteArray FakePort::allWritten() const
{
    QByteArray all;
    for (const QByteArray &w : writes)
        all += w;
    return all;
}

void FakePrompt::message(const QString &text)
{
    messages << text;
    if (onMessage)
        onMessage(text);
}

std::optional<QString> FakePrompt::saveFileName(const FileDialogSpec &setup)
{
    dialogs << setup;
    if (fileAnswers.empty())
        return std::nullopt;
    const bool chosen = fileAnswers.front().has_value();
    const QString name = chosen ? *fileAnswers.front() : QString();
    fileAnswers.pop_front();
    if (!chosen)
        return std::nullopt;
    return name;
}

std::optional<QString> FakePrompt::openFileName(const FileDialogSpec &setup) { return saveFileName(setup); }


int FakePrompt::differenceQuestion(const QString &text, const QList<tunediff::Difference> &differences,
                                   const QStringList &buttons)
{
    questionDifferences << differences;
    return question(text, buttons);
}

int FakePrompt::question(const QString &text, const QStringList &buttons)
{
    questions << text;
    questionButtons << buttons;
    if (questionAnswers.empty())
        return -1;
    const int answer = questionAnswers.front();
    questionAnswers.pop_front();
    return answer;
}

std::optional<QString> FakePrompt::askText(const QString &question, const QString &)
{
    textQuestions << question;
    if (textAnswers.empty())
        return std::nullopt;
    const std::optional<QString> answer = textAnswers.front();
    textAnswers.pop_front();
    return answer;
}
