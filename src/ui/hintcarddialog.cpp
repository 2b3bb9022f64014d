#include "ui/hintcarddialog.h"

#include "ui/lang.h"
#include "ui/modalcard.h"
#include "ui/settingskit.h"
#include "ui/theme.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QVBoxLayout>
#include <QWindow>

HintCardDialog::HintCardDialog(const QString& title, const QString& body, const QString& primaryText,
                               const QString& secondaryText, QWidget* parent)
    : QDialog(parent)
{
    const DialogPalette pal = dialogRoles();
    QWidget* card = buildCardShell(
        *this, QStringLiteral("hintCard"), 16,
        QStringLiteral("#hintCard{background:%1;border:1px solid %2;border-radius:14px;}")
            .arg(pal.dark ? QStringLiteral("#252A33") : QStringLiteral("#FFFFFF"), pal.cardBorder.name()),
        {30, QPointF(0, 8), QColor(0, 0, 0, pal.dark ? 130 : 60)}, QColor(pal.dark ? 0x252A33 : 0xFFFFFF));

    auto* layout = new QVBoxLayout(card);
    layout->setContentsMargins(24, 20, 24, 18);
    layout->setSpacing(12);

    auto* header = new QHBoxLayout;
    header->setSpacing(10);
    auto* logo = new QLabel(card);
    logo->setObjectName(QStringLiteral("hintLogo"));
    logo->setFixedSize(28, 28);
    const QPixmap logoPixmap(QStringLiteral(":/res/resources/logo.png"));
    if (!logoPixmap.isNull())
        logo->setPixmap(logoPixmap.scaled(28, 28, Qt::KeepAspectRatio, Qt::SmoothTransformation));
    header->addWidget(logo);
    auto* titleLabel = new QLabel(title, card);
    titleLabel->setObjectName(QStringLiteral("hintTitle"));
    titleLabel->setFont(pixelFont(uiFontFamily(), 16, 600));
    titleLabel->setStyleSheet(QStringLiteral("color:%1;").arg(pal.text.name()));
    header->addWidget(titleLabel, 1);
    auto* close = new QPushButton(QStringLiteral("✕"), card);
    close->setObjectName(QStringLiteral("hintClose"));
    close->setFlat(true);
    close->setFixedSize(24, 24);
    close->setFocusPolicy(Qt::NoFocus);
    close->setCursor(Qt::PointingHandCursor);
    close->setStyleSheet(QStringLiteral("QPushButton{border:none;background:transparent;color:%1;font-size:13px;}"
                                        "QPushButton:hover{color:%2;}")
                             .arg(pal.secondaryText.name(), pal.accent.name()));
    connect(close, &QPushButton::clicked, this, &QDialog::reject);
    header->addWidget(close);
    layout->addLayout(header);

    auto* bodyLabel = new QLabel(card);
    bodyLabel->setObjectName(QStringLiteral("hintBody"));
    bodyLabel->setTextFormat(Qt::RichText);
    bodyLabel->setText(body);
    bodyLabel->setWordWrap(true);
    bodyLabel->setFont(pixelFont(uiFontFamily(), 12, 400));
    bodyLabel->setStyleSheet(QStringLiteral("color:%1;").arg(pal.secondaryText.name()));
    layout->addWidget(bodyLabel);

    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(8);
    buttons->addStretch();
    if (!secondaryText.isEmpty()) {
        auto* secondary = new QPushButton(secondaryText, card);
        secondary->setObjectName(QStringLiteral("hintSecondary"));
        secondary->setFixedHeight(32);
        secondary->setMinimumWidth(88);
        secondary->setCursor(Qt::PointingHandCursor);
        secondary->setStyleSheet(
            QStringLiteral("QPushButton{border:1px solid %1;border-radius:6px;background:%2;color:%3;"
                           "font-size:12px;padding:0 16px;}QPushButton:hover{background:%4;}")
                .arg(pal.cardBorder.name(), pal.dark ? QStringLiteral("#2A2F38") : QStringLiteral("#F7F7F9"),
                     pal.text.name(), pal.hoverFill.name()));
        connect(secondary, &QPushButton::clicked, this, &QDialog::reject);
        buttons->addWidget(secondary);
    }
    auto* primary = new QPushButton(primaryText, card);
    primary->setObjectName(QStringLiteral("hintPrimary"));
    primary->setFixedHeight(32);
    primary->setMinimumWidth(96);
    primary->setCursor(Qt::PointingHandCursor);
    primary->setDefault(true);
    primary->setStyleSheet(QStringLiteral("QPushButton{border:none;border-radius:6px;background:%1;color:#FFFFFF;"
                                          "font-size:12px;padding:0 16px;}QPushButton:hover{background:%2;}"
                                          "QPushButton:pressed{background:%3;}")
                               .arg(pal.accent.name(), pal.accentHover.name(), pal.accent.darker(112).name()));
    connect(primary, &QPushButton::clicked, this, &QDialog::accept);
    buttons->addWidget(primary);
    layout->addLayout(buttons);

    fitCardToWidth(*this, 476);
}

void HintCardDialog::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton && event->position().y() < 64) {
        QWindow* handle = windowHandle();
        if (!handle || !handle->startSystemMove()) {
            m_dragging = true;
            m_dragOffset = event->globalPosition().toPoint() - pos();
        }
        event->accept();
        return;
    }
    QDialog::mousePressEvent(event);
}

void HintCardDialog::mouseMoveEvent(QMouseEvent* event)
{
    if (m_dragging) {
        move(event->globalPosition().toPoint() - m_dragOffset);
        event->accept();
        return;
    }
    QDialog::mouseMoveEvent(event);
}

void HintCardDialog::mouseReleaseEvent(QMouseEvent* event)
{
    if (m_dragging && event->button() == Qt::LeftButton) {
        m_dragging = false;
        event->accept();
        return;
    }
    QDialog::mouseReleaseEvent(event);
}

QString backgroundHintTitle()
{
    return Lang::tr("选择背景");
}

QString backgroundHintText()
{
    return QStringLiteral("<div style=\"line-height:168%\"><b>%1</b><br>· %2<br>· %3<br>· %4<br><br><b>%5</b><br>"
                          "· %6<br>· %7<br><br>%8</div>")
        .arg(Lang::tr("背景支持格式"), Lang::tr("静态图：PNG / JPG / BMP"), Lang::tr("动图：GIF（自动循环播放）"),
             Lang::tr("视频：MP4 / M4V / MOV / WMV / AVI / MKV（静音循环播放，需系统自带解码器）"),
             Lang::tr("建议尺寸比例"), Lang::tr("横屏面板 16:9（如 1920×1080）"),
             Lang::tr("竖屏面板 9:16（如 1080×1920）"),
             Lang::tr("比例不符时按「等比放大铺满」裁切显示；视频建议 1080p 以内，文件过大可能影响性能。"
                      "可在卡片内调整背景不透明度。"));
}

void previewBackgroundHintCard(QWidget* parent, const QString& outputPath)
{
    auto* card =
        new HintCardDialog(backgroundHintTitle(), backgroundHintText(), Lang::tr("选择文件"), Lang::tr("取消"), parent);
    card->setModal(false);
    card->show();
    QApplication::processEvents();
    const QPixmap shot = card->grab();
    reportCutLabels(card);
    shot.save(outputPath);
    card->hide();
    delete card;
}
