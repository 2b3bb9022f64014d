#pragma once

#include <QString>

// Texts of the help and about page.
// The build's compile date as "yyyy-MM-dd"; the compiler's text unchanged (simplified) when it won't parse.
QString buildDateString();
// The same for a compiler date text such as "Nov 12 2026" or "Jan  5 2026" (tests).
QString buildDateFrom(const QString& compilerDate);
// "major.minor.build" of the program, from the version the build compiled in; "0.0.0" when there is none.
QString fileVersionString();
// The site line of the about page (community: its community page): the host of the service in use, "—"
// without one.
QString aboutSiteText(bool community);
