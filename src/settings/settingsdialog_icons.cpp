// The icon management page: every group as a card with its items in two columns; per item hide or show it and
// set or clear a custom icon. It edits the panel's model in place (Cancel does not undo it) and tells the panel
// through onIconsChanged, which saves the layout and reloads the icons.
#include "settings/settingsdialog.h"

#include "icons/iconloader.h"
#include "model/panelmodel.h"
#include "settings/settingspages.h"
#include "ui/dialogseams.h"
#include "ui/lang.h"
#include "ui/savefile.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QPainter>
#include <QPointer>
#include <QRegularExpression>

#include <cmath>

using namespace settingspages;

void SettingsDialog::buildItemRows()
{
    m_iconRows.clear();
    if (!m_groups)
        return;
    for (int g = 0; g < m_groups->size(); ++g) {
        const Group& group = m_groups->at(g);
        for (int i = 0; i < group.items.size(); ++i) {
            const Item& item = group.items[i];
            IconRow row;
            row.group = g;
            row.item = i;
            row.caption = group.name;
            row.name = item.name;
            row.path = item.path;
            row.hidden = item.hidden;
            row.icon = item.customIcon;
            m_iconRows.append(row);
        }
    }
}

void SettingsDialog::layoutGroupsPage(int width)
{
    m_iconRowRects.clear();
    m_groupCards.clear();
    m_buttonsSection = QRect();
    if (!m_groups || m_groups->isEmpty()) {
        m_groupCards.append(QRect(QPoint(176, 78), QPoint(width + 175, 175)));
        m_contentBottom = 187;
        return;
    }
    const int c = (width - 48) / 2;
    int top = 78;
    for (const Group& group : *m_groups) {
        const int n = int(group.items.size());
        const QRect card(QPoint(176, top), QPoint(width + 175, top + 50 + 48 * std::max(1, (n + 1) / 2) - 1));
        m_groupCards.append(card);
        for (int j = 0; j < n; ++j)
            m_iconRowRects.append(QRect(j % 2 == 0 ? 192 : 192 + c + 16, top + 46 + 48 * (j / 2), c, 40));
        top = card.bottom() + 1 + 16;
    }
    m_contentBottom = m_groupCards.last().bottom() + 28;
}

void SettingsDialog::layoutIconsPage()
{
    buildItemRows();
    layoutGroupsPage(width() - 200);
    for (int i = 0; i < m_iconRowRects.size() && i < m_iconRows.size(); ++i) {
        const QRect& r = m_iconRowRects[i];
        const int R = r.right();
        const int M = controlTop(r);
        const int B = 1000 + 16 * i;
        if (!m_iconRows[i].icon.isEmpty())
            m_hits.append({QRect(QPoint(R - 74, M - 9), QPoint(R - 51, M + 14)), 4, B + 2});
        m_hits.append({QRect(QPoint(R - 52, M), QPoint(R - 1, M + 27)), 4, B});
        m_hits.append({QRect(QPoint(R - 86, M), QPoint(R - 59, M + 27)), 4, B + 1});
    }
    primeProtectIcons();
}

void SettingsDialog::paintGroupsPage(QPainter& p)
{
    const DialogPalette pal = dialogRoles();
    const QRect visible = visibleContent(*this, m_scroll);
    p.save();
    p.setRenderHint(QPainter::Antialiasing, true);
    const QFontMetrics bold(settingsFont13Bold());
    for (int g = 0; g < m_groupCards.size(); ++g) {
        const QRect card = m_groupCards[g];
        if (!card.intersects(visible))
            continue;
        const Group* group = m_groups && g < m_groups->size() ? &m_groups->at(g) : nullptr;
        paintSectionCard(p, pal, card, 5, group ? Lang::tr(group->name) : Lang::tr("分组"),
                         Lang::trCount("%1 个图标 · 显示与自定义图标", group ? group->items.size() : 0)
                             .arg(group ? group->items.size() : 0));
    }
    for (int i = 0; i < m_iconRowRects.size() && i < m_iconRows.size(); ++i) {
        const QRect r = m_iconRowRects[i];
        if (!r.intersects(visible))
            continue;
        const IconRow& row = m_iconRows[i];
        const int B = 1000 + 16 * i;
        const int L = r.left(), T = r.top(), R = r.right();
        const int M = controlTop(r);
        paintRowBackground(p, pal, r, m_hoveredId >= B && m_hoveredId <= B + 8);

        const QPoint cell(L + 8, T + (r.bottom() - T - 23) / 2);
        const QPixmap icon = rowIconPixmap(row);
        if (!icon.isNull()) {
            const qreal ratio = icon.devicePixelRatio() > 0 ? icon.devicePixelRatio() : 1.0;
            const int w = std::max(1, int(std::lround(icon.width() / ratio)));
            const int h = std::max(1, int(std::lround(icon.height() / ratio)));
            const int dw = std::min(w, 24);
            const int dh = std::max(1, int(std::lround(double(h) * dw / w)));
            p.drawPixmap(QRect(cell.x() + (24 - dw) / 2, cell.y() + (24 - dh) / 2, dw, dh), icon);
        } else {
            paintRowPlaceholder(p, pal, cell, 23, 5);
        }

        const int nameTop = T + (r.bottom() - T - 19) / 2;
        const QRect nameBox(QPoint(L + 40, nameTop), QPoint(R - 96, nameTop + 19));
        p.setFont(settingsFont13Bold());
        p.setPen(row.hidden ? pal.secondaryText : pal.text);
        const QString name = Lang::tr(row.name) + (row.hidden ? Lang::tr("  · 已隐藏") : QString());
        drawKitText(p, nameBox, Qt::AlignLeft | Qt::AlignVCenter, name, TextFit::ElideRight);

        paintToggleChip(p, pal, QRect(QPoint(R - 52, M), QPoint(R - 1, M + 27)),
                        {row.hidden, m_hoveredId == B, m_pressedId == B});
        IconTileState state;
        state.tileId = B + 1;
        state.badgeId = B + 2;
        state.hoveredId = m_hoveredId;
        state.pressedId = m_pressedId;
        paintIconTile(p, pal, fieldColour(pal), settingsFont11(), QString(), row.icon, QPoint(R - 86, M), state);
    }
    p.restore();
}

Item* SettingsDialog::findIconRowItem(const IconRow& row) const
{
    if (!m_groups || row.id >= 0)
        return nullptr;
    // The dialog holds the panel's own list; this page is the one place that edits it in place.
    auto* groups = const_cast<QList<Group>*>(m_groups);
    auto matches = [&](int g, int i) {
        return g >= 0 && g < groups->size() && i >= 0 && i < (*groups)[g].items.size() &&
               (*groups)[g].name == row.caption && (*groups)[g].items[i].path == row.path;
    };
    if (matches(row.group, row.item))
        return &(*groups)[row.group].items[row.item];
    const int g = findGroupByName(*groups, row.caption);
    if (g < 0)
        return nullptr;
    QList<Item>& items = (*groups)[g].items;
    for (int i = 0; i < items.size(); ++i)
        if (matches(g, i))
            return &items[i];
    return nullptr;
}

void SettingsDialog::applyIconRowAction(int row, int column)
{
    if (row < 0 || row >= m_iconRows.size())
        return;
    m_hoveredId = -1;
    m_pressedId = -1;
    if (m_iconRows[row].id >= 0) {
        applyButtonRowAction(row, column);
        return;
    }
    // A copy: the row list is rebuilt by any relayout, and the panel may rebuild its model meanwhile.
    const IconRow target = m_iconRows[row];
    if (!findIconRowItem(target))
        return;
    switch (column) {
    case 0: {
        Item* item = findIconRowItem(target);
        item->hidden = !item->hidden;
        break;
    }
    case 1: {
        QPointer<SettingsDialog> alive(this);
        const QString path =
            ktr::dialogs::openFile(this, Lang::tr("选择图标图片"), QString(),
                                   Lang::tr("图片 (*.png *.jpg *.jpeg *.bmp *.gif *.ico);;所有文件 (*.*)"));
        if (!alive || path.isEmpty())
            return;
        if (QPixmap(path).isNull()) {
            ktr::dialogs::information(this, Lang::tr("图标自定义"),
                                      Lang::tr("无法读取该图片文件，请选择有效的 PNG/JPG/BMP/GIF/ICO。"), 1);
            if (!alive)
                return;
            break;
        }
        // Found again after the file dialog: the entry may have moved or gone while it was open.
        Item* item = findIconRowItem(target);
        if (!item)
            break;
        item->customIcon = QDir::toNativeSeparators(path);
        break;
    }
    case 2:
        findIconRowItem(target)->customIcon.clear();
        break;
    default:
        break;
    }
    if (m_onIconsChanged)
        m_onIconsChanged();
    relayout();
    update();
}

bool SettingsDialog::pressIconBadge(const QPoint& point)
{
    for (int i = 0; i < m_iconRowRects.size() && i < m_iconRows.size(); ++i) {
        if (m_iconRows[i].icon.isEmpty())
            continue;
        const QRect& r = m_iconRowRects[i];
        const int M = r.top() + (r.height() - 27) / 2;
        if (QRect(QPoint(r.right() - 74, M - 9), QPoint(r.right() - 51, M + 14)).contains(point)) {
            applyIconRowAction(i, 2);
            return true;
        }
    }
    return false;
}

void SettingsDialog::rightClickIconPage(const QPoint& point)
{
    for (int i = 0; i < m_iconRowRects.size() && i < m_iconRows.size(); ++i) {
        const QRect& r = m_iconRowRects[i];
        const int top = r.top() + (r.bottom() - r.top() - 45) / 2;
        if (m_iconRows[i].id < 0 && QRect(QPoint(r.left() + 8, top), QPoint(r.left() + 53, top + 45)).contains(point)) {
            exportDefaultIcon(this, m_iconRows[i]);
            return;
        }
    }
    for (const HitArea& hit : m_hits) {
        if (hit.kind != 4 || hit.id < 1000 || !hit.rect.contains(point))
            continue;
        const int row = (hit.id - 1000) / 16;
        const int column = (hit.id - 1000) % 16;
        if (row >= m_iconRows.size())
            continue;
        if (column == 1 || column == 2) {
            const QString path = m_iconRows[row].icon;
            if (!path.isEmpty())
                saveIconAs(this, path);
        }
        return;
    }
}

void SettingsDialog::exportDefaultIcon(QWidget* parent, const IconRow& row)
{
    QPixmap canvas(256, 256);
    canvas.fill(Qt::transparent);
    {
        QPainter p(&canvas);
        p.setRenderHint(QPainter::Antialiasing, true);
        p.setRenderHint(QPainter::SmoothPixmapTransform, true);
        QPixmap icon = QPixmap::fromImage(loadFullIconImage(row.path));
        if (!icon.isNull()) {
            icon.setDevicePixelRatio(1.0);
            const QPixmap fitted = icon.scaled(256, 256, Qt::KeepAspectRatio, Qt::SmoothTransformation);
            p.drawPixmap((256 - fitted.width()) / 2, (256 - fitted.height()) / 2, fitted);
        }
    }
    QString name = row.name;
    name.replace(QRegularExpression(QStringLiteral(R"([\\/:*?"<>|])")), QStringLiteral("_"));
    const QString suggested = QDir::homePath() + QLatin1Char('/') + name + QStringLiteral(".png");
    const QString title = Lang::tr("导出系统默认图标");
    const QString chosen = ktr::dialogs::saveFile(parent, title, suggested, Lang::tr("PNG 图片 (*.png)"));
    if (chosen.isEmpty())
        return;
    const QString path = QDir::toNativeSeparators(chosen);
    QByteArray png;
    QBuffer buffer(&png);
    bool ok = buffer.open(QIODevice::WriteOnly) && canvas.save(&buffer, "PNG");
    QString why;
    ok = ok && ktr::saveFileAtomic(path, png, &why);
    if (ok) {
        ktr::dialogs::information(parent, title, Lang::tr("已保存到：\n") + path, 0);
    } else {
        qWarning("[settings] icon export to %s failed: %s", qPrintable(path), qPrintable(why));
        ktr::dialogs::information(parent, title, Lang::tr("保存失败，请检查目标位置是否可写。"), 1);
    }
}

void SettingsDialog::saveIconAs(QWidget* parent, const QString& source)
{
    const QString title = Lang::tr("另存为图标");
    const QString chosen = ktr::dialogs::saveFile(
        parent, title, source, Lang::tr("图片文件 (*.png *.jpg *.jpeg *.bmp *.gif *.ico);;所有文件 (*.*)"));
    if (chosen.isEmpty())
        return;
    const QString target = QDir::toNativeSeparators(QDir::cleanPath(chosen));
    if (target == QDir::toNativeSeparators(QDir::cleanPath(source)))
        return;
    const QString temp = target + QStringLiteral(".ktr_tmp");
    auto warn = [&](const QString& text) { ktr::dialogs::information(parent, title, text, 1); };
    if (QFile::exists(temp) && !QFile::remove(temp)) {
        warn(Lang::tr("保存失败：临时文件被占用，请稍后重试。"));
        return;
    }
    if (!QFile::copy(source, temp)) {
        warn(Lang::tr("保存失败，请检查目标位置是否可写。"));
        return;
    }
    if (QFile::exists(target) && !QFile::remove(target)) {
        warn(Lang::tr("已写入临时文件，但无法替换原文件（可能被占用）：\n") + temp);
        return;
    }
    if (!QFile::rename(temp, target)) {
        warn(Lang::tr("保存失败：无法完成文件替换，临时文件保留于\n") + temp);
        return;
    }
    ktr::dialogs::information(parent, title, Lang::tr("已保存到：\n") + target, 0);
}
