#pragma once

#include <QColor>
#include <QString>
#include <QUrl>

#include <functional>

class QWidget;

namespace ktr::dialogs {

// The one process-wide set of modal dialogs every window asks through. Tests install replacements, so no
// test waits for a person; each replacement is optional and an empty one falls back to the real dialog.
struct Seams
{
    // A question. Returns 1 for yes, 0 for no, -1 when the dialog was closed without an answer.
    std::function<int(QWidget* parent, const QString& title, const QString& text)> question;
    // An information or warning notice; kind 0 = information, 1 = warning, 2 = error.
    std::function<void(QWidget* parent, const QString& title, const QString& text, int kind)> information;
    // File choosers: the chosen path, empty when cancelled.
    std::function<QString(QWidget* parent, const QString& caption, const QString& folder, const QString& filter)>
        openFile;
    std::function<QString(QWidget* parent, const QString& caption, const QString& suggested, const QString& filter)>
        saveFile;
    std::function<QString(QWidget* parent, const QString& caption, const QString& folder)> folder;
    // A colour chooser: an invalid colour when cancelled.
    std::function<QColor(QWidget* parent, const QColor& initial, const QString& title)> colour;
    // Opens a web link or local file in the desktop's handler; false when nothing handled it.
    std::function<bool(const QUrl& url)> openUrl;
};

// Installs replacements (a default-constructed Seams restores the real dialogs). Returns the previous set.
Seams setSeams(Seams seams);
const Seams& seams();

// The calls every caller makes; each one goes to the installed replacement or to the real dialog. The real
// file choosers are drawn in the panel's light or dark colours and open in the folder given when it is
// there, else in the folder last chosen in, the documents folder or home.
int question(QWidget* parent, const QString& title, const QString& text);
void information(QWidget* parent, const QString& title, const QString& text, int kind = 0);
QString openFile(QWidget* parent, const QString& caption, const QString& folder, const QString& filter);
QString saveFile(QWidget* parent, const QString& caption, const QString& suggested, const QString& filter);
QString chooseFolder(QWidget* parent, const QString& caption, const QString& folder);
QColor chooseColour(QWidget* parent, const QColor& initial, const QString& title);
bool openUrl(const QUrl& url);

// The real question and notice dialogs. The settings kit's message card replaces these at start-up
// (setDefaultCards) so every window shows the same painted card.
using QuestionCard = std::function<int(QWidget* parent, const QString& title, const QString& text)>;
using InformationCard = std::function<void(QWidget* parent, const QString& title, const QString& text, int kind)>;
void setDefaultCards(QuestionCard question, InformationCard information);

// Replaces the seams for one scope, restoring the previous ones when it ends (for tests).
class ScopedSeams
{
public:
    explicit ScopedSeams(Seams seams) : m_previous(setSeams(std::move(seams))) {}
    ~ScopedSeams() { setSeams(std::move(m_previous)); }
    ScopedSeams(const ScopedSeams&) = delete;
    ScopedSeams& operator=(const ScopedSeams&) = delete;

private:
    Seams m_previous;
};

} // namespace ktr::dialogs
