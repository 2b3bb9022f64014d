#pragma once

#include <QImage>
#include <QProcess>
#include <QString>
#include <QtTest/QtTest>

namespace ktr::test {

// Gives the test process its own HOME, XDG folders, XDG_RUNTIME_DIR (0700) and TMPDIR below one
// temporary root, removed at exit, so no test touches the user's real data. Call before the
// application object exists; KTR_TEST_MAIN does.
void prepareEnvironment();

// The temporary root of this test process.
QString testRoot();

// A fresh empty folder below the test root.
QString freshDir(const QString& name);

// Starts a D-Bus daemon of the test's own, listening in a fresh folder below the test root, and returns its
// address (empty when no dbus-daemon is installed or it did not start). Its configuration names no service
// folders, so a name nobody owns stays unowned even where a desktop's service (a file manager owning
// "org.freedesktop.FileManager1", say) is installed to be started on demand.
QString startPrivateBus(QProcess& daemon);

// Writes bytes to a file, creating parent folders; returns false on failure.
bool writeFile(const QString& path, const QByteArray& bytes);
QByteArray readFile(const QString& path);

// Saves a rendered picture as <name>.png into $KTR_SHOT_DIR when that is set, so a person can look at
// what a test drew; does nothing otherwise.
void saveShot(const QImage& image, const QString& name);

} // namespace ktr::test

// Like QTEST_MAIN, with the isolated environment and the program's own names set.
#define KTR_TEST_MAIN(TestObject)                                                                                      \
    int main(int argc, char** argv)                                                                                    \
    {                                                                                                                  \
        ktr::test::prepareEnvironment();                                                                               \
        QApplication app(argc, argv);                                                                                  \
        QApplication::setApplicationName(QStringLiteral("KestrunePanel"));                                             \
        QApplication::setOrganizationName(QStringLiteral("Kestrune"));                                                 \
        QTEST_DISABLE_KEYPAD_NAVIGATION                                                                                \
        TestObject tc;                                                                                                 \
        QTEST_SET_MAIN_SOURCE_PATH                                                                                     \
        return QTest::qExec(&tc, argc, argv);                                                                          \
    }
