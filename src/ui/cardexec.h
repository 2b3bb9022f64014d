#pragma once

#include <functional>

class QDialog;

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
