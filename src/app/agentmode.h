#pragma once

class QApplication;

// Runs the panel-less agent: the pipe server and a tray icon; returns the exit code.
int runAgentMode(QApplication& app);
