#include "ui/dialogseams.h"

#include "platform/launcher.h"
#include "ui/theme.h"

#include <QColorDialog>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QStandardPaths>

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

QString& lastFolder()
{
    static QString folder;
    return folder;
}

// Where a chooser opens when the caller names no folder that exists: the folder last chosen in, else the
// documents folder, else home; never the process's working folder.
QString fallbackFolder()
{
    if (!lastFolder().isEmpty() && QFileInfo(lastFolder()).isDir())
        return lastFolder();
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (!documents.isEmpty() && QFileInfo(documents).isDir())
        return documents;
    return QDir::homePath();
}

// Where an open or folder chooser starts: `wanted` when that folder or file is there, else the fallback.
QString openStart(const QString& wanted)
{
    return !wanted.isEmpty() && QFileInfo::exists(wanted) ? wanted : fallbackFolder();
}

// Where a save chooser starts: the suggested file where its folder is there, else the same name in the
// fallback folder.
QString saveStart(const QString& suggested)
{
    const QFileInfo info(suggested);
    if (suggested.isEmpty())
        return fallbackFolder();
    if (QFileInfo(info.absolutePath()).isDir())
        return suggested;
    return info.fileName().isEmpty() ? fallbackFolder() : QDir(fallbackFolder()).filePath(info.fileName());
}

// The chooser in the panel's light or dark colours: Qt's own dialog, as the desktop's would follow its
// own theme instead.
void themeChooser(QFileDialog& dialog)
{
    const Theme& t = currentTheme();
    QPalette p = dialog.palette();
    p.setColor(QPalette::Window, t.windowBackground);
    p.setColor(QPalette::WindowText, t.text);
    p.setColor(QPalette::Base, t.surface);
    p.setColor(QPalette::AlternateBase, t.surfaceAlt);
    p.setColor(QPalette::Text, t.text);
    p.setColor(QPalette::Button, t.surfaceAlt);
    p.setColor(QPalette::ButtonText, t.text);
    p.setColor(QPalette::Highlight, t.accent);
    p.setColor(QPalette::HighlightedText, Qt::white);
    p.setColor(QPalette::PlaceholderText, t.hintText);
    p.setColor(QPalette::ToolTipBase, t.surface);
    p.setColor(QPalette::ToolTipText, t.text);
    p.setColor(QPalette::Disabled, QPalette::Text, t.mutedText);
    p.setColor(QPalette::Disabled, QPalette::ButtonText, t.mutedText);
    p.setColor(QPalette::Disabled, QPalette::WindowText, t.mutedText);
    dialog.setPalette(p);
}

QString runChooser(QWidget* parent, const QString& caption, const QString& start, const QString& filter,
                   QFileDialog::AcceptMode accept, QFileDialog::FileMode mode)
{
    QFileDialog dialog(parent, caption, start, filter);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    if (mode == QFileDialog::Directory)
        dialog.setOption(QFileDialog::ShowDirsOnly);
    dialog.setAcceptMode(accept);
    dialog.setFileMode(mode);
    themeChooser(dialog);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return QString();
    const QString chosen = dialog.selectedFiles().constFirst();
    lastFolder() = mode == QFileDialog::Directory ? chosen : QFileInfo(chosen).absolutePath();
    return chosen;
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
    return runChooser(parent, caption, openStart(folder), filter, QFileDialog::AcceptOpen, QFileDialog::ExistingFile);
}

QString saveFile(QWidget* parent, const QString& caption, const QString& suggested, const QString& filter)
{
    if (const auto fn = installed().saveFile)
        return fn(parent, caption, suggested, filter);
    return runChooser(parent, caption, saveStart(suggested), filter, QFileDialog::AcceptSave, QFileDialog::AnyFile);
}

QString chooseFolder(QWidget* parent, const QString& caption, const QString& folder)
{
    if (const auto fn = installed().folder)
        return fn(parent, caption, folder);
    return runChooser(parent, caption, openStart(folder), QString(), QFileDialog::AcceptOpen, QFileDialog::Directory);
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
