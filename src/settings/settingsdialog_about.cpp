// Page 2 of the settings dialog, help and about: five fixed cards (product, update, running information,
// uninstall, terms). Its buttons are carried out by the dialog's action dispatch.
#include "settings/settingsdialog.h"

#include "platform/procmemory.h"
#include "platform/version.h"
#include "settings/aboutinfo.h"
#include "settings/settingsids.h"
#include "ui/lang.h"
#include "ui/servicehost.h"
#include "ui/settingskit.h"

#include <QDate>
#include <QDir>
#include <QLocale>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>

QString buildDateFrom(const QString& compilerDate)
{
    const QString simplified = compilerDate.simplified();
    const QDate date = QLocale::c().toDate(simplified, QStringLiteral("MMM d yyyy"));
    return date.isValid() ? date.toString(QStringLiteral("yyyy-MM-dd")) : simplified;
}

QString buildDateString()
{
    return buildDateFrom(QStringLiteral(__DATE__));
}

QString fileVersionString()
{
    const QStringList parts = ktr::platform::compiledVersion().split(QLatin1Char('.'));
    int numbers[3] = {0, 0, 0};
    for (int i = 0; i < 3 && i < parts.size(); ++i) {
        bool ok = false;
        const int n = parts.at(i).toInt(&ok);
        if (!ok)
            return QStringLiteral("0.0.0");
        numbers[i] = n;
    }
    return QStringLiteral("%1.%2.%3").arg(numbers[0]).arg(numbers[1]).arg(numbers[2]);
}

namespace {

const char kFontFamily[] = "Microsoft YaHei UI";

QFont aboutFont(int px, bool bold)
{
    return pixelFont(QString::fromLatin1(kFontFamily), px, bold ? 700 : 400);
}

QRect span(int x1, int y1, int x2, int y2)
{
    return QRect(QPoint(x1, y1), QPoint(x2, y2));
}

QColor aboutCardColour(const DialogPalette& pal)
{
    return pal.dark ? QColor(0x2B, 0x2B, 0x2B) : QColor(0xFC, 0xFC, 0xFE);
}

QColor fieldColour(const DialogPalette& pal)
{
    return pal.dark ? pal.buttonFill : QColor(Qt::white);
}

QString publisherName()
{
    return QStringLiteral("青岚舟工作室");
}

struct AboutCards
{
    QRect product, update, info, uninstall, terms;
};

AboutCards cardsFor(int W)
{
    return {span(176, 78, W + 175, 287), span(176, 302, W + 175, 401), span(176, 416, W + 175, 633),
            span(176, 647, W + 175, 806), span(176, 820, W + 175, 923)};
}

// The three link pills: from x 192, 10 px apart, each its text's advance + 48 wide.
QList<QRect> linkPills()
{
    const QFontMetrics fm(aboutFont(11, false));
    QList<QRect> out;
    int x = 192;
    for (const char* label : {"用户协议", "隐私政策", "LGPLV3 许可"}) {
        const int w = fm.horizontalAdvance(Lang::tr(label)) + 48;
        out.append(QRect(x, 878, w, 32));
        x += w + 10;
    }
    return out;
}

} // namespace

QString SettingsDialog::memoryLine()
{
    qint64 rss = 0;
    qint64 peak = 0;
    if (!ktr::platform::processMemory(&rss, &peak))
        return QStringLiteral("—");
    return Lang::tr("%1 MB（本次运行峰值 %2 MB）")
        .arg(QString::number(double(rss) / 1048576.0, 'f', 1), QString::number(double(peak) / 1048576.0, 'f', 1));
}

int SettingsDialog::channelControlLeft() const
{
    // At x 260 unless the translated "update channel" label reaches it.
    const int labelRight = 192 + QFontMetrics(aboutFont(12, false)).horizontalAdvance(Lang::tr("更新通道"));
    return std::max(260, labelRight + 12);
}

void SettingsDialog::layoutAboutPage(int W)
{
    const auto button = [this](int x1, int y1, int x2, int y2, int id) {
        m_hits.append({span(x1, y1, x2, y2), 4, id});
    };
    using namespace settingsids;
    button(W + 60, 217, W + 159, 244, OpenServiceSite);
    button(W + 60, 245, W + 159, 272, OpenSocialPage);
    button(W + 60, 360, W + 159, 387, CheckUpdate);
    const int channelLeft = channelControlLeft();
    m_hits.append({span(channelLeft, 360, channelLeft + 87, 387), 3, StableChannel});
    m_hits.append({span(channelLeft + 87, 360, channelLeft + 174, 387), 3, BetaChannel});
    button(W + 60, 474, W + 159, 501, ReleaseMemory);
    button(W + 60, 514, W + 159, 541, AboutClearIconCache);
    button(W + 60, 554, W + 159, 581, AboutOpenDataFolder);
    button(W - 48, 594, W + 51, 621, OpenLogViewer);
    button(W + 60, 594, W + 159, 621, ExportLogs);
    const int c = (W - 48) / 3;
    const int ids[3] = {UninstallKeepData, UninstallAll, FactoryReset};
    for (int k = 0; k < 3; ++k)
        m_hits.append({QRect(192 + k * (c + 8), 705, c, 28), 4, ids[k]});
    const QList<QRect> pills = linkPills();
    for (int k = 0; k < pills.size(); ++k)
        m_hits.append({pills.at(k), 4, UserAgreement + k});
    m_contentBottom = 935;
}

void SettingsDialog::paintAboutPage(QPainter* painter)
{
    QPainter& p = *painter;
    const DialogPalette pal = dialogRoles();
    const int W = width() - 200;
    const AboutCards cards = cardsFor(W);
    const QColor field = fieldColour(pal);
    p.save();
    p.setRenderHint(QPainter::Antialiasing, true);
    for (const QRect& card : {cards.product, cards.update, cards.info, cards.uninstall, cards.terms}) {
        p.setPen(QPen(pal.cardBorder, 1));
        p.setBrush(aboutCardColour(pal));
        p.drawRoundedRect(QRectF(card).adjusted(0.5, 0.5, -0.5, -0.5), 8, 8);
    }
    const QFont f15 = aboutFont(15, true);
    const QFont f13b = aboutFont(13, true);
    const QFont f12 = aboutFont(12, false);
    const QFont f11 = aboutFont(11, false);
    const auto button = [&](int id, const QRect& r, const QString& text) {
        p.setPen(QPen(pal.cardBorder, 1));
        p.setBrush(id == m_pressedId ? pal.pressedFill : id == m_hoveredId ? pal.hoverFill : field);
        p.drawRoundedRect(QRectF(r).adjusted(0.5, 0.5, -0.5, -0.5), 6, 6);
        p.setFont(f11);
        p.setPen(pal.text);
        drawKitText(p, r.adjusted(3, 0, -3, 0), Qt::AlignCenter, text);
    };
    const auto header = [&](const QRect& card, int glyph, const char* title) {
        paintGlyph(p, QPointF(card.left() + 20, card.top() + 29), pal.accent, glyph);
        p.setFont(f13b);
        p.setPen(pal.text);
        drawKitText(p, span(card.left() + 34, card.top() + 19, card.right() - 12, card.top() + 38),
                    Qt::AlignLeft | Qt::AlignVCenter, Lang::tr(title));
    };

    // Product card.
    {
        const int L = cards.product.left();
        const int T = cards.product.top();
        static const QImage logo(QStringLiteral(":/res/resources/logo.png"));
        const QRect logoRect = span(192, 87, 235, 130);
        if (!logo.isNull()) {
            p.save();
            QPainterPath clip;
            clip.addRoundedRect(QRectF(logoRect), 10, 10);
            p.setClipPath(clip, Qt::IntersectClip);
            p.drawImage(logoRect, logo);
            p.restore();
        } else {
            p.setPen(QPen(pal.cardBorder, 1));
            p.setBrush(pal.trackFill);
            p.drawRoundedRect(QRectF(logoRect), 10, 10);
        }
        p.setFont(f15);
        p.setPen(pal.titleText);
        drawKitText(p, span(L + 100, T + 12, L + 399, T + 33), Qt::AlignLeft | Qt::AlignVCenter,
                    Lang::tr("青岚舟面板"));
        p.setFont(f11);
        p.setPen(pal.secondaryText);
        drawKitText(p, span(L + 100, T + 34, L + 479, T + 49), Qt::AlignLeft | Qt::AlignVCenter,
                    Lang::tr("青岚舟 · 桌面图标面板"));
        const QString lines[5][2] = {
            {Lang::tr("版本"), QStringLiteral("v") + fileVersionString()},
            {Lang::tr("构建日期"), buildDateString()},
            {Lang::tr("发布厂商"), Lang::tr(publisherName())},
            {Lang::tr("官方网站"), aboutSiteText(false)},
            {Lang::tr("官方社区"), aboutSiteText(true)},
        };
        const QFontMetrics fm(f12);
        const int lineHeight = std::clamp(fm.height() + 2, 22, 28);
        const int valueRight = W + 60 - 9;
        // The label column is 76 px unless a translated label needs more; the values move right with it.
        int labelWidth = 76;
        for (const auto& line : lines)
            labelWidth = std::max(labelWidth, fm.horizontalAdvance(line[0]));
        const int valueLeft = L + 24 + labelWidth;
        p.setFont(f12);
        for (int i = 0; i < 5; ++i) {
            const int y = T + 58 + 28 * i;
            p.setPen(pal.secondaryText);
            drawKitText(p, QRect(L + 16, y, labelWidth, lineHeight), Qt::AlignLeft | Qt::AlignVCenter, lines[i][0]);
            p.setPen(pal.text);
            const int w = std::max(0, valueRight - valueLeft);
            drawKitText(p, QRect(valueLeft, y, w, lineHeight), Qt::AlignLeft | Qt::AlignVCenter, lines[i][1],
                        TextFit::ElideRight);
        }
        button(settingsids::OpenServiceSite, span(W + 60, 217, W + 159, 244), Lang::tr("访问官网"));
        button(settingsids::OpenSocialPage, span(W + 60, 245, W + 159, 272), Lang::tr("加入社区"));
    }

    // Update card.
    {
        const QRect& card = cards.update;
        const int L = card.left();
        const int T = card.top();
        header(card, 7, "检测更新");
        p.setFont(f12);
        p.setPen(pal.secondaryText);
        const int channelLeft = channelControlLeft();
        drawKitText(p, span(L + 16, T + 58, channelLeft - 8, T + 85), Qt::AlignLeft | Qt::AlignVCenter,
                    Lang::tr("更新通道"));
        const QRect control = span(channelLeft, 360, channelLeft + 175, 387);
        p.setPen(Qt::NoPen);
        p.setBrush(pal.trackFill);
        p.drawRoundedRect(QRectF(control), 8, 8);
        const int chosen = m_edited.updateChannel != 0 ? 1 : 0;
        const int half = control.width() / 2;
        const char* const texts[2] = {"稳定版", "测试版"};
        p.setFont(f11);
        for (int i = 0; i < 2; ++i) {
            const int x = control.left() + i * half;
            const QRect inner = span(x + 2, control.top() + 2, x + half - 3, control.bottom() - 2);
            if (i == chosen) {
                p.setPen(Qt::NoPen);
                p.setBrush(field);
                p.drawRoundedRect(QRectF(inner), 6, 6);
            }
            p.setPen(i == chosen ? pal.text : pal.secondaryText);
            drawKitText(p, inner, Qt::AlignCenter, Lang::tr(texts[i]));
        }
        button(settingsids::CheckUpdate, span(W + 60, 360, W + 159, 387), Lang::tr("检查更新"));
    }

    // Running information.
    {
        const QRect& card = cards.info;
        const int L = card.left();
        const int T = card.top();
        header(card, 8, "运行信息");
        const QFontMetrics fm(f12);
        const QString data = QDir::toNativeSeparators(m_dataDir);
        const QString cache = QDir::toNativeSeparators(m_dataDir + QStringLiteral("/cache"));
        struct Line
        {
            const char* label;
            QString value;
            int buttonLeft;
            bool elideMiddle;
        };
        const Line lines[4] = {{"当前占用", memoryLine(), W + 60, false},
                               {"缓存目录", cache, W + 60, true},
                               {"数据目录", data, W + 60, true},
                               {"运行日志", QString(), W - 48, false}};
        p.setFont(f12);
        for (int i = 0; i < 4; ++i) {
            // The label may use the room up to its value (L + 112), for a longer translation.
            const QRect line = span(L + 16, T + 58 + 40 * i, L + 104, T + 85 + 40 * i);
            p.setPen(pal.secondaryText);
            drawKitText(p, line, Qt::AlignLeft | Qt::AlignVCenter, Lang::tr(lines[i].label));
            if (lines[i].value.isEmpty())
                continue;
            const int available =
                lines[i].elideMiddle ? lines[i].buttonLeft - L - 120 : lines[i].buttonLeft - 9 - (L + 112);
            const QRect value(L + 112, line.top(), std::max(0, lines[i].buttonLeft - 9 - (L + 112)), line.height());
            p.save();
            p.setClipRect(value, Qt::IntersectClip);
            p.setPen(pal.text);
            drawKitText(p,
                        QRect(value.topLeft(), QSize(std::min(value.width(), std::max(0, available)), value.height())),
                        Qt::AlignLeft | Qt::AlignVCenter, lines[i].value,
                        lines[i].elideMiddle ? TextFit::ElideMiddle : TextFit::ElideRight);
            p.restore();
        }
        button(settingsids::ReleaseMemory, span(W + 60, 474, W + 159, 501), Lang::tr("立即回收"));
        button(settingsids::AboutClearIconCache, span(W + 60, 514, W + 159, 541), Lang::tr("清理缓存"));
        button(settingsids::AboutOpenDataFolder, span(W + 60, 554, W + 159, 581), Lang::tr("打开"));
        button(settingsids::OpenLogViewer, span(W - 48, 594, W + 51, 621), Lang::tr("查看日志..."));
        button(settingsids::ExportLogs, span(W + 60, 594, W + 159, 621), Lang::tr("导出日志"));
    }

    // Uninstall.
    {
        const QRect& card = cards.uninstall;
        const int L = card.left();
        const int T = card.top();
        const int R = card.right();
        header(card, 2, "卸载程序");
        const int c = (W - 48) / 3;
        const char* const labels[3] = {"保留配置卸载", "无残留卸载", "完全初始化程序"};
        const int ids[3] = {settingsids::UninstallKeepData, settingsids::UninstallAll, settingsids::FactoryReset};
        for (int k = 0; k < 3; ++k)
            button(ids[k], QRect(192 + k * (c + 8), 705, c, 28), Lang::tr(labels[k]));
        p.setFont(f11);
        p.setPen(pal.secondaryText);
        const char* const notes[3] = {
            "「保留配置卸载」只删除程序，保留分组、设置与日志，重装后自动读回；",
            "「无残留卸载」会把设置与分组一并清除。换机请用「通用」页的「数据迁移」导出/导入。",
            "「完全初始化程序」会清空全部数据并自动重启，回到首次安装状态（不可恢复）。"};
        for (int k = 0; k < 3; ++k) {
            const QRect r = span(L + 16, T + 96 + 17 * k, R - 16, T + 110 + 17 * k);
            drawKitText(p, r, Qt::AlignLeft | Qt::AlignVCenter, Lang::tr(notes[k]));
        }
    }

    // Terms.
    {
        const QRect& card = cards.terms;
        const int L = card.left();
        const int T = card.top();
        const int R = card.right();
        header(card, 8, "协议与声明");
        const int titleAdvance = QFontMetrics(f13b).horizontalAdvance(Lang::tr("协议与声明"));
        p.setFont(f11);
        p.setPen(pal.secondaryText);
        const QRect note = span(L + 44 + titleAdvance, T + 19, R - 12, T + 38);
        drawKitText(p, note, Qt::AlignLeft | Qt::AlignVCenter,
                    Lang::tr("官方条款与开源许可，点击在浏览器中查看最新版本"));
        const QList<QRect> pills = linkPills();
        const char* const labels[3] = {"用户协议", "隐私政策", "LGPLV3 许可"};
        for (int k = 0; k < pills.size(); ++k) {
            const QRect r = pills.at(k);
            const int id = settingsids::UserAgreement + k;
            const bool pressed = id == m_pressedId;
            const bool active = pressed || id == m_hoveredId;
            p.setPen(QPen(active ? pal.accentHover : pal.cardBorder, 1));
            p.setBrush(active ? pal.accentTint : field);
            p.drawRoundedRect(QRectF(r).adjusted(0.5, 0.5, -0.5, -0.5), 6, 6);
            const QRectF doc(r.left() + 14, r.center().y() + 0.5 - 6, 10, 12);
            p.setPen(QPen(active ? pal.accentHover : pal.secondaryText, 1.1));
            p.setBrush(Qt::NoBrush);
            p.drawRoundedRect(doc, 1.5, 1.5);
            p.drawLine(QPointF(doc.left() + 2.2, doc.top() + 4.2), QPointF(doc.right() - 2.2, doc.top() + 4.2));
            p.drawLine(QPointF(doc.left() + 2.2, doc.top() + 7.2), QPointF(doc.right() - 3.4, doc.top() + 7.2));
            p.setFont(f11);
            p.setPen(pressed ? pal.accent.darker(115) : active ? pal.accent : pal.text);
            drawKitText(p, span(r.left() + 34, r.top(), r.right() - 8, r.bottom()), Qt::AlignLeft | Qt::AlignVCenter,
                        Lang::tr(labels[k]));
        }
    }
    p.restore();
}

QString aboutSiteText(bool community)
{
    // The service in use, the one named at run time before the one built in, as every request has it. A run
    // without a service has no site to name: a dash, not an empty line or a bare path.
    const QString domain = ktr::serviceHost().host();
    if (domain.isEmpty())
        return QStringLiteral("—");
    return community ? domain + QStringLiteral("/social.html") : domain;
}
