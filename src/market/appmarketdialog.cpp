#include "market/appmarketdialog.h"

#include "account/appstat.h"
#include "account/marketapps.h"
#include "market/marketfiles.h"
#include "market/packagecache.h"
#include "platform/processes.h"
#include "ui/dialogseams.h"
#include "ui/lang.h"
#include "ui/screenfit.h"
#include "ui/theme.h"
#include "ui/uisignals.h"
#include "ui/windowcorners.h"

#include <QClipboard>
#include <QCloseEvent>
#include <QCursor>
#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QGuiApplication>
#include <QHash>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPointer>
#include <QScreen>
#include <QTimer>
#include <QToolTip>
#include <QUrl>
#include <QWheelEvent>
#include <QWindow>

#include <utility>

namespace {

// Ends every process whose program lies in the app's folder, and what those started.
int endAppProcesses(const QString& appDir)
{
    QList<ktr::platform::ProcessEntry> snapshot;
    if (!ktr::platform::snapshotProcesses(&snapshot))
        return 0;
    return terminateMarketAppsIn(appDir, snapshot, ktr::platform::currentProcessId(), ktr::platform::killProcess,
                                 nullptr);
}

} // namespace

AppMarketDialog::AppMarketDialog(QWidget* parent)
    : QWidget(parent, Qt::Dialog | Qt::FramelessWindowHint), m_reportAppStat(reportAppStat),
      m_endProcesses(endAppProcesses), m_now([] { return QDateTime::currentMSecsSinceEpoch(); })
{
    setAttribute(Qt::WA_TranslucentBackground);
    keepOnScreen(this);
    followCompositing(this, [] { return QColor(currentTheme().isDark ? 0x23262E : 0xF7F8FB); });
    setMouseTracking(true);
    // On the panel's screen (the parent's), centred.
    const QScreen* screen = parent && parent->screen() ? parent->screen() : QGuiApplication::primaryScreen();
    if (screen) {
        const QRect avail = screen->availableGeometry();
        m_w = std::clamp(avail.width() - 40, 640, 780);
        m_h = std::clamp(avail.height() - 80, 420, 540);
        setFixedSize(m_w, m_h);
        move(avail.center() - QPoint(m_w / 2, m_h / 2));
    } else {
        setFixedSize(m_w, m_h);
    }
    m_cardW = (m_w - 44) / 2;
    setWindowTitle(Lang::tr("应用市场"));

    m_search = new QLineEdit(this);
    m_search->setPlaceholderText(Lang::tr("搜索应用…"));
    m_search->setClearButtonEnabled(true);
    m_search->setGeometry(m_w - 226, 51, 210, 22);
    applySearchStyle();
    connect(m_search, &QLineEdit::textChanged, this, [this](const QString& text) {
        m_market.setSearchText(text);
        m_scrollY = 0;
        update();
    });

    m_repaintTimer = new QTimer(this);
    m_repaintTimer->setSingleShot(true);
    m_repaintTimer->setInterval(50);
    connect(m_repaintTimer, &QTimer::timeout, this, qOverload<>(&QWidget::update));

    connect(&m_market, &MarketCatalogue::changed, this, [this] {
        if (!m_repaintTimer->isActive())
            m_repaintTimer->start();
    });
    connect(&m_market, &MarketCatalogue::listReplaced, this, [this] { m_scrollY = 0; });
    connect(&m_market, &MarketCatalogue::loginRequested, this, &AppMarketDialog::loginRequested);
    connect(&m_market, &MarketCatalogue::packageVerified, this, [this](const QString& id, const QString& path) {
        if (AppRow* row = m_market.findRow(id))
            startExtract(*row, path);
    });
    connect(&UiSignals::instance(), &UiSignals::languageChanged, this, [this] {
        setWindowTitle(Lang::tr("应用市场"));
        m_search->setPlaceholderText(Lang::tr("搜索应用…"));
        update();
    });
    connect(&UiSignals::instance(), &UiSignals::themeChanged, this, [this] {
        applySearchStyle();
        update();
    });
}

AppMarketDialog::~AppMarketDialog() = default;

void AppMarketDialog::setToken(const QString& token)
{
    m_token = token;
    m_market.setToken(token);
    if (token.isEmpty() || m_actionAfterLogin.isEmpty())
        return;
    const QString id = std::exchange(m_actionAfterLogin, QString());
    AppRow* row = m_market.findRow(id);
    if (row && !row->downloading && !row->installing)
        runMainAction(*row);
    update();
}

void AppMarketDialog::applySearchStyle()
{
    if (!currentTheme().isDark) {
        m_search->setStyleSheet(QStringLiteral(
            "QLineEdit{background:#F4F6FA;color:#39404C;border:1px solid #E2E6EE;border-radius:11px;padding:0 8px;"
            "font-size:12px;}QLineEdit:focus{border-color:#2C6BE0;background:#FFFFFF;}"));
    } else {
        m_search->setStyleSheet(QStringLiteral(
            "QLineEdit{background:#2F353F;color:#D5D8E2;border:1px solid #414857;border-radius:11px;padding:0 8px;"
            "font-size:12px;}QLineEdit:focus{border-color:#4C8DF6;}"));
    }
}

void AppMarketDialog::setLocked(bool locked)
{
    if (m_locked == locked)
        return;
    m_locked = locked;
    if (locked) {
        hide();
        return;
    }
    const QList<QPair<QString, QString>> held = std::exchange(m_heldPanelAdds, {});
    for (const auto& add : held)
        Q_EMIT addToPanelRequested(add.first, add.second);
}

void AppMarketDialog::openAndRefresh(const QString& token)
{
    if (m_locked) {
        qWarning().noquote() << "market: not opened while the panel is locked";
        return;
    }
    setToken(token);
    loadRegistry();
    m_scrollY = 0;
    applySearchStyle();
    m_search->blockSignals(true);
    m_search->clear();
    m_search->blockSignals(false);
    m_market.searchText.clear();
    show();
    raise();
    activateWindow();
    sweepPackageCache();
    m_market.setIconPixelRatio(devicePixelRatioF());
    m_market.fetchSdkMin();
    m_market.fetchIndex(1);
    update();
}

int AppMarketDialog::tabOf(const AppRow& row)
{
    if (row.isWeb)
        return 1;
    return row.category == QStringLiteral("界面美化") ? 2 : 0;
}

QList<int> AppMarketDialog::visibleRows() const
{
    QList<int> out;
    for (int i = 0; i < m_market.rows.size(); ++i) {
        const AppRow& row = m_market.rows.at(i);
        if (tabOf(row) == m_selectedTab && m_market.matchesSearch(row))
            out.append(i);
    }
    return out;
}

// ---- mouse

bool AppMarketDialog::event(QEvent* event)
{
    if (event->type() == QEvent::ToolTip) {
        const auto* help = static_cast<QHelpEvent*>(event);
        for (const TipArea& tip : std::as_const(m_tips)) {
            if (tip.rect.contains(help->pos())) {
                QToolTip::showText(help->globalPos(), tip.text, this, tip.rect);
                return true;
            }
        }
        QToolTip::hideText();
        event->ignore();
        return true;
    }
    return QWidget::event(event);
}

int AppMarketDialog::hitTest(const QPoint& pos) const
{
    for (const HitArea& h : m_hits) {
        if (h.rect.contains(pos))
            return h.code;
    }
    return -1;
}

void AppMarketDialog::mouseMoveEvent(QMouseEvent* event)
{
    const int code = hitTest(event->position().toPoint());
    if (code != m_hoverCode) {
        m_hoverCode = code;
        update();
    }
    setCursor(code >= 0 ? Qt::PointingHandCursor : Qt::ArrowCursor);
}

void AppMarketDialog::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    const QPoint pos = event->position().toPoint();
    const int code = hitTest(pos);
    if (code >= 0) {
        m_pressedCode = code;
    } else if (pos.y() <= 44) {
        if (QWindow* w = windowHandle())
            w->startSystemMove();
    } else {
        m_pressedCode = -1;
    }
}

void AppMarketDialog::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    const int code = hitTest(event->position().toPoint());
    const int pressed = std::exchange(m_pressedCode, -1);
    if (code < 0 || code != pressed)
        return;
    onRelease(code);
}

void AppMarketDialog::onRelease(int code)
{
    if (m_locked)
        return; // a click that arrives after the lock was engaged does nothing
    if (code == CloseButton) {
        close();
        return;
    }
    if (code >= FirstTab && code <= FirstTab + 2) {
        m_selectedTab = code - FirstTab;
        m_scrollY = 0;
        update();
        return;
    }
    const int index = code / 256;
    if (index < 0 || index >= m_market.rows.size())
        return;
    AppRow& row = m_market.rows[index];
    switch (code & 0xFF) {
    case PauseButton:
        m_market.pauseDownload(row);
        update();
        return;
    case CancelButton:
        m_market.cancelDownload(row);
        update();
        return;
    default:
        break;
    }
    if (row.downloading || row.installing)
        return;
    if ((code & 0xFF) == MainButton) {
        if (m_token.isEmpty()) {
            // The login is asked for on the way to this card's action: a login made now carries it on
            // (setToken), one made later from elsewhere does not.
            m_actionAfterLogin = row.id;
            Q_EMIT loginRequested();
            m_actionAfterLogin.clear();
            return;
        }
        runMainAction(row);
    } else if ((code & 0xFF) == MenuButton) {
        showItemMenu(row);
    }
}

void AppMarketDialog::runMainAction(AppRow& row)
{
    if (row.isWeb) {
        if (isHttpUrl(row.url))
            ktr::dialogs::openUrl(QUrl(row.url));
    } else if (!row.installedVersion.isEmpty() && row.installedVersion == row.version) {
        launchApp(row.id);
    } else {
        m_market.fetchManifest(row);
    }
}

void AppMarketDialog::wheelEvent(QWheelEvent* event)
{
    const int limit = std::max(0, ((m_shown + 1) / 2) * 86 - m_h + 124);
    m_scrollY = std::clamp(m_scrollY - event->angleDelta().y() / 2, 0, limit);
    update();
    event->accept();
}

void AppMarketDialog::leaveEvent(QEvent* event)
{
    // A hover that ended outside the window must not stay lit (the close glyph would stay red).
    QWidget::leaveEvent(event);
    if (m_hoverCode != -1) {
        m_hoverCode = -1;
        update();
    }
}

void AppMarketDialog::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    m_hoverCode = -1;
    if (!m_noticeText.isEmpty() && m_noticeTimer && !m_noticeTimer->isActive())
        m_noticeTimer->start(6000);
}

void AppMarketDialog::closeEvent(QCloseEvent* event)
{
    // Closing only hides the window; it keeps its rows and downloads.
    QWidget::closeEvent(event);
}

void AppMarketDialog::keyPressEvent(QKeyEvent* event)
{
    // Escape closes the market as it closes every other window of the panel (the search field passes it on).
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        event->accept();
        close();
        return;
    }
    QWidget::keyPressEvent(event);
}

// ---- card menu

QList<AppMarketDialog::MenuEntry> AppMarketDialog::itemMenuEntries(const AppRow& row)
{
    QList<MenuEntry> entries;
    const QString id = row.id;
    if (row.isWeb) {
        const QString url = row.url;
        entries.append({Lang::tr("打开网页"), 0, true, [url] {
                            if (isHttpUrl(url))
                                ktr::dialogs::openUrl(QUrl(url));
                        }});
        entries.append({Lang::tr("复制链接"), 5, true, [url] { QGuiApplication::clipboard()->setText(url); }});
        return entries;
    }
    const bool installed = !row.installedVersion.isEmpty();
    QPointer<AppMarketDialog> self(this);
    auto withRow = [self, id](std::function<void(AppMarketDialog*, AppRow&)> f) {
        return [self, id, f] {
            if (!self)
                return;
            if (AppRow* r = self->m_market.findRow(id))
                f(self, *r);
        };
    };
    entries.append(
        {Lang::tr("打开"), 0, installed, withRow([](AppMarketDialog* d, AppRow& r) { d->launchApp(r.id); })});
    entries.append(
        {installed ? Lang::tr("重装") : Lang::tr("安装"), 1, true, withRow([](AppMarketDialog* d, AppRow& r) {
             if (r.downloading || r.installing)
                 return;
             r.errorText.clear();
             d->m_market.fetchManifest(r);
         })});
    entries.append({Lang::tr("打开所在位置"), 2, installed,
                    [id] { ktr::dialogs::openUrl(QUrl::fromLocalFile(appsRootDir() + u'/' + id)); }});
    entries.append(
        {Lang::tr("卸载"), 3, installed, withRow([](AppMarketDialog* d, AppRow& r) { d->uninstallApp(r); })});
    entries.append({Lang::tr("添加到面板"), 4, installed, withRow([](AppMarketDialog* d, AppRow& r) {
                        const QString launch = d->m_registry.value(r.id).launch;
                        const QString path = appsRootDir() + u'/' + r.id + u'/' + launch;
                        if (d->m_locked) {
                            qWarning().noquote() << "market: add to panel refused while the panel is locked:" << r.id;
                            return;
                        }
                        if (!launch.isEmpty() && QFileInfo(path).isFile())
                            Q_EMIT d->addToPanelRequested(r.name, path);
                    })});
    const QString demo = row.demo;
    entries.append({Lang::tr("演示官网"), 5, !demo.isEmpty(), [demo] {
                        if (isHttpUrl(demo))
                            ktr::dialogs::openUrl(QUrl(demo));
                    }});
    return entries;
}

void AppMarketDialog::showItemMenu(AppRow& row)
{
    const QList<MenuEntry> entries = itemMenuEntries(row);
    QMenu menu(this);
    // Its own popup window: without the theme's style it would take the system's light palette in the dark theme.
    applyThemedMenuStyle(&menu);
    QList<QAction*> actions;
    for (const MenuEntry& e : entries) {
        // A disabled entry's icon is dimmed as its text is: the style's own dimming turns it brighter than the
        // enabled ones on the dark menu.
        QIcon icon(menuIcon(e.iconKind));
        icon.addPixmap(menuIcon(e.iconKind, true), QIcon::Disabled);
        QAction* a = menu.addAction(icon, e.text);
        a->setEnabled(e.enabled);
        actions.append(a);
    }
    QAction* chosen = menu.exec(QCursor::pos());
    // The entries find their row again by id: the list may have been rebuilt while the menu was open.
    const int i = actions.indexOf(chosen);
    if (i >= 0 && entries.at(i).run)
        entries.at(i).run();
}

QPixmap AppMarketDialog::menuIcon(int kind, bool disabled)
{
    static QHash<int, QPixmap> cache;
    // The menu follows the theme, so do its icons: the grey of the light menu would vanish on the dark one.
    const bool dark = currentTheme().isDark;
    const int key = kind + (dark ? 256 : 0) + (disabled ? 512 : 0);
    if (const auto it = cache.constFind(key); it != cache.constEnd())
        return it.value();
    QPixmap pm(16, 16);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    // Disabled: the colour of the menu's disabled texts.
    const QColor c = disabled ? (dark ? QColor(0x6B, 0x72, 0x80) : QColor(0xA8, 0xAF, 0xBC))
                              : (dark ? QColor(0xB4, 0xBB, 0xC8) : QColor(0x55, 0x5F, 0x6E));
    QPen pen(c, kind >= 4 ? 1.2 : 1.3, Qt::SolidLine, Qt::RoundCap, kind >= 4 ? Qt::BevelJoin : Qt::RoundJoin);
    p.setPen(pen);
    switch (kind) {
    case 0: {
        QPainterPath tri;
        tri.moveTo(5.5, 4.5);
        tri.lineTo(12, 8);
        tri.lineTo(5.5, 11.5);
        tri.closeSubpath();
        p.fillPath(tri, c);
        break;
    }
    case 1:
        p.drawLine(QPointF(8, 3.5), QPointF(8, 10.2));
        p.drawPolyline(QList<QPointF>{{5, 7.4}, {8, 11.2}, {11, 7.4}});
        break;
    case 2:
        p.drawPolyline(QList<QPointF>{{4, 8.5}, {8, 4.2}, {12, 8.5}});
        p.drawPolyline(QList<QPointF>{{5.2, 7.5}, {5.2, 12}, {10.8, 12}, {10.8, 7.5}});
        break;
    case 3:
        p.drawLine(QPointF(4.8, 5), QPointF(11.2, 5));
        p.drawLine(QPointF(6.8, 3.4), QPointF(9.2, 3.4));
        p.drawPolyline(QList<QPointF>{{5.6, 5}, {5.6, 12}, {10.4, 12}, {10.4, 5}});
        break;
    case 4:
        for (const QPointF& o : {QPointF(4, 4), QPointF(8.6, 4), QPointF(4, 8.6), QPointF(8.6, 8.6)})
            p.drawRoundedRect(QRectF(o, QSizeF(3.4, 3.4)), 0.8, 0.8);
        break;
    case 5:
        p.drawRoundedRect(QRectF(4, 6.6, 5.4, 5.4), 1.2, 1.2);
        p.drawRoundedRect(QRectF(8.6, 5.4, 3.4, 3.4), 1.0, 1.0);
        break;
    default:
        break;
    }
    p.end();
    cache.insert(key, pm);
    return pm;
}
