#pragma once

#include <QDialog>
#include <QPixmap>
#include <QStringList>

// The program's own message box: a frameless, modal white card with a soft shadow, a painted 36 px icon
// by kind, a bold title, a wrapped text and a right-aligned row of buttons, one of them the primary
// (blue) one. It follows the theme (light or dark card). Built on the stack and run once.
class MsgDialog : public QDialog
{
    Q_OBJECT
public:
    enum Kind { Information = 0, Question = 1, Warning = 2 };

    // A primaryIndex outside the list leaves every button secondary; an empty list can only be rejected.
    MsgDialog(QWidget* parent, int kind, const QString& title, const QString& text, const QStringList& buttons,
              int primaryIndex);

    // Index of the button that closed the card (0 until one did).
    int clickedIndex() const { return m_clicked; }

    // The 36 x 36 icon of a kind; any kind but 1 and 2 draws the information icon.
    static QPixmap iconPixmap(int kind);

    // A yes/no question, no on the left, yes primary (empty texts: "是" and "否"). 1 yes, 0 no, -1 when
    // the card was closed any other way (Escape).
    static int ask(QWidget* parent, const QString& title, const QString& text, const QString& yesText = QString(),
                   const QString& noText = QString());
    // The information card: one primary button (empty: "确定").
    static void showInfoCard(QWidget* parent, const QString& title, const QString& text,
                             const QString& buttonText = QString());

private:
    int m_clicked = 0;
};

// Makes the message card the process-wide question and notice dialog of ktr::dialogs (a notice of
// kind 1 or 2, warning or error, shows the warning icon). Called once at start-up.
void installMessageCards();
