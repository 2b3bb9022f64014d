#include "ui/cardexec.h"

#include <QDialog>

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
