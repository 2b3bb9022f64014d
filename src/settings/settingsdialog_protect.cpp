// The protection section of page 5: the obfuscation rules (per panel entry, a folder or program opened in its
// place) and the protection password, which is also the interface lock's. The page is guarded by that
// password; every change goes to the panel at once through onProtectCommitted with the whole rule map.
#include "settings/settingsdialog.h"

#include "icons/iconcache.h"
#include "icons/iconloader.h"
#include "lock/lockdialog.h"
#include "lock/passwordhash.h"
#include "model/panelmodel.h"
#include "settings/settingsids.h"
#include "settings/settingspages.h"
#include "ui/dialogseams.h"
#include "ui/lang.h"
#include "ui/modalcard.h"
#include "ui/theme.h"

#include <QCursor>
#include <QDir>
#include <QMenu>
#include <QPainter>
#include <QPointer>
#include <QTimer>

#include <cmath>

using namespace settingspages;

namespace {

// The choose and clear buttons of a protection row (widths a and b): 26 px tall, centred, clear at the right
// edge.
void protectButtons(const QRect& row, int a, int b, QRect* choose, QRect* clear)
{
    const int top = row.top() + (row.height() - 26) / 2;
    *clear = QRect(row.right() - b, top, b, 26);
    *choose = QRect(clear->left() - 6 - a, top, a, 26);
}

} // namespace

void SettingsDialog::commitProtection()
{
    // The password and the rules are committed whole: a copy that missed the panel's own change of the
    // password (set, or removed with the protection button) would bring the old one back or wipe the new one.
    if (m_onProtectCommitted)
        m_onProtectCommitted(m_edited.protectPasswordHash, m_edited.obfuscateMap);
}

bool SettingsDialog::ensureProtectAccess()
{
    // A password set or removed on the panel since the dialog opened counts here too.
    takePanelChanges();
    QPointer<SettingsDialog> alive(this);
    if (!m_edited.protectPasswordHash.isEmpty()) {
        LockDialog card(LockDialog::Verify, this);
        card.setVerifier(m_edited.protectPasswordHash);
        card.onVerified = [this, alive](const QString& password) {
            if (!alive || !isLegacyPasswordHash(m_edited.protectPasswordHash))
                return;
            m_edited.protectPasswordHash = makePasswordHash(password);
            commitProtection();
        };
        card.onRemoveConfirmed = [this, alive] {
            if (!alive)
                return;
            m_edited.protectPasswordHash.clear();
            commitProtection();
            m_protectUnlocked = true;
        };
        const int result = execCard(card);
        if (!alive || result != 1)
            return false;
        m_protectUnlocked = true;
        return true;
    }
    LockDialog card(LockDialog::Set, this);
    const int result = execCard(card);
    if (!alive || result != 1 || card.password().isEmpty())
        return false;
    m_edited.protectPasswordHash = makePasswordHash(card.password());
    commitProtection();
    m_protectUnlocked = true;
    return true;
}

void SettingsDialog::changeProtectPassword()
{
    takePanelChanges();
    QPointer<SettingsDialog> alive(this);
    QString next;
    if (!m_edited.protectPasswordHash.isEmpty()) {
        LockDialog card(LockDialog::Change, this);
        card.setVerifier(m_edited.protectPasswordHash);
        if (execCard(card) != 1 || !alive)
            return;
        next = card.newPassword();
    } else {
        LockDialog card(LockDialog::Set, this);
        if (execCard(card) != 1 || !alive)
            return;
        next = card.password();
    }
    m_edited.protectPasswordHash = next.isEmpty() ? QString() : makePasswordHash(next);
    commitProtection();
    if (m_edited.protectPasswordHash.isEmpty())
        m_protectUnlocked = false;
    relayout();
    update();
}

void SettingsDialog::chooseObfuscationTarget(int row, bool clear)
{
    if (row < 0 || row >= m_protectRows.size())
        return;
    // The rule's key, taken now: the menu and the file dialogs run event loops in which the panel may have the
    // rows rebuilt, so the row index means nothing once they return.
    const QString key = m_protectRows[row].path;
    if (clear) {
        takePanelChanges();
        m_edited.obfuscateMap.remove(key);
    } else {
        QPointer<SettingsDialog> alive(this);
        QMenu menu(this);
        applyThemedMenuStyle(&menu);
        QAction* folder = menu.addAction(Lang::tr("选择文件夹..."));
        QAction* file = menu.addAction(Lang::tr("选择文件或程序..."));
        QAction* picked = execMenu(menu, QCursor::pos());
        if (!alive || !picked || (picked != folder && picked != file))
            return;
        // The user's own files are what stands in for an entry; programs here have no extension, so "*.*"
        // would hide them.
        const QString home = QDir::homePath();
        const QString chosen =
            picked == folder
                ? ktr::dialogs::chooseFolder(this, Lang::tr("选择混淆后实际打开的文件夹"), home)
                : ktr::dialogs::openFile(this, Lang::tr("选择混淆后实际打开的文件或程序"), home, QStringLiteral("*"));
        if (!alive)
            return;
        m_hoveredId = -1;
        m_pressedId = -1;
        if (chosen.isEmpty()) {
            update();
            return;
        }
        takePanelChanges(); // the choosers ran event loops of their own
        m_edited.obfuscateMap.insert(key, QDir::toNativeSeparators(chosen));
    }
    for (ProtectRow& r : m_protectRows)
        if (r.path == key)
            r.target = m_edited.obfuscateMap.value(key);
    commitProtection();
    relayout();
    update();
}

void SettingsDialog::buildProtectRows(int width, int y)
{
    m_protectRows.clear();
    m_protectRowRects.clear();
    m_protectCards.clear();
    m_protectHeader = QRect(176, y, width, 128);
    m_protectPasswordButton = QRect(width + 39, y + 85, 120, 30);
    int top = y + 141;
    const int c = (width - 48) / 2;
    if (m_groups && !m_groups->isEmpty()) {
        for (int g = 0; g < m_groups->size(); ++g) {
            const Group& group = m_groups->at(g);
            const int n = int(group.items.size());
            const int h = n < 3 ? 114 : 50 + 64 * ((n + 1) / 2);
            m_protectCards.append(QRect(176, top, width, h));
            for (int j = 0; j < n; ++j) {
                const Item& item = group.items[j];
                ProtectRow row;
                row.groupName = group.name;
                row.name = item.name;
                row.path = item.path;
                row.target = m_edited.obfuscateMap.value(item.path);
                row.customIcon = item.customIcon;
                row.groupIndex = g;
                row.itemIndex = j;
                m_protectRows.append(row);
                m_protectRowRects.append(QRect(j % 2 == 0 ? 192 : 192 + c + 16, top + 46 + 64 * (j / 2), c, 56));
            }
            top += h + 15;
        }
    } else {
        m_protectCards.append(QRect(176, top, width, 128));
    }
    primeProtectIcons();
}

void SettingsDialog::layoutProtectPage()
{
    buildProtectRows(width() - 200, m_contentBottom);
    m_hits.append({m_protectPasswordButton, 4, settingsids::ChangeProtectPassword});
    int a = 40, b = 40;
    chooseClearButtonWidths(&a, &b);
    for (int r = 0; r < m_protectRows.size() && r < m_protectRowRects.size(); ++r) {
        QRect choose, clear;
        protectButtons(m_protectRowRects[r], a, b, &choose, &clear);
        m_hits.append({choose, 4, settingsids::protectTargetId(r, 0)});
        m_hits.append({clear, 4, settingsids::protectTargetId(r, 1)});
    }
    // The last card, the empty one too, must be reachable by scrolling.
    m_contentBottom = (m_protectCards.isEmpty() ? m_protectHeader : m_protectCards.last()).bottom() + 12;
}

void SettingsDialog::primeProtectIcons()
{
    m_requestedIconPaths.clear();
    QStringList paths;
    QSet<QString> seen;
    auto collect = [&](const QString& path, const QString& custom) {
        if (!path.isEmpty() && custom.isEmpty() && !seen.contains(path)) {
            seen.insert(path);
            paths.append(path);
        }
    };
    for (const ProtectRow& row : m_protectRows)
        collect(row.path, row.customIcon);
    for (const IconRow& row : m_iconRows)
        if (row.id == -1)
            collect(row.path, row.icon);
    const IconCacheMap* cache = iconCache();
    for (const QString& path : paths) {
        if (m_requestedIconPaths.contains(path))
            continue;
        m_requestedIconPaths.insert(path);
        // Every relayout primes again: an icon the cache holds, or one already on its way, is not asked twice.
        if ((cache && cache->contains(path)) || m_iconsInFlight.contains(path))
            continue;
        m_iconsInFlight.insert(path);
        loadIconAsync(path, this, [this](const QString& p, const QImage& image) { iconArrived(p, image); });
    }
}

void SettingsDialog::iconArrived(const QString& path, const QImage& image)
{
    m_iconsInFlight.remove(path);
    if (!image.isNull())
        cacheIconImage(path, image);
    if (m_iconRepaintPending)
        return;
    m_iconRepaintPending = true;
    QTimer::singleShot(40, this, [this] {
        m_iconRepaintPending = false;
        update();
    });
}

QPixmap SettingsDialog::protectRowPixmap(const ProtectRow& row) const
{
    if (!row.customIcon.isEmpty()) {
        const QPixmap custom = cachedThumbnail(row.customIcon, QSize(24, 24), QStringLiteral("protectprev"), false);
        if (!custom.isNull())
            return custom;
    }
    return shellIconScaled(row.path, 24, QStringLiteral("protectshell"));
}

void SettingsDialog::paintProtectPage(QPainter& p, const QColor& cardFill)
{
    if (m_protectHeader.isNull())
        return;
    const DialogPalette pal = dialogRoles();
    const QRect visible = visibleContent(*this, m_scroll);
    const QFontMetrics regular(settingsFont13());
    const QFontMetrics small(settingsFont11());
    const QFontMetrics bold(settingsFont13Bold());
    p.save();
    p.setRenderHint(QPainter::Antialiasing, true);
    auto card = [&](const QRect& r) {
        p.setPen(QPen(pal.cardBorder, 1));
        p.setBrush(cardFill);
        p.drawRoundedRect(QRectF(r).adjusted(0.5, 0.5, -0.5, -0.5), 8, 8);
    };
    auto smallButton = [&](const QRect& r, int id, const QString& text) {
        p.setPen(QPen(pal.cardBorder, 1));
        p.setBrush(m_pressedId == id   ? pal.pressedFill
                   : m_hoveredId == id ? pal.hoverFill
                   : pal.dark          ? QColor(0x33, 0x33, 0x33)
                                       : QColor(0xF7, 0xF7, 0xF9));
        p.drawRoundedRect(QRectF(r).adjusted(0.5, 0.5, -0.5, -0.5), 6, 6);
        p.setPen(pal.text);
        drawKitText(p, r.adjusted(3, 0, -3, 0), Qt::AlignCenter, text);
    };

    const QRect h = m_protectHeader;
    card(h);
    p.setFont(settingsFont13Bold());
    p.setPen(pal.text);
    drawKitText(p, QRect(h.left() + 16, h.top() + 6, h.width() - 32, 30), Qt::AlignLeft | Qt::AlignVCenter,
                Lang::tr("混淆保护"));
    p.setFont(settingsFont13());
    p.setPen(pal.secondaryText);
    const int lineWidth = h.width() - 32;
    drawKitText(p, QRect(h.left() + 16, h.top() + 38, lineWidth, 24), Qt::AlignLeft | Qt::AlignVCenter,
                Lang::tr("开启后，面板中的条目名称与图标保持不变，点击时改为打开你指定的文件夹或程序。"));
    drawKitText(p, QRect(h.left() + 16, h.top() + 62, lineWidth, 24), Qt::AlignLeft | Qt::AlignVCenter,
                Lang::tr("本页的「程序保护密码」同时用于界面锁定，两者为同一套密码，设置一次即可。"));
    smallButton(m_protectPasswordButton, settingsids::ChangeProtectPassword,
                m_edited.protectPasswordHash.isEmpty() ? Lang::tr("设置程序保护密码") : Lang::tr("修改程序保护密码"));

    for (int g = 0; g < m_protectCards.size(); ++g) {
        const QRect r = m_protectCards[g];
        if (!r.intersects(visible))
            continue;
        card(r);
        const Group* group = m_groups && g < m_groups->size() ? &m_groups->at(g) : nullptr;
        paintGlyph(p, QPointF(r.left() + 20, r.top() + 23), pal.accent, 5);
        p.setFont(settingsFont13Bold());
        p.setPen(pal.text);
        const QRect titleBox(r.left() + 34, r.top() + 13, r.width() - 200, 20);
        const QString title =
            bold.elidedText(group ? Lang::tr(group->name) : Lang::tr("分组"), Qt::ElideRight, titleBox.width());
        drawKitText(p, titleBox, Qt::AlignLeft | Qt::AlignVCenter, title);
        // A longer translation takes the room left of its box up to the title rather than being cut.
        const QRect count(
            QPoint(std::min(r.right() - 184, titleBox.left() + bold.horizontalAdvance(title) + 12), r.top() + 12),
            QPoint(r.right() - 16, r.top() + 31));
        p.setFont(settingsFont11());
        p.setPen(pal.secondaryText);
        drawKitText(p, count, Qt::AlignRight | Qt::AlignVCenter,
                    Lang::trCount("%1 项 · 指定实际打开位置", group ? group->items.size() : 0)
                        .arg(group ? group->items.size() : 0));
    }

    int a = 40, b = 40;
    chooseClearButtonWidths(&a, &b);
    for (int i = 0; i < m_protectRows.size() && i < m_protectRowRects.size(); ++i) {
        const QRect r = m_protectRowRects[i];
        if (!r.intersects(visible))
            continue;
        const ProtectRow& row = m_protectRows[i];
        const int chooseId = settingsids::protectTargetId(i, 0);
        const bool hovered = m_hoveredId == chooseId || m_hoveredId == chooseId + 1;
        p.setPen(Qt::NoPen);
        p.setBrush(hovered ? pal.hoverFill : rowColour(pal));
        p.drawRoundedRect(QRectF(r), 6, 6);

        const QPoint box(r.left() + 8, r.top() + (r.height() - 23) / 2);
        const QPixmap icon = protectRowPixmap(row);
        if (!icon.isNull()) {
            const QSizeF logical = icon.deviceIndependentSize();
            const qreal w = std::min<qreal>(logical.width(), 24);
            const qreal hh = logical.width() > 0 ? logical.height() * w / logical.width() : 24;
            p.drawPixmap(QRectF(box.x() + (24 - w) / 2, box.y() + (24 - hh) / 2, w, hh), icon, QRectF(icon.rect()));
        } else {
            paintRowPlaceholder(p, pal, box, 23, 5);
        }
        const int t = std::max(30, r.width() - a - b - 54);
        p.setFont(settingsFont13Bold());
        p.setPen(pal.text);
        drawKitText(p, QRect(r.left() + 40, r.top() + 8, t, 20), Qt::AlignLeft | Qt::AlignVCenter, Lang::tr(row.name),
                    TextFit::ElideRight);
        p.setFont(settingsFont11());
        p.setPen(row.target.isEmpty() ? pal.secondaryText : pal.accent);
        if (row.target.isEmpty())
            drawKitText(p, QRect(r.left() + 40, r.top() + 30, t, 18), Qt::AlignLeft | Qt::AlignVCenter,
                        Lang::tr("未设置（按原路径打开）"));
        else
            drawKitText(p, QRect(r.left() + 40, r.top() + 30, t, 18), Qt::AlignLeft | Qt::AlignVCenter, row.target,
                        TextFit::ElideMiddle);
        QRect choose, clear;
        protectButtons(r, a, b, &choose, &clear);
        p.setFont(settingsFont13());
        smallButton(clear, chooseId + 1, Lang::tr("清除"));
        smallButton(choose, chooseId, Lang::tr("选择"));
    }

    if (!m_protectCards.isEmpty() && m_protectRows.isEmpty()) {
        const QRect first = m_protectCards.first();
        p.setFont(settingsFont13());
        p.setPen(pal.secondaryText);
        drawKitText(p, QRect(first.left() + 16, first.top() + 46, first.width() - 32, 56),
                    Qt::AlignLeft | Qt::AlignVCenter | Qt::TextWordWrap,
                    Lang::tr("面板中还没有条目，添加桌面图标后即可在此配置。"));
    }
    p.restore();
}
