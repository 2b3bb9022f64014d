#pragma once

#include <QDateTime>
#include <QString>
#include <QtGlobal>

// Texts of the backup page.
// Bytes as "N B" below 1 KiB, whole "N KB" below 1 MiB, else "N.N MB" (there is no larger unit).
QString formatByteSize(qint64 bytes);
// The interval button: 1 "每天", 3 "每 3 天", 7 "每周", 30 "每月", any other N as N + " 天" (translated).
QString backupIntervalLabel(int days);
// The retention button: N + " 份" (translated).
QString backupRetainLabel(int count);
// A snapshot's time as "yyyy/M/d h:mm", "—" when it is not known.
QString snapshotTimeText(const QDateTime& time);
// What the user reads when a backup operation (1 create, 2 restore, 3 export) failed with `message`: a
// sentence of ours is translated; anything else is a technical detail, which is logged, and a sentence
// for the operation is shown instead. A create or restore (which snapshots first) whose backupDir is, or
// lies below, a regular file is told so, as no other folder problem can be mended by the user this plainly.
QString backupFailureText(int op, const QString& message, const QString& backupDir = QString());
