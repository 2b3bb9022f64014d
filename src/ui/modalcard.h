#pragma once

#include <QColor>
#include <QPointF>
#include <QString>

#include <functional>

class QDialog;
class QWidget;

// The shell every modal card shares: a frameless, translucent, modal dialog whose only child is a card
// widget (object name `name`, styled by `styleSheet`) with a drop shadow, inside `margin` px of room for
// the shadow. Returns the card widget; the caller lays out its contents. Without a compositor, which would
// show the transparent room black, the room is painted in `backdrop` (the card's colour) and the shadow is
// left out.
struct CardShadow
{
    qreal blur;
    QPointF offset;
    QColor colour;
};
QWidget* buildCardShell(QDialog& dialog, const QString& name, int margin, const QString& styleSheet,
                        const CardShadow& shadow, const QColor& backdrop);
// Fixes the card's width and makes it as tall as its (wrapped) contents need at that width.
void fitCardToWidth(QDialog& dialog, int width);

// Runs a modal card (message card, hint card, progress card) with exec(), unless a test has installed a
// runner: then the runner gets the built, not yet shown card, may click its buttons or reject it, and
// returns what exec() would have returned. Every card of the program is run through here, so no test
// waits for a person.
using CardRunner = std::function<int(QDialog& card)>;

int execCard(QDialog& card);
// Installs a runner (an empty one restores exec()); returns the previous one.
CardRunner setCardRunner(CardRunner runner);

class ScopedCardRunner
{
public:
    explicit ScopedCardRunner(CardRunner runner) : m_previous(setCardRunner(std::move(runner))) {}
    ~ScopedCardRunner() { setCardRunner(std::move(m_previous)); }
    ScopedCardRunner(const ScopedCardRunner&) = delete;
    ScopedCardRunner& operator=(const ScopedCardRunner&) = delete;

private:
    CardRunner m_previous;
};
