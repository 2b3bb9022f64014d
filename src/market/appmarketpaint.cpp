// Painting of the market window and the texts of its cards.
#include "market/appmarketdialog.h"

#include "market/versioncompare.h"
#include "ui/lang.h"
#include "ui/servicehost.h"
#include "ui/theme.h"
#include "ui/windowcorners.h"

#include <QFontMetrics>
#include <QPainter>
#include <QPainterPath>

namespace {

QColor pick(bool light, const char* dark, const char* lightValue)
{
    return QColor(QString::fromLatin1(light ? lightValue : dark));
}

QFont uiFont(int px, bool bold = false)
{
    QFont f(uiFontFamily());
    f.setPixelSize(px);
    f.setBold(bold);
    return f;
}

} // namespace

QString AppMarketDialog::formatSize(qint64 bytes)
{
    if (bytes < 1)
        return {};
    if (bytes < 1048576)
        return QStringLiteral("%1 KB").arg(double(bytes) / 1024.0, 0, 'f', 1);
    return QStringLiteral("%1 MB").arg(double(bytes) / 1048576.0, 0, 'f', 1);
}

QString AppMarketDialog::mainButtonCaption(const AppRow& row) const
{
    if (row.installing)
        return Lang::tr("安装中");
    if (row.paused)
        return Lang::tr("继续");
    if (row.downloading)
        return Lang::tr("暂停");
    if (!row.errorText.isEmpty())
        return Lang::tr("重试");
    if (row.isWeb)
        return Lang::tr("打开");
    if (!row.installedVersion.isEmpty())
        return row.installedVersion == row.version ? Lang::tr("已安装") : Lang::tr("升级");
    return Lang::tr("安装");
}

QString AppMarketDialog::statusLine(const AppRow& row) const
{
    const qint64 p = row.total > 0 ? row.received * 100 / row.total : 0;
    if (row.installing)
        return Lang::tr("安装中…");
    if (row.paused)
        return Lang::tr("已暂停 %1%").arg(p);
    if (row.downloading) {
        if (row.exeSize > 0 && row.received > row.exeSize)
            return Lang::tr("环境部署中 %1%").arg(p);
        return Lang::tr("下载中 %1%").arg(p);
    }
    if (!row.errorText.isEmpty())
        return row.errorText.shown();
    if (!row.installedVersion.isEmpty()) {
        if (row.installedVersion != row.version)
            return QStringLiteral("%1 → %2").arg(row.installedVersion, row.version);
        return Lang::tr("已安装 %1").arg(row.installedVersion);
    }
    return Lang::tr("未安装");
}

void AppMarketDialog::paintEvent(QPaintEvent*)
{
    const bool light = !currentTheme().isDark;
    const QColor accent = pick(light, "#5E8BF3", "#4C7DF0");
    const QColor muted = pick(light, "#7A8090", "#9A9FAC");
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const int W = m_w;
    const int H = m_h;
    const int corner = windowCornerRadius(themeCornerRadius() > 4 ? themeCornerRadius() : 4);
    QPainterPath frame;
    frame.addRoundedRect(QRectF(0.5, 0.5, W - 1, H - 1), corner, corner);
    p.fillPath(frame, pick(light, "#23262E", "#F7F8FB"));
    p.setPen(QPen(pick(light, "#3A3F4C", "#C6C9D2"), 1));
    p.drawPath(frame);

    m_hits.clear();
    m_tips.clear();
    m_closeRect = QRect(W - 34, 8, 26, 26);
    m_hits.append({m_closeRect, CloseButton});
    {
        const QRectF x = QRectF(m_closeRect).adjusted(8, 8, -8, -8);
        p.setPen(QPen(m_hoverCode == CloseButton ? QColor(0xE8, 0x11, 0x23) : muted, 1.5, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(x.topLeft(), x.bottomRight());
        p.drawLine(x.topRight(), x.bottomLeft());
    }
    p.setFont(uiFont(16, true));
    p.setPen(pick(light, "#FFFFFF", "#1F2937"));
    p.drawText(QRect(20, 0, 120, 44), Qt::AlignLeft | Qt::AlignVCenter, Lang::tr("应用市场"));
    p.setFont(uiFont(11));
    p.setPen(muted);
    p.drawText(
        QRect(130, 0, W - 51 - 130, 43), Qt::AlignLeft | Qt::AlignVCenter,
        p.fontMetrics().elidedText(Lang::tr("没装的显示「安装」，有新版本显示「升级」，已装的可以打开 / 重装 / 卸载"),
                                   Qt::ElideRight, W - 51 - 130));

    p.setFont(uiFont(13));
    const QString tabs[3] = {Lang::tr("程序应用"), Lang::tr("网页应用"), Lang::tr("界面美化")};
    for (int i = 0; i < 3; ++i) {
        const QRect r(16 + 96 * i, 44, 88, 36);
        const bool selected = i == m_selectedTab;
        p.setPen(selected ? accent : pick(light, "#D5D8E2", "#39404C"));
        // A longer translation gets a smaller size rather than losing its ends.
        int px = 13;
        while (px > 10 && QFontMetrics(uiFont(px)).horizontalAdvance(tabs[i]) > r.width() - 4)
            --px;
        p.setFont(uiFont(px));
        p.drawText(r, Qt::AlignCenter, QFontMetrics(uiFont(px)).elidedText(tabs[i], Qt::ElideRight, r.width() - 2));
        if (selected)
            p.fillRect(QRect(r.x() + 18, 77, 51, 2), accent);
        m_hits.append({r, FirstTab + i});
    }
    p.setPen(QPen(pick(light, "#3A3F4C", "#D5D8E0"), 1));
    p.drawLine(1, 80, W - 1, 80);

    const QRect list(0, 80, W, H - 25 - 80);
    p.save();
    p.setClipRect(list);
    const auto centred = [&](const QString& text) {
        p.setFont(uiFont(13));
        p.setPen(pick(light, "#6B7180", "#A6ABB8"));
        p.drawText(list, Qt::AlignCenter, text);
    };
    if (!m_market.indexLoaded || m_market.rows.isEmpty()) {
        m_shown = 0;
        if (m_market.indexLoaded)
            centred(Lang::tr("该分类下暂无应用"));
        else if (m_market.indexFailed)
            centred(ktr::serviceConfigured() ? Lang::tr("加载失败，请检查网络后重开") : ktr::noServiceText());
        else
            centred(Lang::tr("正在加载应用市场…"));
    } else {
        const QList<int> shown = visibleRows();
        m_shown = int(shown.size());
        if (shown.isEmpty()) {
            centred(m_market.searchText.isEmpty() ? Lang::tr("该分类下暂无应用")
                                                  : Lang::tr("没有找到与「%1」匹配的应用").arg(m_market.searchText));
        }
        for (int k = 0; k < shown.size(); ++k) {
            const int x = (k % 2 == 0) ? 16 : 16 + m_cardW + 12;
            const int y = 88 + 86 * (k / 2) - m_scrollY;
            if (y > 4 && y < H - 23)
                paintCard(p, shown.at(k), m_market.rows.at(shown.at(k)), x, y, light);
        }
    }
    p.restore();

    const QRect footer(16, H - 24, W - 17 - 16, 23);
    p.setFont(uiFont(11));
    if (!m_noticeText.isEmpty()) {
        QPainterPath pill;
        pill.addRoundedRect(QRectF(footer).adjusted(0.5, 0.5, -0.5, -0.5), 6, 6);
        p.fillPath(pill, QColor(0xFD, 0xEC, 0xEC));
        p.setPen(QPen(QColor(0xE8, 0x11, 0x23), 1));
        p.drawPath(pill);
        p.setPen(QColor(0xB0, 0x1B, 0x2E));
        const QString text = p.fontMetrics().elidedText(Lang::tr(m_noticeText), Qt::ElideRight, footer.width() - 19);
        p.drawText(footer.adjusted(10, 0, -10, 0), Qt::AlignLeft | Qt::AlignVCenter, text);
    } else {
        p.setPen(muted);
        const QString text =
            p.fontMetrics().elidedText(Lang::tr("点右侧按钮即可安装或升级；安装完成后会自动创建「应用市场」分组并把程序"
                                                "图标加入面板，也可通过「⋮」菜单重装 / 卸载。"),
                                       Qt::ElideRight, footer.width());
        p.drawText(footer, Qt::AlignLeft | Qt::AlignVCenter, text);
    }
}

void AppMarketDialog::paintCard(QPainter& p, int index, const AppRow& row, int x, int y, bool light)
{
    const QColor accent = pick(light, "#5E8BF3", "#4C7DF0");
    const QColor muted = pick(light, "#7A8090", "#9A9FAC");
    const QColor text = pick(light, "#D5D8E2", "#39404C");
    const int C = m_cardW;
    QPainterPath card;
    card.addRoundedRect(QRectF(x + 0.5, y + 0.5, C - 1, 76), 10, 10);
    p.fillPath(card, pick(light, "#3A4152", "#FFFFFF"));
    p.setPen(QPen(pick(light, "#4B5466", "#DDE2EB"), 1));
    p.drawPath(card);

    const QRect iconBox(x + 14, y + 14, 48, 48);
    if (!row.icon.isNull()) {
        const qreal dpr = row.icon.devicePixelRatio() > 0 ? row.icon.devicePixelRatio() : 1.0;
        const QSize logical(qRound(row.icon.width() / dpr), qRound(row.icon.height() / dpr));
        QRect target(QPoint(0, 0), logical);
        target.moveCenter(iconBox.center());
        p.drawPixmap(target, row.icon);
    } else {
        QPainterPath sq;
        sq.addRoundedRect(QRectF(iconBox), 8, 8);
        p.fillPath(sq, pick(light, "#2F3D5C", "#E3ECFD"));
        p.setFont(uiFont(20, true));
        p.setPen(accent);
        p.drawText(iconBox, Qt::AlignCenter, row.name.isEmpty() ? QStringLiteral("?") : row.name.left(1));
    }

    const int textW = C - 168;
    // Draws one line, shortened to the card; a shortened line keeps its whole text as a tooltip.
    const auto line = [&](const QRect& r, const QString& full) {
        const QString shown = p.fontMetrics().elidedText(full, Qt::ElideRight, textW);
        p.drawText(r, Qt::AlignLeft | Qt::AlignVCenter, shown);
        if (shown != full)
            m_tips.append({r, full});
    };
    p.setFont(uiFont(13, true));
    p.setPen(text);
    line(QRect(x + 71, y + 9, textW, 18), row.name);
    p.setFont(uiFont(11));
    p.setPen(muted);
    line(QRect(x + 71, y + 28, textW, 16), row.desc);
    QString status = statusLine(row);
    if (!row.isWeb) {
        qint64 size = 0;
        if (!row.installedVersion.isEmpty() && row.installedSize > 0)
            size = row.installedSize;
        else if (row.exeSize > 0)
            size = row.exeSize;
        else if (row.size > 0)
            size = row.size;
        if (size > 0)
            status = formatSize(size) + QStringLiteral(" · ") + status;
    }
    line(QRect(x + 71, y + 47, textW, 16), status);

    const auto button = [&](const QRect& r, int radius, bool primary, const QString& caption, int code, int px) {
        QPainterPath path;
        path.addRoundedRect(QRectF(r).adjusted(0.5, 0.5, -0.5, -0.5), radius, radius);
        const bool hover = m_hoverCode == code;
        if (primary) {
            p.fillPath(path, accent);
            p.setPen(QPen(accent, 1));
        } else {
            p.fillPath(path, pick(light, "#313745", "#F5F6FA"));
            p.setPen(QPen(pick(light, "#444A58", "#D9DDE6"), 1));
        }
        p.drawPath(path);
        p.setFont(uiFont(px));
        p.setPen(primary ? QColor(Qt::white) : (hover ? accent : text));
        p.drawText(r, Qt::AlignCenter, caption);
        m_hits.append({r, code});
    };

    if (row.downloading || row.paused) {
        const QRect track(x + 71, y + 63, 150, 4);
        QPainterPath tp;
        tp.addRoundedRect(QRectF(track), 2, 2);
        p.fillPath(tp, pick(light, "#333845", "#EDF0F6"));
        if (row.total > 0 && row.received > 0) {
            const int w = std::max<qint64>(2, 150 * std::min(row.received, row.total) / row.total);
            QPainterPath bar;
            bar.addRoundedRect(QRectF(track.x(), track.y(), w, 4), 2, 2);
            p.fillPath(bar, accent);
        }
        button(QRect(x + C - 55, y + 25, 50, 26), 6, false, Lang::tr("取消"), index * 256 + CancelButton, 12);
        button(QRect(x + C - 109, y + 25, 50, 26), 6, true, row.paused ? Lang::tr("继续") : Lang::tr("暂停"),
               index * 256 + PauseButton, 12);
        return;
    }

    const int bx = row.isWeb ? x + C - 85 : x + C - 93;
    const QRect main(bx, y + 23, 72, 30);
    const bool installed = !row.installedVersion.isEmpty();
    const bool primary = row.isWeb || !installed || row.installedVersion != row.version || !row.errorText.isEmpty();
    if (!row.sdkVersion.isEmpty() && !m_market.minSdkVersion.isEmpty() &&
        compareVersions(row.sdkVersion, m_market.minSdkVersion)) {
        p.setFont(uiFont(10, true));
        const QString badge = Lang::tr("SDK 过旧");
        const int tw = p.fontMetrics().horizontalAdvance(badge);
        const QRect br(QPoint(x + C - 35 - tw, y + 8), QPoint(x + C - 22, y + 25));
        QPainterPath bp;
        bp.addRoundedRect(QRectF(br), 9, 9);
        p.fillPath(bp, pick(light, "#5A3A12", "#FEF0D8"));
        p.setPen(pick(light, "#FFB74A", "#C86A00"));
        p.drawText(br, Qt::AlignCenter, badge);
    }
    button(main, 7, primary, mainButtonCaption(row), index * 256 + MainButton, 12);
    if (!row.isWeb) {
        const QRect strip(QPoint(x + C - 17, y + 23), QPoint(x + C - 6, y + 52));
        const QPointF c((strip.left() + strip.right() + 1) / 2, (strip.top() + strip.bottom() + 1) / 2);
        p.setPen(Qt::NoPen);
        p.setBrush(m_hoverCode == index * 256 + MenuButton ? accent : muted);
        for (const qreal dy : {-5.5, 0.0, 5.5})
            p.drawEllipse(QPointF(c.x(), c.y() + dy), 1.5, 1.5);
        p.setBrush(Qt::NoBrush);
        m_hits.append({strip, index * 256 + MenuButton});
    }
}
