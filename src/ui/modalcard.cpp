#include "ui/modalcard.h"

#include "ui/screenfit.h"
#include "ui/windowcorners.h"

#include <QDialog>
#include <QGraphicsDropShadowEffect>
#include <QVBoxLayout>

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
                        const CardShadow& shadow, const QColor& backdrop)
{
    dialog.setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
    dialog.setAttribute(Qt::WA_TranslucentBackground);
    dialog.setModal(true);
    keepOnScreen(&dialog);
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
    effect->setEnabled(windowsComposited());
    followCompositing(&dialog, [backdrop] { return backdrop; });
    QObject::connect(&CompositingSignals::instance(), &CompositingSignals::changed, effect,
                     [effect](bool composited) { effect->setEnabled(composited); });
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
}
