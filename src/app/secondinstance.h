#pragma once

// What a start does when another process of this user already holds the single-instance lock; returns the
// exit code (0).
int runSecondInstance(bool agentMode);

// Asks the agent of this user, over its socket, to bring up the panel; the reply is not read.
void agentRequestShow();
