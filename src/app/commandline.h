#pragma once

#include <QString>
#include <QStringList>

// The switches the program answers on the terminal: "--help" (or "-h") and "--version" print and end the
// process, an option the program does not have is refused. All of it happens before any application
// object exists, so it needs no display and touches neither the data folder nor the log.
namespace commandline {

struct Answer
{
    bool answered = false; // false: start the run the arguments choose
    int exitCode = 0;
    QString out; // for the standard output
    QString err; // for the standard error (one line)
};

// args without the program name. A language of 1 gives the English texts (see Lang).
Answer answer(const QStringList& args, int language);

// The language of the terminal: English unless LC_ALL, LC_MESSAGES or LANG (the first one set) names
// Chinese.
int terminalLanguage();

// Prints the answer and returns its exit code when there is one; -1 when the run goes on.
int answerAndExit(int argc, char** argv);

} // namespace commandline
