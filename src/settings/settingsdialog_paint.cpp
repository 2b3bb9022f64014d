// How the settings dialog looks: frame, navigation, header, the cards of the row pages, footer and tooltip.
// Painting reads the dialog's state and never changes it.
#include "settings/settingsdialog.h"
#include "settings/settingsids.h"

#include "settings/settingssliders.h"
#include "settings/sliderwidget.h"

#include "ui/lang.h"
#include "ui/theme.h"
#include "ui/windowcorners.h"

#include <QDir>
#include <QFileInfo>
#include <QPainter>
#include <QPainterPath>

namespace {

QFont dialogFont(int pixelSize, int weight)
{
    return pixelFont(QStringLiteral("Microsoft YaHei UI"), pixelSize, weight);
}

const QFont& dialogTitleFont()
{
    static const QFont f = dialogFont(15, 700);
    return f;
}

const QFont& pageTitleFont()
{
    static const QFont f = dialogFont(17, 700);
    return f;
}

QFont navFont(bool selected)
{
    static const QFont normal = dialogFont(13, 400);
    static const QFont bold = dialogFont(13, 700);
    return selected ? bold : normal;
}

bool isVideoPath(const QString& path)
{
    const QString lower = path.toLower();
    for (const char* suffix : {".mp4", ".m4v", ".mov", ".wmv", ".avi", ".mkv", ".webm"})
        if (lower.endsWith(QLatin1String(suffix)))
            return true;
    return false;
}

QColor rgbColour(int rgb)
{
    return QColor::fromRgb(QRgb(rgb & 0xFFFFFF));
}

// The swatch colour of a colour chooser's action.
QColor swatchColour(int id, const AppSettings& s)
{
    int kind = 0;
    int custom = 0;
    switch (id) {
    case settingsids::TitleBarColour:
        kind = s.titleBarColor, custom = s.titleBarCustomRgb;
        break;
    case settingsids::BottomBarColour:
        kind = s.bottomBarColor, custom = s.bottomBarCustomRgb;
        break;
    case settingsids::MidColour:
        kind = s.midColor, custom = s.midCustomRgb;
        break;
    case settingsids::BorderColour:
        kind = s.borderColor, custom = s.borderCustomRgb;
        break;
    case settingsids::TextColour:
        kind = s.textColor, custom = s.textCustomRgb;
        break;
    case settingsids::DividerColour:
        kind = s.dividerColor, custom = s.dividerCustomRgb;
        break;
    case settingsids::HoverColour:
        kind = s.hoverColor, custom = s.hoverCustomRgb;
        break;
    }
    kind = std::clamp(kind, 0, 6);
    if (kind == 6)
        return rgbColour(custom);
    if (kind == 0) {
        const Theme& t = currentTheme();
        if (id == settingsids::BorderColour)
            return t.border;
        if (id == settingsids::TextColour)
            return t.text;
        if (id == settingsids::HoverColour)
            return t.itemHover;
    }
    return themeKindColor(kind);
}

void paintBadge(QPainter& p, const DialogPalette& pal, const QRectF& r, int id, int hovered, int pressed, qreal pen)
{
    p.save();
    p.setPen(Qt::NoPen);
    p.setBrush(id == pressed ? pal.pressedFill : id == hovered ? pal.accentHover : QColor(0, 0, 0, 170));
    p.drawEllipse(r);
    p.setPen(QPen(Qt::white, pen, Qt::SolidLine, Qt::RoundCap));
    const QRectF in = r.adjusted(3, 3, -3, -3);
    p.drawLine(in.topLeft(), in.bottomRight());
    p.drawLine(in.topRight(), in.bottomLeft());
    p.restore();
}

} // namespace

QRect SettingsDialog::tooltipBubble(const QSize& textSize, const QRect& anchor, int W, int H)
{
    const int w = textSize.width();
    const int h = textSize.height();
    const int bw = w + 20;
    const int bh = h + 16;
    const int preferredX = anchor.isNull() ? 9 : anchor.right() + 10;
    const int centreY = anchor.isNull() ? 0 : anchor.center().y();
    const int anchorLeft = anchor.isNull() ? 0 : anchor.left();
    int x;
    const int maxX = (W - 1) - bw - 7;
    if (maxX <= 8) {
        x = 8;
    } else {
        const int candidate = preferredX + bw < (W - 1) - 6 ? preferredX : anchorLeft - bw - 10;
        x = candidate > maxX ? maxX : candidate < 9 ? 8 : candidate;
    }
    int y;
    const int maxY = H - h - 24;
    if (maxY <= 8) {
        y = 8;
    } else {
        const int candidate = centreY - bh / 2;
        y = candidate > maxY ? maxY : candidate < 9 ? 8 : candidate;
    }
    return {x, y, bw, bh};
}

void SettingsDialog::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing, true);
    const DialogPalette pal = dialogRoles();
    paintFrame(p, pal);

    p.save();
    p.setClipRect(QRect(QPoint(160, 58), QPoint(width() - 9, height() - 63)));
    p.translate(0, -m_scroll);
    if (m_page != 2 && m_page != 3)
        paintRows(p, pal);
    // The help, icon management, interface buttons, protection and backup sections paint here.
    if (m_page == 1)
        paintButtonsPage(p);
    else if (m_page == 3)
        paintGroupsPage(p);
    else if (m_page == kProtectPage)
        paintProtectPage(p, cardColour(pal.dark));
    else if (m_page == 2)
        paintAboutPage(&p);
    else if (m_page == 6)
        paintBackupPage(&p);
    p.restore();
    paintScrollBar(p, m_scrollBar, m_draggingThumb, pal);

    // Footer.
    p.setFont(settingsFont13());
    paintButton(p, pal, footerRect(settingsids::RestoreDefaults), settingsids::RestoreDefaults, Lang::tr("恢复默认"));
    paintButton(p, pal, footerRect(settingsids::CancelButton), settingsids::CancelButton, Lang::tr("取 消"));
    paintButton(p, pal, footerRect(settingsids::OkButton), settingsids::OkButton, Lang::tr("确 定"), true);
    paintTooltip(p);
}

void SettingsDialog::paintFrame(QPainter& p, const DialogPalette& pal)
{
    const int W = width();
    const int H = height();
    const qreal radius = windowCornerRadius(std::clamp(m_edited.cornerRadius, 0, 24));
    QPainterPath outer;
    outer.addRoundedRect(QRectF(0.5, 0.5, W - 1, H - 1), radius, radius);
    p.setPen(QPen(pal.frameBorder, 1));
    p.setBrush(pal.background);
    p.drawPath(outer);
    p.save();
    p.setClipPath(outer);
    p.fillRect(QRect(QPoint(0, 0), QPoint(151, H - 1)), pal.navBackground);
    p.restore();

    p.setFont(dialogTitleFont());
    p.setPen(pal.titleText);
    drawKitText(p, QRect(QPoint(20, 0), QPoint(137, 43)), Qt::AlignLeft | Qt::AlignVCenter, Lang::tr("设置"));

    const QRect close = closeRect();
    const QPointF c = QRectF(close).center();
    const bool hot = m_closeHovered || m_pressedId == settingsids::CloseCross;
    p.setPen(QPen(hot ? QColor(0xE8, 0x11, 0x23) : pal.mutedIcon, 1.3));
    p.drawLine(c + QPointF(-4, -4), c + QPointF(4, 4));
    p.drawLine(c + QPointF(4, -4), c + QPointF(-4, 4));

    for (int i = 0; i < 6; ++i) {
        const int page = navPage(i);
        const QRect r = navRect(i);
        const bool selected = page == m_page;
        const bool hovered = m_hoveredId == settingsids::navId(page);
        if (selected || hovered) {
            p.setPen(Qt::NoPen);
            p.setBrush(selected ? (pal.dark ? QColor(0x33, 0x33, 0x33) : QColor(0xE9, 0xE9, 0xE9)) : pal.hoverFill);
            p.drawRoundedRect(r, 6, 6);
        }
        if (selected) {
            p.setPen(Qt::NoPen);
            p.setBrush(pal.accent);
            p.drawRoundedRect(QRectF(r.x() + 3, r.center().y() - 8, 3, 16), 1.5, 1.5);
        }
        paintNavGlyph(p, page, QPointF(r.x() + 26, r.center().y()), selected ? pal.accent : pal.secondaryText);
        static const char* const labels[] = {"通用", "外观", "图标", "保护", "备份", "帮助与关于"};
        p.setFont(navFont(selected));
        p.setPen(selected ? pal.accent : pal.text);
        // A longer translation starts closer to its glyph and takes the item's right margin.
        const QString label = Lang::tr(labels[i]);
        QRect box(QPoint(r.x() + 48, r.top()), QPoint(r.right() - 8, r.bottom()));
        if (QFontMetrics(p.font()).horizontalAdvance(label) > box.width())
            box.setCoords(r.x() + 38, r.top(), r.right() - 2, r.bottom());
        drawKitText(p, box, Qt::AlignLeft | Qt::AlignVCenter, label);
    }

    p.setFont(pageTitleFont());
    p.setPen(pal.titleText);
    drawKitText(p, QRect(QPoint(176, 0), QPoint(675, 57)), Qt::AlignLeft | Qt::AlignVCenter,
                Lang::tr(pageTitle(m_page)));
}

void SettingsDialog::paintButton(QPainter& p, const DialogPalette& pal, const QRect& rect, int id, const QString& text,
                                 bool primary)
{
    p.save();
    if (primary) {
        p.setPen(Qt::NoPen);
        p.setBrush(id == m_pressedId ? pal.accent.darker(115) : id == m_hoveredId ? pal.accentHover : pal.accent);
    } else {
        p.setPen(QPen(pal.cardBorder, 1));
        p.setBrush(id == m_pressedId ? pal.pressedFill : id == m_hoveredId ? pal.hoverFill : pal.buttonFill);
    }
    p.drawRoundedRect(QRectF(rect).adjusted(0.5, 0.5, -0.5, -0.5), 4, 4);
    p.setPen(primary ? QColor(Qt::white) : pal.text);
    p.setFont(settingsFont13());
    drawKitText(p, rect.adjusted(4, 0, -4, 0), Qt::AlignCenter, text);
    p.restore();
}

void SettingsDialog::paintRows(QPainter& p, const DialogPalette& pal)
{
    const int W = width();
    int buttonCounter = 0;
    for (int c = 0; c < m_rows.size() && c < m_geometry.size(); ++c) {
        const SettingsCard& card = m_rows[c];
        const QRect cardRect = m_geometry[c].card;
        const int y = cardRect.top();
        const int height = cardRect.height();
        p.setPen(QPen(pal.cardBorder, 1));
        p.setBrush(cardColour(pal.dark));
        p.drawRoundedRect(QRectF(176.5, y + 0.5, W - 201, height - 1), 8, 8);
        p.setBrush(Qt::NoBrush);
        const int t = height >= 46 ? 13 : height > 33 ? (height - 19) / 2 : 6;
        p.setFont(settingsFont13Bold());
        p.setPen(pal.text);
        drawKitText(p, QRect(QPoint(210, y + t), QPoint(W - 37, y + t + 19)), Qt::AlignLeft | Qt::AlignVCenter,
                    Lang::tr(card.title));
        paintGlyph(p, QPointF(196, y + t + 10), pal.accent, card.glyph);
        for (int r = 0; r < card.rows.size() && r < m_geometry[c].rows.size(); ++r) {
            const SettingsRow& row = card.rows[r];
            const RowGeometry& g = m_geometry[c].rows[r];
            if (!row.isInline) {
                int labelWidth = g.rect.width() - 209;
                if (row.kind == SettingsRow::Controls) {
                    labelWidth = g.rect.width() - 15;
                    for (const RowControl& ctl : row.controls)
                        labelWidth -= ctl.width + 12;
                }
                p.setFont(settingsFont13());
                p.setPen(pal.text);
                drawKitText(p, QRect(g.rect.left(), g.rect.top(), std::max(0, labelWidth), g.rect.height()),
                            Qt::AlignLeft | Qt::AlignVCenter, Lang::tr(row.title));
            }
            if (row.kind == SettingsRow::Controls)
                paintControlsRow(p, pal, row, g);
            else
                paintRowControl(p, pal, row, g.rect, &buttonCounter);
        }
    }
}

void SettingsDialog::paintRowControl(QPainter& p, const DialogPalette& pal, const SettingsRow& row, const QRect& r,
                                     int* buttonCounter)
{
    switch (row.kind) {
    case SettingsRow::Toggle: {
        const QRect sw(r.right() - 52, r.top() + (r.height() - 20) / 2, 40, 20);
        paintToggle(p, sw, settingsrows::toggleValue(row.value, m_edited), pal);
        break;
    }
    case SettingsRow::Choice: {
        const int width = settingsrows::choiceTrackWidth(row.value);
        const int top = row.isInline ? r.top() + (r.height() - 28) / 2 : r.top() + 3;
        const QRect track(r.right() + 1 - width, top, width, 28);
        p.setPen(Qt::NoPen);
        p.setBrush(pal.dark ? QColor(0x33, 0x33, 0x33) : QColor(0xF0, 0xF0, 0xF0));
        p.drawRoundedRect(track, 8, 8);
        const int selected = settingsrows::choiceSelected(row.value, m_edited);
        p.setFont(settingsFont13());
        for (int k = 0; k < 2; ++k) {
            const QRect seg(track.left() + 2 + (k * width) / 2, track.top() + 2, width / 2 - 4, 24);
            if (k == selected) {
                p.setPen(QPen(pal.cardBorder, 1));
                p.setBrush(pal.buttonFill);
                p.drawRoundedRect(QRectF(seg).adjusted(0.5, 0.5, -0.5, -0.5), 6, 6);
            }
            p.setPen(k == selected ? pal.accent : pal.secondaryText);
            drawKitText(p, seg, Qt::AlignCenter, Lang::tr(settingsrows::choiceLabel(row.value, k)));
        }
        break;
    }
    case SettingsRow::DropDown: {
        int id = settingsrows::dropDownHitId(row.value);
        if (id < 0)
            id = settingsids::OpenDataFolder + (*buttonCounter)++;
        const QRect button(QPoint(r.right() + 1 - settingsrows::dropDownWidth(row.value), r.top() + 2),
                           QPoint(r.right(), r.top() + 31));
        paintButton(p, pal, button.adjusted(-1, 0, -1, 0), id,
                    Lang::tr(settingsrows::dropDownText(row.value, m_edited)));
        break;
    }
    default:
        break; // the hotkey editor is a child widget
    }
}

void SettingsDialog::paintControlsRow(QPainter& p, const DialogPalette& pal, const SettingsRow& row,
                                      const RowGeometry& g)
{
    const bool hasLockChooser = std::any_of(row.controls.begin(), row.controls.end(), [](const RowControl& c) {
        return c.value == settingsids::ChooseLockBackground && c.kind == RowControl::Button;
    });
    const bool hasFolderChooser = std::any_of(row.controls.begin(), row.controls.end(), [](const RowControl& c) {
        return c.value == settingsids::ChooseRecorderFolder && c.kind == RowControl::Button;
    });
    for (int i = 0; i < row.controls.size() && i < g.controls.size(); ++i) {
        const RowControl& c = row.controls[i];
        const QRect part = g.controls[i];
        switch (c.kind) {
        case RowControl::Colour: {
            const int id = settingsids::colourActionForKey(c.value);
            paintButton(p, pal, part, id, QString());
            const QString name = Lang::tr(settingsrows::colourText(c.value, m_edited));
            const QFontMetrics fm(settingsFont13());
            const QString text = fm.elidedText(name, Qt::ElideRight, std::max(20, part.width() - 25));
            const int total = 20 + fm.horizontalAdvance(text);
            const int left = part.left() + (part.width() - total) / 2;
            p.setPen(Qt::NoPen);
            p.setBrush(swatchColour(id, m_edited));
            p.drawRoundedRect(QRectF(left, part.center().y() - 6.5, 14, 14), 4, 4);
            p.setFont(settingsFont13());
            p.setPen(pal.text);
            drawKitText(p, QRect(left + 20, part.top(), part.width(), part.height()), Qt::AlignLeft | Qt::AlignVCenter,
                        text);
            break;
        }
        case RowControl::Button: {
            QString text = Lang::tr(c.label);
            using namespace settingsids;
            if (c.value == ChooseBackground || c.value == ChoosePortraitBackground || c.value == ChooseLockBackground) {
                const QString& path = c.value == ChooseBackground           ? m_edited.bgImagePath
                                      : c.value == ChoosePortraitBackground ? m_edited.bgImagePortrait
                                                                            : m_edited.lockBgPath;
                text = Lang::tr(path.isEmpty() ? "选择背景" : "更换背景");
                if (c.value != ChooseLockBackground && !path.isEmpty()) {
                    const QRect thumb(part.left() - 72, part.center().y() - 18, 64, 36);
                    // The thumbnail must not cover a neighbour's text (the opacity slider's value).
                    for (int j = 0; j < row.controls.size() && j < g.controls.size(); ++j) {
                        if (j == i || !g.controls[j].intersects(thumb))
                            continue;
                        const SliderWidget* slider = row.controls[j].kind == RowControl::Slider
                                                         ? m_sliders->sliderForKey(row.controls[j].value)
                                                         : nullptr;
                        reportTextOverflow({slider ? slider->valueText() : Lang::tr(row.controls[j].label),
                                            g.controls[j].intersected(thumb), g.controls[j].size()});
                    }
                    p.save();
                    QPainterPath clip;
                    clip.addRoundedRect(thumb, 6, 6);
                    if (isVideoPath(path)) {
                        p.setPen(Qt::NoPen);
                        p.setBrush(pal.dark ? QColor(0x25, 0x2A, 0x33) : QColor(0x2E, 0x33, 0x3D));
                        p.drawPath(clip);
                        const QPointF m = QRectF(thumb).center();
                        p.setBrush(QColor(255, 255, 255, 230));
                        p.drawPolygon(QPolygonF({m + QPointF(-5, -7), m + QPointF(-5, 7), m + QPointF(7, 0)}));
                    } else {
                        const QPixmap px = cachedThumbnail(
                            path, thumb.size(),
                            c.value == ChooseBackground ? QStringLiteral("bgthumb") : QStringLiteral("bgthumbP"), true);
                        if (!px.isNull()) {
                            p.save();
                            p.setClipPath(clip, Qt::IntersectClip);
                            p.drawPixmap(thumb, px);
                            p.restore();
                        }
                    }
                    p.setPen(QPen(pal.cardBorder, 1));
                    p.setBrush(Qt::NoBrush);
                    p.drawPath(clip);
                    p.restore();
                    paintBadge(p, pal, QRectF(thumb.right() - 13, thumb.top() + 1, 12, 12),
                               c.value == ChooseBackground ? ClearBackgroundBadge : ClearPortraitBackgroundBadge,
                               m_hoveredId, m_pressedId, 1.6);
                }
                paintButton(p, pal, part, c.value, text);
            } else if (c.value == ChooseLogo) {
                const bool set = !m_edited.customLogoPath.isEmpty();
                text = Lang::tr(set ? "更换图片" : "选择图片");
                paintButton(p, pal, part, c.value, set ? QString() : text);
                if (set) {
                    const QRect thumb(part.left() + 4, part.top() + 2, 24, 24);
                    const QPixmap px =
                        cachedThumbnail(m_edited.customLogoPath, thumb.size(), QStringLiteral("logothumb"), true);
                    p.save();
                    QPainterPath clip;
                    clip.addRoundedRect(thumb, 5, 5);
                    if (!px.isNull()) {
                        p.save();
                        p.setClipPath(clip, Qt::IntersectClip);
                        p.drawPixmap(thumb, px);
                        p.restore();
                    }
                    p.setPen(QPen(pal.cardBorder, 1));
                    p.drawPath(clip);
                    p.restore();
                    paintBadge(p, pal, QRectF(part.left() + 18, part.top() - 3, 14, 14), ClearLogoBadge, m_hoveredId,
                               m_pressedId, 1.7);
                    p.setPen(pal.accent);
                    p.setFont(settingsFont13());
                    drawKitText(p, QRect(QPoint(part.left() + 30, part.top()), part.bottomRight()), Qt::AlignCenter,
                                text);
                }
            } else {
                if (c.value == IconsClearIconCache)
                    text = Lang::tr(m_iconCacheCleared ? "已清理 ✓" : "立即清理");
                paintButton(p, pal, part, c.value, text);
            }
            break;
        }
        case RowControl::InlineToggle: {
            const QRect sw(part.center().x() - 19, part.center().y() - 9, 40, 20);
            if (!c.label.isEmpty()) {
                p.setFont(settingsFont13());
                p.setPen(pal.text);
                drawKitText(p, QRect(QPoint(g.rect.left(), part.top()), QPoint(sw.left() - 9, part.bottom())),
                            Qt::AlignRight | Qt::AlignVCenter, Lang::tr(c.label));
            }
            paintToggle(p, sw, settingsrows::toggleValue(c.value, m_edited), pal);
            break;
        }
        case RowControl::PathField: {
            QString text;
            bool isPath = false;
            if (!c.label.isEmpty())
                text = Lang::tr(c.label);
            else if (hasLockChooser)
                text = m_edited.lockBgPath.isEmpty()
                           ? Lang::tr("内置动态光晕")
                           : Lang::tr("自定义 · ") + QFileInfo(m_edited.lockBgPath).fileName();
            else if (hasFolderChooser)
                text = m_edited.monitorDir.isEmpty() ? Lang::tr("未配置 · 点击右侧选择目录")
                                                     : QDir::toNativeSeparators(m_edited.monitorDir);
            else
                text = QDir::toNativeSeparators(m_dataDir);
            // Paths and file names elide in the middle; our own sentences show whole.
            isPath = (hasLockChooser && !m_edited.lockBgPath.isEmpty() && c.label.isEmpty()) ||
                     (hasFolderChooser && !m_edited.monitorDir.isEmpty() && c.label.isEmpty()) ||
                     (!hasLockChooser && !hasFolderChooser && c.label.isEmpty());
            p.save();
            p.setClipRect(part, Qt::IntersectClip); // inside the page area, never over the footer
            p.setFont(settingsFont13());
            p.setPen(pal.secondaryText);
            drawKitText(p, part, Qt::AlignLeft | Qt::AlignVCenter, text,
                        isPath ? TextFit::ElideMiddle : TextFit::Whole);
            p.restore();
            break;
        }
        default:
            break; // sliders, the title editor and the font chooser are child widgets
        }
        // Caption above sliders and colour choosers, over the chooser's top edge so it stays readable.
        if (!c.label.isEmpty() && (c.kind == RowControl::Slider || c.kind == RowControl::Colour)) {
            const QString text = Lang::tr(c.label);
            const int a = std::max(0, part.width() - 75);
            const int boxWidth = std::max(QFontMetrics(settingsFont11()).horizontalAdvance(text), a) + 8;
            const int centre = part.left() + 12 + a / 2;
            const int left = std::max(centre - boxWidth / 2, part.left() + 2);
            p.setFont(settingsFont11());
            p.setPen(pal.secondaryText);
            drawKitText(p, QRect(left, g.rect.top() + 2, boxWidth, 14), Qt::AlignCenter, text);
        }
    }
}

void SettingsDialog::paintTooltip(QPainter& p)
{
    if (m_tipText.isEmpty())
        return;
    QFont font = dialogFont(12, 400);
    const QFontMetrics fm(font);
    const QRect measured = fm.boundingRect(QRect(0, 0, 300, 2000), Qt::AlignLeft | Qt::TextWordWrap, m_tipText);
    const QSize text(std::min(300, measured.width()), measured.height());
    const QRect bubble = tooltipBubble(text, m_tipAnchor, width(), height());
    const bool dark = dialogRoles().dark;
    p.save();
    p.translate(bubble.x() + 0.5, bubble.y() + 0.5);
    const QRectF body(0, 0, bubble.width(), bubble.height());
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0, 0, 0, dark ? 90 : 22));
    p.drawRoundedRect(body.translated(1, 2).adjusted(0, 0, 1, 1), 6, 6);
    p.setBrush(QColor(0, 0, 0, dark ? 50 : 12));
    p.drawRoundedRect(body.translated(1, 1).adjusted(0, 0, 0, 1), 6, 6);
    p.setPen(QPen(dark ? QColor(0x45, 0x45, 0x45) : QColor(0xD6, 0xD6, 0xD6), 1));
    p.setBrush(dark ? QColor(0x2B, 0x2B, 0x2B) : QColor(0xFC, 0xFC, 0xFC));
    p.drawRoundedRect(body, 6, 6);
    p.setFont(font);
    p.setPen(dark ? QColor(0xF2, 0xF2, 0xF2) : QColor(0x20, 0x20, 0x20));
    p.drawText(QRect(10, 8, text.width(), text.height()), Qt::AlignLeft | Qt::AlignVCenter | Qt::TextWordWrap,
               m_tipText);
    p.restore();
}
