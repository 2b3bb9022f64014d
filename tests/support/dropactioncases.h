#pragma once

#include <QTest>

// The drop actions a file drop from another program may be taken with, as rows of a QtTest table: a link, or a
// copy where no link is offered, never a move (after which the source may delete the originals). Shared by
// every widget that takes file drops.
inline void addFileDropActionRows()
{
    QTest::addColumn<int>("offered");
    QTest::addColumn<bool>("shift"); // the user asks the source for a move
    QTest::addColumn<int>("taken");  // IgnoreAction: refused
    const int moveCopy = int(Qt::MoveAction | Qt::CopyAction);
    QTest::newRow("move or copy") << moveCopy << false << int(Qt::CopyAction);
    QTest::newRow("move or copy, shift held") << moveCopy << true << int(Qt::CopyAction);
    QTest::newRow("move, copy or link") << int(moveCopy | Qt::LinkAction) << true << int(Qt::LinkAction);
    QTest::newRow("link only") << int(Qt::LinkAction) << false << int(Qt::LinkAction);
    QTest::newRow("move only") << int(Qt::MoveAction) << false << int(Qt::IgnoreAction);
}
