#include "ui/uisignals.h"

UiSignals& UiSignals::instance()
{
    static UiSignals* hub = new UiSignals; // lives as long as the process; never destroyed at exit
    return *hub;
}
