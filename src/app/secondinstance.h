#pragma once

#include <functional>

// How a start that finds the single-instance lock held hands over to its holder. The holder may have
// taken the lock a moment ago and not listen yet (an agent and a panel started together), so the hand-over
// is tried again for a short while before the start gives up.
struct HandOver
{
    std::function<bool()> wakePanel; // true when a panel answered the wake request
    std::function<bool()> askAgent;  // true when an agent took the request to show the panel
    std::function<void(int ms)> wait;
    int attempts = 20;
    int intervalMs = 100;
};

// The real wake channel, agent socket and a blocking wait.
HandOver defaultHandOver();

// What a start does when another process of this user already holds the single-instance lock; returns the
// exit code (0).
int runSecondInstance(bool agentMode, const HandOver& handOver = defaultHandOver());

// Asks the agent of this user, over its socket, to bring up the panel; the reply is not read. True when
// the request was written to a listening agent.
bool agentRequestShow();
