#include "support/logviewerdialog.h"

#include "platform/fsentry.h"

#include "platform/clock.h"
#include "platform/localcodepage.h"
#include "platform/sysinfo.h"
#include "platform/version.h"
#include "support/logexport.h"
#include "ui/background.h"
#include "ui/datadir.h"
#include "ui/dialogseams.h"
#include "ui/lang.h"
#include "ui/log.h"
#include "ui/screenfit.h"
#include "ui/theme.h"
#include "ui/uisignals.h"
#include "ui/windowcorners.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QStringDecoder>
#include <QUrl>
#include <QVBoxLayout>

namespace {

// The log file's path, shortened in the middle to the room the card leaves it (the file name and the start
// of the folder stay readable); the whole path is its tooltip.
class PathLabel : public QLabel
{
public:
    using QLabel::QLabel;
    void setPath(const QString& path)
    {
        m_path = path;
        setToolTip(path);
        elide();
    }

protected:
    void resizeEvent(QResizeEvent* event) override
    {
        QLabel::resizeEvent(event);
        elide();
    }
    void changeEvent(QEvent* event) override
    {
        QLabel::changeEvent(event);
        if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange)
            elide();
    }

private:
    void elide()
    {
        const QString shown = fontMetrics().elidedText(m_path, Qt::ElideMiddle, std::max(0, contentsRect().width()));
        if (shown != text())
            setText(shown);
    }

    QString m_path;
};

QString labelStyleSheet(const QColor& colour, const QString& pixelSize, bool bold)
{
    return QStringLiteral("color:%1;font-size:%2px;%3font-family:'Microsoft YaHei UI';background:transparent;")
        .arg(colour.name(), pixelSize, bold ? QStringLiteral("font-weight:bold;") : QString());
}

QFrame* makeInfoSeparator()
{
    auto* sep = new QFrame;
    sep->setObjectName(QStringLiteral("infoSep"));
    sep->setFrameShape(QFrame::VLine);
    sep->setFixedWidth(1);
    return sep;
}

QString programVersion()
{
    const QString v = ktr::platform::compiledVersion();
    return v.isEmpty() ? QStringLiteral("0.0.0") : v;
}

} // namespace

QString readLogTail(const QString& path)
{
    // A named pipe in the log's place would wait for a writer with the window frozen: only a regular file.
    if (!ktr::platform::isRegularFile(path))
        return QString();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    QByteArray bytes;
    bool cut = false;
    const qint64 size = file.size();
    if (size <= LogViewerDialog::kTailBytes) {
        bytes = file.readAll();
    } else {
        if (!file.seek(size - LogViewerDialog::kTailBytes))
            return QString();
        bytes = file.readAll();
        const qsizetype nl = bytes.indexOf('\n');
        if (nl >= 0)
            bytes.remove(0, nl + 1);
        cut = true;
    }
    file.close();
    QString text = decodeLogText(bytes, ktr::platform::localCodePageName());
    if (cut)
        text.prepend(Lang::tr("（日志较大，仅显示最近 8 MB）") + QStringLiteral("\n\n"));
    return text;
}

QString decodeLogText(const QByteArray& bytes, const QByteArray& codePage)
{
    if (bytes.size() >= 3 && bytes.startsWith("\xEF\xBB\xBF"))
        return QString::fromUtf8(bytes.constData() + 3, bytes.size() - 3);
    // Line by line, so one line of another encoding doesn't spoil the UTF-8 lines around it.
    QStringDecoder local(codePage.constData(), QStringDecoder::Flag::Stateless);
    const QList<QByteArray> lines = bytes.split('\n');
    QStringList decoded;
    decoded.reserve(lines.size());
    for (const QByteArray& line : lines) {
        QString s = QString::fromUtf8(line);
        if (!line.isEmpty() && s.contains(QChar::ReplacementCharacter))
            s = local.isValid() ? QString(local.decode(line)) : QString::fromLatin1(line);
        decoded.append(s);
    }
    return decoded.join(QLatin1Char('\n'));
}

QString chooseLogFile(const QString& root, const QDate& today)
{
    if (root.isEmpty())
        return QString();
    const QString todays =
        root + QLatin1Char('/') + today.toString(QStringLiteral("yyyy-MM-dd")) + QStringLiteral("/app.log");
    if (QFileInfo::exists(todays))
        return todays;
    const QStringList names = QDir(root).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name | QDir::Reversed);
    for (const QString& name : names) {
        const QString candidate = root + QLatin1Char('/') + name + QStringLiteral("/app.log");
        if (QFileInfo::exists(candidate))
            return candidate;
    }
    return todays;
}

QRect LogViewerDialog::geometryFor(const QRect& parent)
{
    const int w = std::min(parent.width(), 920);
    const int h = std::clamp(parent.height() - 40, 480, 680);
    return QRect(parent.x() + (parent.width() - w) / 2, parent.y() + (parent.height() - h) / 2, w, h);
}

QRect LogViewerDialog::closeRectFor(int width)
{
    return QRect(width - 44, 10, 34, 30);
}

LogViewerDialog::LogViewerDialog(const QString& dataDir, QWidget* parent)
    : QDialog(parent), m_dataDir(dataDir), m_zipCancel(std::make_shared<std::atomic<bool>>(false))
{
    setWindowFlags(windowFlags() | Qt::FramelessWindowHint);
    setAttribute(Qt::WA_TranslucentBackground);
    keepOnScreen(this);
    followCompositing(this, [] { return currentTheme().windowBackground; });
    setMouseTracking(true);
    setModal(true);
    setWindowTitle(Lang::tr("运行日志"));
    connect(&UiSignals::instance(), &UiSignals::languageChanged, this,
            [this] { setWindowTitle(Lang::tr("运行日志")); });

    if (parent) {
        const QWidget* top = parent->window();
        const QRect g(top->mapToGlobal(QPoint(0, 0)), top->size());
        // Over the panel, but whole on its screen however near an edge the panel stands.
        setGeometry(keptWithin(geometryFor(g), availableGeometryAt(g.center())));
    } else {
        setGeometry(120, 120, 920, 680);
    }

    auto* root = new QVBoxLayout(this);
    root->setContentsMargins(20, 0, 20, 0);
    root->setSpacing(0);

    auto* header = new QVBoxLayout;
    header->setContentsMargins(36, 16, 0, 8);
    header->setSpacing(0);
    m_title = new QLabel(Lang::tr("运行日志"), this);
    header->addWidget(m_title);
    root->addLayout(header);

    auto* card = new QFrame(this);
    card->setObjectName(QStringLiteral("infoCard"));
    auto* cardRow = new QHBoxLayout(card);
    cardRow->setContentsMargins(16, 9, 16, 9);
    cardRow->setSpacing(18);
    const char* captions[3] = {"版本", "系统", "日志文件"};
    QLabel** values[3] = {&m_versionValue, &m_systemValue, &m_fileValue};
    for (int i = 0; i < 3; ++i) {
        auto* column = new QVBoxLayout;
        column->setSpacing(2);
        m_captions[i] = new QLabel(Lang::tr(captions[i]), card);
        m_captions[i]->setTextInteractionFlags(Qt::NoTextInteraction);
        *values[i] = i == 2 ? new PathLabel(card) : new QLabel(card);
        (*values[i])->setTextInteractionFlags(Qt::TextSelectableByMouse);
        // Version and system show whole; a long log path is what gives way, never widening the window.
        if (i == 2) {
            (*values[i])->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
            (*values[i])->setMinimumWidth(60);
        }
        column->addWidget(m_captions[i]);
        column->addWidget(*values[i]);
        if (i > 0)
            cardRow->addWidget(makeInfoSeparator());
        cardRow->addLayout(column, i == 2 ? 1 : 0);
    }
    root->addWidget(card);

    auto* tools = new QHBoxLayout;
    tools->setContentsMargins(0, 12, 0, 10);
    tools->setSpacing(8);
    const char* labels[5] = {"刷新", "复制日志", "日志文件夹", "导出文本", "导出压缩包"};
    void (LogViewerDialog::*handlers[5])() = {&LogViewerDialog::reload, &LogViewerDialog::copyLog,
                                              &LogViewerDialog::openLogFolder, &LogViewerDialog::exportText,
                                              &LogViewerDialog::exportZip};
    for (int i = 0; i < 5; ++i) {
        m_buttons[i] = new QPushButton(Lang::tr(labels[i]), this);
        m_buttons[i]->setCursor(Qt::PointingHandCursor);
        m_buttons[i]->setMinimumHeight(30);
        connect(m_buttons[i], &QPushButton::clicked, this, handlers[i]);
        tools->addWidget(m_buttons[i]);
    }
    m_buttons[0]->setObjectName(QStringLiteral("primary"));
    tools->addStretch(1);
    m_autoScroll = new QCheckBox(Lang::tr("自动滚动"), this);
    m_autoScroll->setChecked(true);
    tools->addWidget(m_autoScroll);
    root->addLayout(tools);

    auto* logCard = new QFrame(this);
    logCard->setObjectName(QStringLiteral("logCard"));
    auto* logRow = new QHBoxLayout(logCard);
    logRow->setContentsMargins(12, 10, 10, 10);
    m_logView = new QPlainTextEdit(logCard);
    m_logView->setReadOnly(true);
    m_logView->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_logView->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    QFont mono(QStringLiteral("Consolas"), 9);
    mono.setFamilies({QStringLiteral("Consolas"), QStringLiteral("Courier New"), QStringLiteral("Microsoft YaHei UI")});
    m_logView->setFont(mono);
    logRow->addWidget(m_logView);
    root->addWidget(logCard, 1);

    auto* footer = new QHBoxLayout;
    footer->setContentsMargins(0, 0, 0, 10);
    footer->setSpacing(8);
    m_statusLabel = new QLabel(this);
    m_timeLabel = new QLabel(this);
    m_timeLabel->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    footer->addWidget(m_statusLabel, 1);
    footer->addWidget(m_timeLabel);
    root->addLayout(footer);

    m_closeRect = closeRectFor(width());
    applyTheme();
    reload();
}

LogViewerDialog::~LogViewerDialog()
{
    // A running zip stops and removes its partial; its watcher dies with the dialog, so nothing reports here.
    m_zipCancel->store(true);
}

void LogViewerDialog::showFor(QWidget* parent, const QString& dataDir)
{
    LogViewerDialog dialog(dataDir.isEmpty() ? appDataDir() : dataDir, parent);
    dialog.exec();
}

void LogViewerDialog::applyTheme()
{
    const Theme& t = currentTheme();
    const bool dark = t.isDark;
    m_title->setStyleSheet(labelStyleSheet(t.text, QStringLiteral("17"), true));
    for (QLabel* caption : m_captions)
        caption->setStyleSheet(labelStyleSheet(t.mutedText, QStringLiteral("10"), false));
    for (QLabel* value : {m_versionValue, m_systemValue, m_fileValue})
        value->setStyleSheet(labelStyleSheet(t.text, QStringLiteral("12"), true));
    m_statusLabel->setStyleSheet(labelStyleSheet(t.mutedText, QStringLiteral("11"), false));
    m_timeLabel->setStyleSheet(labelStyleSheet(t.mutedText, QStringLiteral("11"), false));

    const QString cardFill = dark ? QStringLiteral("#202020") : QStringLiteral("#F7F8FB");
    const QString cardLine = dark ? QStringLiteral("#2E2E2E") : QStringLiteral("#E6E8EE");
    const QString logFill = dark ? QStringLiteral("#1B1B1B") : QStringLiteral("#FFFFFF");
    for (QFrame* frame : findChildren<QFrame*>()) {
        if (frame->objectName() == QLatin1String("infoCard")) {
            frame->setStyleSheet(QStringLiteral("QFrame#infoCard{background:%1;border:1px solid %2;border-radius:8px;}")
                                     .arg(cardFill, cardLine));
            frame->setContentsMargins(0, 0, 0, 0);
        } else if (frame->objectName() == QLatin1String("infoSep")) {
            frame->setStyleSheet(QStringLiteral("QFrame#infoSep{background:%1;border:none;}").arg(cardLine));
        } else if (frame->objectName() == QLatin1String("logCard")) {
            frame->setStyleSheet(QStringLiteral("QFrame#logCard{background:%1;border:1px solid %2;border-radius:8px;}")
                                     .arg(logFill, cardLine));
        }
    }
    const QString secondary =
        QStringLiteral(
            "QPushButton{background:%1;color:%2;border:1px solid %3;border-radius:6px;padding:5px 16px;"
            "font-size:12px;font-family:'Microsoft YaHei UI';}QPushButton:hover{background:%4;border-color:%5;"
            "color:%5;}QPushButton:pressed{background:%5;color:#FFFFFF;}")
            .arg(dark ? QStringLiteral("#2A2A2A") : QStringLiteral("#FFFFFF"),
                 dark ? QStringLiteral("#E6E6E6") : QStringLiteral("#1A1A1A"), t.controlBorder.name(),
                 dark ? QStringLiteral("#333333") : QStringLiteral("#F2F3F6"), t.accentHover.name());
    for (QPushButton* b : m_buttons)
        b->setStyleSheet(secondary);
    m_buttons[0]->setStyleSheet(
        QStringLiteral("QPushButton{background:%1;color:%2;border:1px solid %3;border-radius:6px;padding:5px 16px;"
                       "font-size:12px;font-weight:bold;font-family:'Microsoft YaHei UI';}QPushButton:hover{"
                       "background:%3;color:#FFFFFF;border-color:%3;}")
            .arg(t.accentSoft.name(), t.accent.name(), t.accent.name()));
    m_autoScroll->setStyleSheet(
        QStringLiteral("QCheckBox{color:%1;font-size:12px;font-family:'Microsoft YaHei UI';background:transparent;"
                       "spacing:5px;}QCheckBox::indicator{width:15px;height:15px;border:1px solid %2;border-radius:3px;"
                       "background:%3;}QCheckBox::indicator:checked{background:%4;border-color:%4;}")
            .arg(t.text.name(), t.controlBorder.name(), dark ? QStringLiteral("#333333") : QStringLiteral("#FFFFFF"),
                 t.accent.name()));
    m_logView->setStyleSheet(
        QStringLiteral(
            "QPlainTextEdit{background:%1;color:%2;border:none;font-family:'Consolas','Microsoft YaHei UI',monospace;"
            "font-size:12px;selection-background-color:%3;}QScrollBar:vertical{background:transparent;width:10px;"
            "margin:2px;}QScrollBar::handle:vertical{background:%4;border-radius:4px;min-height:30px;}"
            "QScrollBar:horizontal{background:transparent;height:10px;margin:2px;}QScrollBar::handle:horizontal{"
            "background:%4;border-radius:4px;min-width:30px;}QScrollBar::add-line:vertical,QScrollBar::sub-line:"
            "vertical{height:0;}QScrollBar::add-line:horizontal,QScrollBar::sub-line:horizontal{width:0;}")
            .arg(QStringLiteral("transparent"), dark ? QStringLiteral("#D8D8D8") : QStringLiteral("#20242C"),
                 t.accent.name(), dark ? QStringLiteral("#4A4A4A") : QStringLiteral("#C9CDD6")));
    update();
}

void LogViewerDialog::reload()
{
    const QString version = programVersion();
    const QString system = ktr::platform::systemDescription();
    m_versionValue->setText(QStringLiteral("v") + version);
    m_systemValue->setText(system);

    const QString root = logRootDir();
    const QString path = chooseLogFile(root, logexport::clock()->now().date());
    static_cast<PathLabel*>(m_fileValue)->setPath(QDir::toNativeSeparators(path));

    QString content;
    if (path.isEmpty()) {
        content = Lang::tr("(暂无日志文件)\n");
    } else {
        const QString older = QFileInfo(path).absolutePath() + QStringLiteral("/app.1.log");
        if (QFileInfo::exists(older))
            content = readLogTail(older) + QLatin1Char('\n');
        content += readLogTail(path);
    }

    const QScreen* screen = QGuiApplication::primaryScreen();
    QString header;
    header += Lang::tr("日志文件: %1\n").arg(QDir::toNativeSeparators(path));
    header += Lang::tr("命令行: %1\n").arg(QCoreApplication::arguments().join(QLatin1Char(' ')));
    header += Lang::tr("可执行文件: %1\n").arg(QDir::toNativeSeparators(QCoreApplication::applicationFilePath()));
    header += Lang::tr("工作目录: %1\n").arg(QDir::toNativeSeparators(QDir::currentPath()));
    header += Lang::tr("数据目录: %1\n").arg(QDir::toNativeSeparators(m_dataDir));
    header += Lang::tr("设置文件: %1\n").arg(QDir::toNativeSeparators(m_dataDir + QStringLiteral("/settings.json")));
    header += Lang::tr("日志根目录: %1\n").arg(QDir::toNativeSeparators(root));
    header += Lang::tr("程序版本: v%1\n").arg(version);
    header += Lang::tr("系统版本: %1\n").arg(system);
    header += Lang::tr("Qt 版本: %1\n").arg(QStringLiteral(QT_VERSION_STR));
    header += Lang::tr("屏幕: %1 (DPR %2)\n")
                  .arg(screen ? screen->name() : QString(),
                       QString::number(screen ? screen->devicePixelRatio() : 1.0, 'g', 6));
    header += QString(56, QChar(0x2500)) + QStringLiteral("\n\n");

    m_logView->setPlainText(header + content);
    QScrollBar* bar = m_logView->verticalScrollBar();
    if (m_autoScroll->isChecked()) {
        m_logView->moveCursor(QTextCursor::End);
        bar->setValue(bar->maximum());
    } else {
        m_logView->moveCursor(QTextCursor::Start);
        bar->setValue(0);
    }
    updateStatus();
}

void LogViewerDialog::updateStatus()
{
    m_statusLabel->setText(Lang::tr("%1 行 · 明文展示").arg(m_logView->document()->blockCount()));
    m_timeLabel->setText(Lang::tr("更新于 %1").arg(QTime::currentTime().toString(QStringLiteral("hh:mm:ss"))));
}

void LogViewerDialog::copyLog()
{
    QGuiApplication::clipboard()->setText(m_logView->toPlainText());
    m_statusLabel->setText(Lang::tr("已复制 %1 行到剪贴板").arg(m_logView->document()->blockCount()));
}

void LogViewerDialog::openLogFolder()
{
    const QString root = logRootDir();
    if (!root.isEmpty())
        ktr::dialogs::openUrl(QUrl::fromLocalFile(root));
}

void LogViewerDialog::exportText()
{
    QString path = ktr::dialogs::saveFile(this, Lang::tr("导出日志文本"), logexport::defaultTextPath(),
                                          Lang::tr("文本文件 (*.txt)"));
    if (path.isEmpty())
        return;
    path = logexport::withDefaultSuffix(path, QStringLiteral(".txt"));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        m_statusLabel->setText(Lang::tr("导出失败，请检查目标路径是否可写"));
        return;
    }
    const QByteArray bytes = m_logView->toPlainText().toUtf8();
    const qint64 written = file.write(bytes);
    const bool flushed = file.flush();
    const QFileDevice::FileError state = file.error();
    file.close();
    if (written == bytes.size() && state == QFileDevice::NoError && flushed && file.error() == QFileDevice::NoError) {
        m_statusLabel->setText(Lang::tr("已导出：%1").arg(QDir::toNativeSeparators(path)));
    } else {
        qWarning().noquote() << "log export short write:" << path << written << bytes.size();
        m_statusLabel->setText(Lang::tr("导出失败：写入不完整，请检查磁盘空间"));
    }
}

void LogViewerDialog::exportZip()
{
    if (m_zipBusy)
        return;
    m_zipBusy = true;
    const QString root = logRootDir();
    if (root.isEmpty() || !QFileInfo(root).isDir()) {
        m_zipBusy = false;
        return;
    }
    QString target = ktr::dialogs::saveFile(this, Lang::tr("导出日志压缩包"), logexport::defaultZipPath(),
                                            Lang::tr("Zip 压缩包 (*.zip)"));
    if (target.isEmpty()) {
        m_zipBusy = false;
        return;
    }
    target = logexport::withDefaultSuffix(target, QStringLiteral(".zip"));
    const std::shared_ptr<std::atomic<bool>> cancel = m_zipCancel;
    ktr::platform::Clock* clock = logexport::clock();
    runInBackground(
        this,
        [root, target, cancel, clock] {
            QString error;
            const bool ok = logexport::zipFolder(root, target, cancel.get(), clock, &error);
            if (!ok)
                qWarning().noquote() << "log zip export failed:" << error;
            return ok;
        },
        [this, target](bool ok) { finishZipExport(ok, target); });
}

void LogViewerDialog::finishZipExport(bool ok, const QString& target)
{
    m_zipBusy = false;
    if (ok && QFileInfo::exists(target))
        m_statusLabel->setText(Lang::tr("已导出：%1").arg(QDir::toNativeSeparators(target)));
    else
        m_statusLabel->setText(Lang::tr("导出失败，请用「日志文件夹」手动复制"));
}

QString LogViewerDialog::text() const
{
    return m_logView->toPlainText();
}

QString LogViewerDialog::statusText() const
{
    return m_statusLabel->text();
}

void LogViewerDialog::resizeEvent(QResizeEvent* event)
{
    QDialog::resizeEvent(event);
    m_closeRect = closeRectFor(width());
}

void LogViewerDialog::mousePressEvent(QMouseEvent* event)
{
    m_closeRect = closeRectFor(width());
    if (event->button() == Qt::LeftButton) {
        const QPoint p = event->position().toPoint();
        if (m_closeRect.contains(p)) {
            close();
            return;
        }
        if (p.y() <= 51) {
            m_dragging = true;
            m_dragOffset = p;
            return;
        }
    }
    QDialog::mousePressEvent(event);
}

void LogViewerDialog::mouseMoveEvent(QMouseEvent* event)
{
    const QPoint p = event->position().toPoint();
    const bool hover = m_closeRect.contains(p);
    if (hover != m_closeHover) {
        m_closeHover = hover;
        setCursor(hover ? Qt::PointingHandCursor : Qt::ArrowCursor);
        update();
    }
    if (m_dragging) {
        move(event->globalPosition().toPoint() - m_dragOffset);
        return;
    }
    QDialog::mouseMoveEvent(event);
}

void LogViewerDialog::mouseReleaseEvent(QMouseEvent* event)
{
    m_dragging = false;
    QDialog::mouseReleaseEvent(event);
}

void LogViewerDialog::paintEvent(QPaintEvent*)
{
    const Theme& t = currentTheme();
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const int w = width();
    const int h = height();
    p.setPen(QPen(t.border, 1, Qt::SolidLine, Qt::SquareCap, Qt::BevelJoin));
    p.setBrush(t.windowBackground);
    const qreal radius = windowCornerRadius(12.0);
    p.drawRoundedRect(QRectF(0.5, 0.5, w - 1, h - 1), radius, radius);

    p.setPen(Qt::NoPen);
    p.setBrush(t.accentSoft);
    p.drawEllipse(QRectF(17, 15, 26, 26));
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(t.accent, 1.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawRoundedRect(QRectF(24, 20.5, 12, 15), 2.5, 2.5);
    p.drawLine(QPointF(27.5, 25.5), QPointF(32.5, 25.5));
    p.drawLine(QPointF(27.5, 29), QPointF(32.5, 29));
    p.drawLine(QPointF(27.5, 32.5), QPointF(30.5, 32.5));

    const QPointF c(m_closeRect.left() + m_closeRect.width() / 2.0, m_closeRect.top() + m_closeRect.height() / 2.0);
    if (m_closeHover) {
        p.setPen(Qt::NoPen);
        p.setBrush(t.barButtonHover);
        p.drawEllipse(c, 11, 11);
    }
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(m_closeHover ? t.text : t.textSecondary, 1.3, Qt::SolidLine, Qt::RoundCap, Qt::BevelJoin));
    p.drawLine(c + QPointF(-4, -4), c + QPointF(4, 4));
    p.drawLine(c + QPointF(4, -4), c + QPointF(-4, 4));
}
