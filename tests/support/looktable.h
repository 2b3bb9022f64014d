#pragma once

#include <QtTest>

namespace ktr::test {

// The columns "dark" and "language" with a row for each palette in each language: the table every render
// that must be looked at in both themes and both languages is driven by.
inline void addThemeAndLanguageRows()
{
    QTest::addColumn<bool>("dark");
    QTest::addColumn<int>("language");
    QTest::newRow("light-zh") << false << 0;
    QTest::newRow("dark-zh") << true << 0;
    QTest::newRow("light-en") << false << 1;
    QTest::newRow("dark-en") << true << 1;
}

} // namespace ktr::test
