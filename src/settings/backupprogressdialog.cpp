#include "settings/backupprogressdialog.h"

#include "ui/lang.h"
#include "ui/modalcard.h"
#include "ui/theme.h"

#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

void ProgressTrack::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setPen(Qt::NoPen);
    const int w = width();
    const int h = height();
    p.setBrush(currentTheme().isDark ? QColor(0x45, 0x45, 0x45) : QColor(0xEE, 0xEE, 0xEE));
    p.drawRoundedRect(QRect(0, 0, w, h), 4, 4);
    p.setBrush(QColor(0x00, 0x67, 0xC0));
    if (m_percent >= 0) {
        const int fill = int(std::min(m_percent, 100) * w / 100.0);
        if (fill > 0)
            p.drawRoundedRect(QRect(0, 0, fill, h), 4, 4);
        return;
    }
    const int length = int(0.35 * w);
    const int m = (w + length) * m_phase / 100 - length;
    const int x = std::max(m, 0);
    const int segment = std::min(length, w - x);
    if (segment >= 1)
        p.drawRoundedRect(QRect(x, 0, segment, h), 4, 4);
}

BackupProgressDialog::BackupProgressDialog(QWidget* parent, const QString& text, std::function<void()> onCancel)
    : QDialog(parent), m_onCancel(std::move(onCancel))
{
    // The card follows the theme as the message cards do: dark in the dark theme, white otherwise.
    const bool dark = currentTheme().isDark;
    QWidget* card = buildCardShell(
        *this, QStringLiteral("progCard"), 14,
        dark ? QStringLiteral("#progCard{background:#2B2B2B;border:1px solid #454545;border-radius:8px;}")
             : QStringLiteral("#progCard{background:#FFFFFF;border:1px solid #D9D9D9;border-radius:8px;}"),
        {28, QPointF(0, 6), QColor(0, 0, 0, dark ? 140 : 70)}, QColor(dark ? 0x2B2B2B : 0xFFFFFF));
    auto* layout = new QVBoxLayout(card);
    layout->setContentsMargins(24, 20, 24, 18);
    layout->setSpacing(12);

    m_label = new QLabel(text, card);
    QFont font(uiFontFamily());
    font.setPixelSize(12);
    m_label->setFont(font);
    m_label->setStyleSheet(dark ? QStringLiteral("color:#D6D6D6;") : QStringLiteral("color:#3A3A3A;"));
    layout->addWidget(m_label);

    m_track = new ProgressTrack(card);
    m_track->setFixedHeight(8);
    m_track->setFixedWidth(320);
    layout->addWidget(m_track, 0, Qt::AlignLeft);

    m_cancel = new QPushButton(Lang::tr("取消"), card);
    m_cancel->setCursor(Qt::PointingHandCursor);
    m_cancel->setFixedHeight(28);
    m_cancel->setMinimumWidth(86);
    m_cancel->setStyleSheet(
        dark ? QStringLiteral("QPushButton{border:1px solid #4A4A4A;border-radius:2px;background:#3A3A3A;color:#F0F0F0;"
                              "font-size:12px;padding:0 14px;}QPushButton:hover{background:#454545;border:1px solid "
                              "#5A5A5A;}QPushButton:disabled{color:#7A7A7A;background:#333333;}")
             : QStringLiteral("QPushButton{border:1px solid #DADADA;border-radius:2px;background:#F2F2F2;color:#1A1A1A;"
                              "font-size:12px;padding:0 14px;}QPushButton:hover{background:#E5F1FB;border:1px solid "
                              "#C9E4FB;}QPushButton:disabled{color:#9A9A9A;background:#F7F7F7;}"));
    layout->addWidget(m_cancel, 0, Qt::AlignRight);
    if (m_onCancel)
        connect(m_cancel, &QPushButton::clicked, this, [this] { cancel(); });
    else
        m_cancel->hide();

    setFixedWidth(380);
    adjustSize();
    m_phase = 0;

    m_timer = new QTimer(this);
    m_timer->setInterval(kAnimationMs);
    connect(m_timer, &QTimer::timeout, this, [this] {
        m_phase = (m_phase + 3) % 100;
        m_track->setPhase(m_phase);
        m_track->update();
    });
    m_timer->start();

    if (parent) {
        const QRect g = parent->geometry();
        move((g.left() + g.right()) / 2 - width() / 2, (g.top() + g.bottom()) / 2 - height() / 2);
    }
}

BackupProgressDialog::~BackupProgressDialog() = default;

QString BackupProgressDialog::labelText() const
{
    return m_label->text();
}

void BackupProgressDialog::cancel()
{
    if (m_cancelled)
        return;
    m_cancelled = true;
    m_cancel->setEnabled(false);
    const QString text = Lang::tr("正在取消…");
    m_cancel->setText(text);
    m_label->setText(text);
    if (m_onCancel)
        m_onCancel();
}

void BackupProgressDialog::setProgress(int percent, const QString& text)
{
    if (m_cancelled)
        return;
    // Two engine steps report in turn, and a late report of the first must not pull the bar back.
    m_percent = std::max(m_percent, std::clamp(percent, 0, 100));
    m_label->setText(QStringLiteral("%1   %2%").arg(Lang::tr(text)).arg(m_percent));
    m_track->setPercent(m_percent);
    m_track->update();
    m_timer->stop();
}
