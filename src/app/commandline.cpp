#include "app/commandline.h"

#include "app/qmain.h"
#include "ui/lang.h"

#include <cstdio>
#include <cstdlib>

namespace commandline {

namespace {

// Qt's own options, taken by the application object; the ones with a value take the next argument. Qt reads
// them with one or two dashes.
const QStringList& qtOptionsWithValue()
{
    static const QStringList names = {
        QStringLiteral("platform"),
        QStringLiteral("platformpluginpath"),
        QStringLiteral("platformtheme"),
        QStringLiteral("plugin"),
        QStringLiteral("qwindowgeometry"),
        QStringLiteral("qwindowicon"),
        QStringLiteral("qwindowtitle"),
        QStringLiteral("display"),
        QStringLiteral("geometry"),
        QStringLiteral("title"),
        QStringLiteral("name"),
        QStringLiteral("session"),
        QStringLiteral("style"),
        QStringLiteral("stylesheet"),
    };
    return names;
}

const QStringList& qtFlags()
{
    static const QStringList names = {QStringLiteral("reverse"), QStringLiteral("widgetcount"),
                                      QStringLiteral("nograb"), QStringLiteral("dograb"), QStringLiteral("sync")};
    return names;
}

QString qtOptionName(const QString& arg)
{
    if (arg.startsWith(QLatin1String("--")))
        return arg.mid(2);
    return arg.mid(1);
}

QString helpText()
{
    QString t;
    t += Lang::tr("用法：kestrune-panel [选项]") + QLatin1Char('\n');
    t += Lang::tr("不带选项时打开青岚舟面板（每个用户只运行一个，再次启动会唤醒已打开的面板）。") + QLatin1Char('\n');
    t += QLatin1Char('\n');
    t += Lang::tr("运行方式：") + QLatin1Char('\n');
    t += QStringLiteral("  --agent               ") + Lang::tr("后台服务：只有托盘图标和本地接口，需要时再打开面板") +
         QLatin1Char('\n');
    t += QStringLiteral("  --icon-probe=FOLDER   ") + Lang::tr("图标诊断：把取到的图标写入该文件夹后退出") +
         QLatin1Char('\n');
    t += QStringLiteral("  --ui-preview=FOLDER   ") + Lang::tr("界面预览：把对话框和设置页的截图写入该文件夹后退出") +
         QLatin1Char('\n');
    t += QLatin1Char('\n');
    t += Lang::tr("其他选项：") + QLatin1Char('\n');
    t += QStringLiteral("  -h, --help            ") + Lang::tr("显示本帮助后退出") + QLatin1Char('\n');
    t += QStringLiteral("  --version             ") + Lang::tr("显示版本号后退出") + QLatin1Char('\n');
    t += Lang::tr("Qt 的标准选项（如 -platform、-display、-style）交给 Qt 处理。") + QLatin1Char('\n');
    return t;
}

} // namespace

Answer answer(const QStringList& args, int language)
{
    const int before = Lang::language();
    Lang::setLanguage(language);
    Answer a;
    for (int i = 0; i < args.size(); ++i) {
        const QString& arg = args.at(i);
        if (arg == QLatin1String("--help") || arg == QLatin1String("-h")) {
            a = {true, 0, helpText(), {}};
            break;
        }
        if (arg == QLatin1String("--version")) {
            a = {true, 0, QStringLiteral("kestrune-panel ") + panelVersionString() + QLatin1Char('\n'), {}};
            break;
        }
        // Arguments that are not options are left to the run, as they always were.
        if (!arg.startsWith(QLatin1Char('-')) || arg == QLatin1String("-"))
            continue;
        if (arg == QLatin1String("--agent") || arg.startsWith(QLatin1String("--icon-probe=")) ||
            arg.startsWith(QLatin1String("--ui-preview=")))
            continue;
        const QString qtName = qtOptionName(arg);
        if (qtOptionsWithValue().contains(qtName)) {
            ++i;
            continue;
        }
        if (qtFlags().contains(qtName) || qtName.startsWith(QLatin1String("qmljsdebugger=")))
            continue;
        a = {
            true, 2, {}, Lang::tr("kestrune-panel：未知选项 %1（--help 列出可用的选项）").arg(arg) + QLatin1Char('\n')};
        break;
    }
    Lang::setLanguage(before);
    return a;
}

int terminalLanguage()
{
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(name);
        if (value && *value)
            return QByteArray(value).startsWith("zh") ? 0 : 1;
    }
    return 1;
}

int answerAndExit(int argc, char** argv)
{
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    const Answer a = answer(args, terminalLanguage());
    if (!a.answered)
        return -1;
    if (!a.out.isEmpty()) {
        std::fputs(a.out.toLocal8Bit().constData(), stdout);
        std::fflush(stdout);
    }
    if (!a.err.isEmpty()) {
        std::fputs(a.err.toLocal8Bit().constData(), stderr);
        std::fflush(stderr);
    }
    return a.exitCode;
}

} // namespace commandline
