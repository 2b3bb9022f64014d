// The interface-buttons section at the end of the appearance page: one row per bar button with its visibility
// and its four custom images. Every change goes into the edited copy and out to the panel at once, so the bars
// change while the dialog is open. Also the row icon both row pages share.
#include "settings/settingsdialog.h"

#include "settings/settingspages.h"
#include "ui/dialogseams.h"
#include "ui/lang.h"
#include "ui/uibtn.h"

#include <QDir>
#include <QPainter>
#include <QPixmapCache>
#include <QPointer>

#include <cmath>

using namespace settingspages;

namespace {

// Column → the image list it chooses or clears, and the title of its file dialog.
std::array<QString, AppSettings::kButtonCount> AppSettings::*imageList(int column)
{
    switch (column) {
    case 1:
    case 2:
        return &AppSettings::btnIcons;
    case 3:
    case 5:
        return &AppSettings::btnIconsHover;
    case 4:
    case 6:
        return &AppSettings::btnIconsActive;
    case 7:
    case 8:
        return &AppSettings::btnIconsNight;
    default:
        return nullptr;
    }
}

QString chooseTitle(int column)
{
    switch (column) {
    case 1:
        return Lang::tr("选择浅色模式图标（支持 PNG / JPG / JPEG / BMP / GIF / ICO，建议 16×16 或 32×32 像素）");
    case 3:
        return Lang::tr("选择悬停效果图（支持 PNG / JPG / JPEG / BMP / GIF / ICO，建议 16×16 或 32×32 像素）");
    case 4:
        return Lang::tr("选择按下效果图（支持 PNG / JPG / JPEG / BMP / GIF / ICO，建议 16×16 或 32×32 像素）");
    default:
        return Lang::tr(
            "选择深色模式图标（深色主题下按钮的正常态展示图，支持 PNG / JPG / JPEG / BMP / GIF / ICO，建议 16×16 或 "
            "32×32 像素）");
    }
}

struct Slot
{
    const char* label;
    int left;  // R - left
    int right; // R - right
    QString SettingsDialog::IconRow::*image;
    int choose;
    int clear;
};

constexpr int kSlotCount = 4;
const Slot kSlots[kSlotCount] = {
    {"浅色模式", 376, 299, &SettingsDialog::IconRow::icon, 1, 2},
    {"深色模式", 292, 215, &SettingsDialog::IconRow::iconNight, 7, 8},
    {"悬停图", 208, 143, &SettingsDialog::IconRow::iconHover, 3, 5},
    {"按下图", 136, 71, &SettingsDialog::IconRow::iconActive, 4, 6},
};

} // namespace

void SettingsDialog::buildButtonRows()
{
    m_iconRows.clear();
    for (int id = 0; id < AppSettings::kButtonCount; ++id) {
        IconRow row;
        row.id = id;
        row.caption = Lang::tr("默认图标");
        row.name = uiBtnName(id);
        row.hidden = !m_edited.btnVisible[id];
        row.icon = m_edited.btnIcons[id];
        row.iconNight = m_edited.btnIconsNight[id];
        row.iconHover = m_edited.btnIconsHover[id];
        row.iconActive = m_edited.btnIconsActive[id];
        m_iconRows.append(row);
    }
}

void SettingsDialog::layoutButtonsSection(int width, int top)
{
    m_iconRowRects.clear();
    const int n = std::min<int>(int(m_iconRows.size()), AppSettings::kButtonCount);
    m_buttonsSection = n > 0 ? QRect(QPoint(176, top), QPoint(width + 175, top + 57 + 56 * n)) : QRect();
    for (int i = 0; i < n; ++i)
        m_iconRowRects.append(QRect(QPoint(192, top + 46 + 56 * i), QPoint(width + 159, top + 46 + 56 * i + 47)));
}

void SettingsDialog::layoutButtonsPage()
{
    buildButtonRows();
    layoutButtonsSection(width() - 200, m_contentBottom);
    for (int i = 0; i < m_iconRowRects.size() && i < m_iconRows.size(); ++i) {
        const IconRow& row = m_iconRows[i];
        const int R = m_iconRowRects[i].right();
        const int M = controlTop(m_iconRowRects[i]);
        const int B = 1000 + 16 * i;
        auto badge = [&](int offset, int id) {
            m_hits.append({QRect(QPoint(R - offset, M - 9), QPoint(R - offset + 23, M + 14)), 4, id});
        };
        // The clear badges first: they sit over their slots and win the hit test.
        if (!row.icon.isEmpty())
            badge(364, B + 2);
        if (!row.iconNight.isEmpty())
            badge(280, B + 8);
        if (!row.iconHover.isEmpty())
            badge(196, B + 5);
        if (!row.iconActive.isEmpty())
            badge(124, B + 6);
        if (row.id != 1)
            m_hits.append({QRect(QPoint(R - 64, M), QPoint(R - 1, M + 27)), 4, B});
        for (int s : {3, 2, 1, 0})
            m_hits.append(
                {QRect(QPoint(R - kSlots[s].left, M), QPoint(R - kSlots[s].right, M + 27)), 4, B + kSlots[s].choose});
    }
    if (!m_buttonsSection.isNull())
        m_contentBottom = m_buttonsSection.bottom() + 12;
}

QPixmap SettingsDialog::rowIconPixmap(const IconRow& row) const
{
    if (row.id < 0) {
        if (!row.icon.isEmpty()) {
            const QPixmap custom = cachedThumbnail(row.icon, QSize(46, 46), QStringLiteral("iconrowprev"), false);
            if (!custom.isNull())
                return custom;
        }
        return shellIconScaled(row.path, 46, QStringLiteral("iconrowshell"));
    }
    const DialogPalette pal = dialogRoles();
    const qreal d = screenRatio();
    const QString key = QStringLiteral("iconrowglyph|%1|%2|dpr%3").arg(row.id).arg(pal.dark ? 1 : 0).arg(d, 0, 'f', 2);
    QPixmap pm;
    if (QPixmapCache::find(key, &pm))
        return pm;
    const int side = int(std::lround(46 * d));
    pm = QPixmap(side, side);
    pm.fill(Qt::transparent);
    pm.setDevicePixelRatio(d);
    {
        QPainter p(&pm);
        p.setRenderHint(QPainter::Antialiasing, true);
        p.translate(23, 23);
        p.scale(1.6, 1.6);
        p.translate(-23, -23);
        drawUiBtnGlyph(&p, row.id, QPointF(23, 23), pal.text, row.id == 6 && pal.dark, false);
    }
    QPixmapCache::insert(key, pm);
    return pm;
}

void SettingsDialog::paintButtonsPage(QPainter& p)
{
    if (m_buttonsSection.isNull())
        return;
    const DialogPalette pal = dialogRoles();
    p.save();
    p.setRenderHint(QPainter::Antialiasing, true);
    paintSectionCard(p, pal, m_buttonsSection, 0, Lang::tr("界面按钮"),
                     Lang::tr("标题栏与底部栏功能按钮的显示与自定义图标"));

    const QRect visible = visibleContent(*this, m_scroll);
    for (int i = 0; i < m_iconRowRects.size() && i < m_iconRows.size(); ++i) {
        const QRect r = m_iconRowRects[i];
        if (!r.intersects(visible))
            continue;
        const IconRow& row = m_iconRows[i];
        const int B = 1000 + 16 * i;
        const int L = r.left(), T = r.top(), R = r.right();
        const int M = controlTop(r);
        paintRowBackground(p, pal, r, m_hoveredId >= B && m_hoveredId <= B + 8);

        const QPixmap icon = rowIconPixmap(row);
        const QPoint cell(L + 8, T + (r.bottom() - T - 45) / 2);
        if (!icon.isNull()) {
            const QSizeF logical = icon.deviceIndependentSize();
            p.drawPixmap(QPointF(cell.x() + (46 - logical.width()) / 2, cell.y() + (46 - logical.height()) / 2), icon);
        } else {
            paintRowPlaceholder(p, pal, cell, 45, 6);
        }

        const QRect nameBox(QPoint(L + 64, T + 7), QPoint(R - 388, T + 26));
        p.setFont(settingsFont13Bold());
        p.setPen(row.hidden ? pal.secondaryText : pal.text);
        drawKitText(p, nameBox, Qt::AlignLeft | Qt::AlignVCenter, row.name, TextFit::ElideRight);
        const QRect captionBox(QPoint(L + 64, T + 28), QPoint(R - 388, T + 43));
        p.setFont(settingsFont11());
        p.setPen(pal.secondaryText);
        drawKitText(p, captionBox, Qt::AlignLeft | Qt::AlignVCenter,
                    row.caption + (row.hidden ? Lang::tr("  · 已隐藏") : QString()), TextFit::ElideRight);

        const QRect chip(QPoint(R - 64, M), QPoint(R - 1, M + 27));
        if (row.id == 1) {
            p.setPen(QPen(pal.cardBorder, 1));
            p.setBrush(fieldColour(pal));
            p.drawRoundedRect(QRectF(chip).adjusted(0.5, 0.5, -0.5, -0.5), 6, 6);
            p.setFont(font12());
            p.setPen(pal.secondaryText);
            drawKitText(p, chip, Qt::AlignCenter, Lang::tr("常显"));
        } else {
            paintToggleChip(p, pal, chip, {row.hidden, m_hoveredId == B, m_pressedId == B});
        }
        for (const Slot& slot : kSlots) {
            IconTileState state;
            state.tileId = B + slot.choose;
            state.badgeId = B + slot.clear;
            state.hoveredId = m_hoveredId;
            state.pressedId = m_pressedId;
            paintIconTile(p, pal, fieldColour(pal), settingsFont11(), Lang::tr(slot.label), row.*(slot.image),
                          QPoint(R - slot.left, M), state);
        }
    }
    p.restore();
}

void SettingsDialog::applyButtonRowAction(int row, int column)
{
    if (row < 0 || row >= m_iconRows.size())
        return;
    m_hoveredId = -1;
    m_pressedId = -1;
    // The button's id, not the row: the rows are rebuilt whenever the dialog lays out, a file dialog's loop
    // included.
    const int id = m_iconRows[row].id;
    if (id < 0 || id >= AppSettings::kButtonCount)
        return;
    switch (column) {
    case 0:
        if (id == 1)
            return; // the way back into the settings stays on the bar
        m_edited.btnVisible[id] = !m_edited.btnVisible[id];
        break;
    case 1:
    case 3:
    case 4:
    case 7: {
        QPointer<SettingsDialog> alive(this);
        const QString path =
            ktr::dialogs::openFile(this, chooseTitle(column), QString(),
                                   Lang::tr("图片文件 (*.png *.jpg *.jpeg *.bmp *.gif *.ico);;所有文件 (*.*)"));
        if (!alive || path.isEmpty())
            return;
        if (QPixmap(path).isNull()) {
            ktr::dialogs::information(this, Lang::tr("图标自定义"),
                                      Lang::tr("无法读取该图片文件，请选择有效的 PNG/JPG/BMP/GIF/ICO。"), 1);
            if (!alive)
                return;
        } else {
            (m_edited.*imageList(column))[id] = QDir::toNativeSeparators(path);
        }
        break;
    }
    case 2:
    case 5:
    case 6:
    case 8:
        (m_edited.*imageList(column))[id].clear();
        break;
    default:
        break;
    }
    report();
    relayout();
    update();
}
