#include "panel/namedialog.h"

#include "ui/lang.h"
#include "ui/screenfit.h"
#include "ui/theme.h"
#include "ui/windowcorners.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>

NameDialog::NameDialog(bool rename, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint), m_title(Lang::tr(rename ? "重命名分组" : "新建分组"))
{
    setAttribute(Qt::WA_TranslucentBackground);
    keepOnScreen(this);
    followCompositing(this, [] { return currentTheme().isDark ? QColor(0x2A, 0x2E, 0x38) : QColor(Qt::white); });
    setModal(true);
    setFixedSize(300, 168);
    setMouseTracking(true);
    setWindowTitle(m_title);

    m_edit = new QLineEdit(this);
    m_edit->setObjectName(QStringLiteral("nameEdit"));
    m_edit->setMaxLength(kMaxLength);
    m_edit->setGeometry(kEditRect);
    // The same light field in both themes.
    m_edit->setStyleSheet(
        QStringLiteral("QLineEdit{border:1px solid #C9CDD8;border-radius:8px;padding:4px 10px;background:white;"
                       "color:#39404C;font-size:13px;font-family:'%1';selection-background-color:#4C7DF0;}"
                       "QLineEdit:focus{border:1px solid #4C7DF0;}")
            .arg(uiFontFamily()));
    connect(m_edit, &QLineEdit::returnPressed, this, &QDialog::accept);
    m_edit->installEventFilter(this);
    m_edit->setFocus();
}

void NameDialog::setText(const QString& text)
{
    m_edit->setText(text);
    m_edit->selectAll();
}

QString NameDialog::name() const
{
    return m_edit->text().trimmed();
}

bool NameDialog::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_edit && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
        reject();
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

int NameDialog::areaAt(const QPoint& pos) const
{
    if (m_okRect.contains(pos))
        return 1;
    if (m_cancelRect.contains(pos))
        return 2;
    return 0;
}

void NameDialog::mouseMoveEvent(QMouseEvent* event)
{
    const int area = areaAt(event->position().toPoint());
    if (area != m_hovered) {
        m_hovered = area;
        update();
    }
}

void NameDialog::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    const int area = areaAt(event->position().toPoint());
    m_hovered = area;
    m_pressed = area;
    update();
}

void NameDialog::mouseReleaseEvent(QMouseEvent* event)
{
    const int pressed = m_pressed;
    m_pressed = 0;
    // The pointer may have left the area without a move event in between.
    m_hovered = areaAt(event->position().toPoint());
    update();
    if (event->button() != Qt::LeftButton || pressed == 0 || pressed != m_hovered)
        return;
    if (pressed == 2) {
        reject();
    } else if (!name().isEmpty()) {
        accept();
    } else {
        m_edit->setFocus();
    }
}

void NameDialog::paintEvent(QPaintEvent*)
{
    m_edit->setGeometry(kEditRect);
    m_okRect = kOkRect;
    m_cancelRect = kCancelRect;

    const Theme& theme = currentTheme();
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);

    const int radius = windowCornerRadius(std::max(themeCornerRadius(), 4));
    p.setPen(QPen(theme.border, 1));
    p.setBrush(theme.isDark ? QColor(0x2A, 0x2E, 0x38) : QColor(Qt::white));
    p.drawRoundedRect(QRectF(0.5, 0.5, width() - 1, height() - 1), radius, radius);

    QFont titleFont = font();
    titleFont.setFamily(uiFontFamily());
    titleFont.setPixelSize(15);
    titleFont.setWeight(QFont::Bold);
    p.setFont(titleFont);
    p.setPen(theme.text);
    p.drawText(kTitleRect, Qt::AlignLeft | Qt::AlignVCenter, m_title);

    QFont buttonFont(uiFontFamily());
    buttonFont.setPixelSize(13);
    p.setFont(buttonFont);

    QColor okFill = theme.accent;
    if (m_pressed == 1)
        okFill = okFill.darker(115);
    else if (m_hovered == 1)
        okFill = okFill.lighter(110);
    p.setPen(Qt::NoPen);
    p.setBrush(okFill);
    p.drawRoundedRect(m_okRect, 8, 8);
    p.setPen(Qt::white);
    // The language table knows both labels; without it an English panel shows Chinese buttons.
    p.drawText(m_okRect, Qt::AlignCenter, Lang::tr("确 定"));

    p.setPen(QPen(theme.controlBorder, 1));
    p.setBrush(m_pressed == 2 ? theme.activeBackground : theme.barButtonHover);
    p.drawRoundedRect(m_cancelRect, 8, 8);
    p.setPen(theme.text);
    p.drawText(m_cancelRect, Qt::AlignCenter, Lang::tr("取 消"));
}
