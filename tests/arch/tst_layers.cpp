#include "testenv.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QHash>
#include <QRegularExpression>
#include <QSet>

// The layers of the source folders: a folder includes only what its row allows (and itself). The table is the
// one the architecture notes give; a folder added under src/ must be given its row here.
namespace {

QHash<QString, QSet<QString>> layerTable()
{
    const QSet<QString> base{QStringLiteral("platform"), QStringLiteral("ui"), QStringLiteral("icons"),
                             QStringLiteral("model")};
    QSet<QString> layer3 = base;
    layer3 += {QStringLiteral("panel"), QStringLiteral("lock"), QStringLiteral("backup"), QStringLiteral("account"),
               QStringLiteral("recorder")};
    QSet<QString> layer4 = layer3;
    layer4 += {QStringLiteral("settings"), QStringLiteral("market"), QStringLiteral("support")};
    QSet<QString> layer5 = layer4;
    layer5 += QStringLiteral("preview");
    QSet<QString> layer6 = layer5;
    layer6 += QStringLiteral("mainwindow");

    const QSet<QString> subsystem{QStringLiteral("ui"), QStringLiteral("icons"), QStringLiteral("model"),
                                  QStringLiteral("platform")};
    // Layer 4 may use layers 0-2 and the panel; of the layer-3 subsystems only those named for it.
    QSet<QString> lower4 = base;
    lower4 += QStringLiteral("panel");
    QHash<QString, QSet<QString>> t;
    t.insert(QStringLiteral("platform"), {});
    t.insert(QStringLiteral("ui"), {QStringLiteral("platform")});
    t.insert(QStringLiteral("icons"), {QStringLiteral("ui"), QStringLiteral("platform")});
    t.insert(QStringLiteral("model"), {QStringLiteral("ui"), QStringLiteral("platform")});
    t.insert(QStringLiteral("panel"), {QStringLiteral("ui"), QStringLiteral("icons"), QStringLiteral("model")});
    for (const char* f : {"lock", "backup", "account", "recorder"})
        t.insert(QString::fromLatin1(f), subsystem);
    t.insert(QStringLiteral("settings"),
             lower4 + QSet<QString>{QStringLiteral("lock"), QStringLiteral("backup"), QStringLiteral("recorder")});
    t.insert(QStringLiteral("market"), lower4 + QSet<QString>{QStringLiteral("account")});
    t.insert(QStringLiteral("support"), lower4 + QSet<QString>{QStringLiteral("account")});
    t.insert(QStringLiteral("preview"), layer4);
    t.insert(QStringLiteral("mainwindow"), layer5);
    t.insert(QStringLiteral("app"), layer6);
    t.insert(QStringLiteral("resources"), {});
    return t;
}

// Every include of a source folder that the table does not allow, as "src/<folder>/<file>:<line>: ...", and
// every folder the table has no row for.
QStringList layerViolations(const QString& srcDir)
{
    const QHash<QString, QSet<QString>> table = layerTable();
    const QStringList folders = QDir(srcDir).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    const QSet<QString> known(folders.cbegin(), folders.cend());
    static const QRegularExpression include(QStringLiteral("^\\s*#\\s*include\\s*\"([A-Za-z0-9_]+)/([^\"]*)\""));
    QStringList out;
    for (const QString& folder : folders) {
        if (!table.contains(folder)) {
            out.append(QStringLiteral("src/%1: a folder the layer table has no row for").arg(folder));
            continue;
        }
        const QSet<QString>& allowed = table.value(folder);
        QDirIterator it(srcDir + QLatin1Char('/') + folder, {QStringLiteral("*.h"), QStringLiteral("*.cpp")},
                        QDir::Files, QDirIterator::Subdirectories);
        QStringList files;
        while (it.hasNext())
            files.append(it.next());
        files.sort();
        for (const QString& file : std::as_const(files)) {
            QFile f(file);
            if (!f.open(QIODevice::ReadOnly | QIODevice::Text)) {
                out.append(QStringLiteral("%1: unreadable").arg(file));
                continue;
            }
            const QString rel = QStringLiteral("src/") + QDir(srcDir).relativeFilePath(file);
            int line = 0;
            while (!f.atEnd()) {
                const QString text = QString::fromUtf8(f.readLine());
                ++line;
                const QRegularExpressionMatch m = include.match(text);
                if (!m.hasMatch())
                    continue;
                const QString target = m.captured(1);
                if (target == folder || !known.contains(target) || allowed.contains(target))
                    continue;
                out.append(QStringLiteral("%1:%2: %3/ may not include %4/%5")
                               .arg(rel)
                               .arg(line)
                               .arg(folder, target, m.captured(2)));
            }
        }
    }
    return out;
}

void writeSource(const QString& root, const QString& rel, const QByteArray& text)
{
    const QString path = root + QLatin1Char('/') + rel;
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(text);
}

} // namespace

class TestLayers : public QObject
{
    Q_OBJECT

private slots:
    // The program's own sources keep to the table.
    void sourcesKeepTheLayers()
    {
        const QStringList violations = layerViolations(QStringLiteral(KTR_SOURCE_DIR));
        QVERIFY2(violations.isEmpty(), qPrintable(QLatin1Char('\n') + violations.join(QLatin1Char('\n'))));
    }

    // The check itself, on a small tree: what it refuses and what it lets through.
    void checkerFindsUpwardIncludes_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QString>("expected"); // empty: allowed
        QTest::newRow("downward") << "panel/a.cpp" << QByteArray("#include \"icons/x.h\"\n") << QString();
        QTest::newRow("own folder") << "ui/a.h" << QByteArray("#include \"ui/b.h\"\n") << QString();
        QTest::newRow("qt header") << "ui/a.h" << QByteArray("#include <QWidget>\n") << QString();
        QTest::newRow("not a source folder") << "ui/a.h" << QByteArray("#include \"private/q.h\"\n") << QString();
        QTest::newRow("upward") << "ui/a.cpp" << QByteArray("// x\n#include \"panel/icongrid.h\"\n")
                                << "src/ui/a.cpp:2: ui/ may not include panel/icongrid.h";
        QTest::newRow("same layer") << "icons/a.cpp" << QByteArray("#  include \"model/m.h\"\n")
                                    << "src/icons/a.cpp:1: icons/ may not include model/m.h";
        QTest::newRow("panel skips platform") << "panel/a.cpp" << QByteArray("#include \"platform/p.h\"\n")
                                              << "src/panel/a.cpp:1: panel/ may not include platform/p.h";
        QTest::newRow("subsystems apart") << "market/a.cpp" << QByteArray("#include \"backup/b.h\"\n")
                                          << "src/market/a.cpp:1: market/ may not include backup/b.h";
        QTest::newRow("market uses account") << "market/a.cpp" << QByteArray("#include \"account/s.h\"\n") << QString();
        QTest::newRow("settings uses backup")
            << "settings/a.cpp" << QByteArray("#include \"backup/b.h\"\n") << QString();
        QTest::newRow("app uses everything") << "app/a.cpp" << QByteArray("#include \"mainwindow/w.h\"\n") << QString();
        QTest::newRow("unknown folder") << "extras/a.cpp" << QByteArray("\n")
                                        << "src/extras: a folder the layer table has no row for";
    }

    void checkerFindsUpwardIncludes()
    {
        QFETCH(QString, file);
        QFETCH(QByteArray, text);
        QFETCH(QString, expected);
        const QString root = ktr::test::freshDir(QStringLiteral("layers"));
        for (const char* f : {"platform", "ui", "icons", "model", "panel", "market", "account", "backup", "settings",
                              "mainwindow", "app"})
            QDir().mkpath(root + QLatin1Char('/') + QString::fromLatin1(f));
        writeSource(root, file, text);
        const QStringList violations = layerViolations(root);
        QCOMPARE(violations, expected.isEmpty() ? QStringList() : QStringList{expected});
    }
};

KTR_TEST_MAIN(TestLayers)
#include "tst_layers.moc"
