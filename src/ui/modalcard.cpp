#include "ui/modalcard.h"

#include <QDialog>
#include <QLabel>
#include <QGraphicsDropShadowEffect>
#include <QVBoxLayout>

#include <algorithm>

namespace {

CardRunner& installed()
{
    static CardRunner runner;
    return runner;
}

} // namespace

CardRunner setCardRunner(CardRunner runner)
{
    CardRunner previous = std::move(installed());
    installed() = std::move(runner);
    return previous;
}

int execCard(QDialog& card)
{
    // A copy: the runner may install another while it runs.
    if (const CardRunner runner = installed())
        return runner(card);
    return card.exec();
}

QWidget* buildCardShell(QDialog& dialog, const QString& name, int margin, const QString& styleSheet,
                        const CardShadow& shadow)
{
    dialog.setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
    dialog.setAttribute(Qt::WA_TranslucentBackground);
    dialog.setModal(true);
    auto* outer = new QVBoxLayout(&dialog);
    outer->setContentsMargins(margin, margin, margin, margin);
    auto* card = new QWidget(&dialog);
    card->setObjectName(name);
    card->setAttribute(Qt::WA_StyledBackground);
    card->setStyleSheet(styleSheet);
    auto* effect = new QGraphicsDropShadowEffect(card);
    effect->setBlurRadius(shadow.blur);
    effect->setOffset(shadow.offset);
    effect->setColor(shadow.colour);
    card->setGraphicsEffect(effect);
    outer->addWidget(card);
    return card;
}

void fitCardToWidth(QDialog& dialog, int width)
{
    dialog.setFixedWidth(width);
    dialog.adjustSize();
    // Wrapped text is as tall as the fixed width makes it, which adjustSize alone does not ask.
    if (dialog.layout() && dialog.layout()->hasHeightForWidth())
        dialog.resize(width, dialog.layout()->totalHeightForWidth(width));
    // A wrapped label nested in boxes is still asked for its height at a guessed width: once laid out at
    // its real width it may need more lines, and the card grows by what is missing.
    for (int round = 0; round < 3; ++round) {
        for (QWidget* child : dialog.findChildren<QWidget*>())
            if (child->layout())
                child->layout()->activate();
        if (dialog.layout())
            dialog.layout()->activate();
        int missing = 0;
        for (QLabel* label : dialog.findChildren<QLabel*>())
            if (label->wordWrap() && !label->isHidden())
                missing = std::max(missing, label->heightForWidth(label->width()) - label->height());
        if (missing <= 0)
            break;
        dialog.resize(width, dialog.height() + missing);
    }
}
