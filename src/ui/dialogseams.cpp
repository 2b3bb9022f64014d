#include "ui/dialogseams.h"

#include "platform/launcher.h"

#include <QColorDialog>
#include <QFileDialog>
#include <QMessageBox>

namespace ktr::dialogs {

namespace {

Seams& installed()
{
    static Seams s;
    return s;
}

QuestionCard& defaultQuestion()
{
    static QuestionCard card;
    return card;
}

InformationCard& defaultInformation()
{
    static InformationCard card;
    return card;
}

} // namespace

Seams setSeams(Seams seams)
{
    Seams previous = std::move(installed());
    installed() = std::move(seams);
    return previous;
}

const Seams& seams()
{
    return installed();
}

void setDefaultCards(QuestionCard question, InformationCard information)
{
    defaultQuestion() = std::move(question);
    defaultInformation() = std::move(information);
}

int question(QWidget* parent, const QString& title, const QString& text)
{
    // Copies: a replacement may install other seams while it runs.
    if (const auto fn = installed().question)
        return fn(parent, title, text);
    if (const auto card = defaultQuestion())
        return card(parent, title, text);
    const auto answer = QMessageBox::question(parent, title, text, QMessageBox::Yes | QMessageBox::No);
    return answer == QMessageBox::Yes ? 1 : answer == QMessageBox::No ? 0 : -1;
}

void information(QWidget* parent, const QString& title, const QString& text, int kind)
{
    if (const auto fn = installed().information)
        return fn(parent, title, text, kind);
    if (const auto card = defaultInformation())
        return card(parent, title, text, kind);
    if (kind == 2)
        QMessageBox::critical(parent, title, text);
    else if (kind == 1)
        QMessageBox::warning(parent, title, text);
    else
        QMessageBox::information(parent, title, text);
}

QString openFile(QWidget* parent, const QString& caption, const QString& folder, const QString& filter)
{
    if (const auto fn = installed().openFile)
        return fn(parent, caption, folder, filter);
    return QFileDialog::getOpenFileName(parent, caption, folder, filter);
}

QString saveFile(QWidget* parent, const QString& caption, const QString& suggested, const QString& filter)
{
    if (const auto fn = installed().saveFile)
        return fn(parent, caption, suggested, filter);
    return QFileDialog::getSaveFileName(parent, caption, suggested, filter);
}

QString chooseFolder(QWidget* parent, const QString& caption, const QString& folder)
{
    if (const auto fn = installed().folder)
        return fn(parent, caption, folder);
    return QFileDialog::getExistingDirectory(parent, caption, folder);
}

QColor chooseColour(QWidget* parent, const QColor& initial, const QString& title)
{
    if (const auto fn = installed().colour)
        return fn(parent, initial, title);
    return QColorDialog::getColor(initial, parent, title);
}

bool openUrl(const QUrl& url)
{
    if (const auto fn = installed().openUrl)
        return fn(url);
    return ktr::platform::launcher().openUrl(url);
}

} // namespace ktr::dialogs
