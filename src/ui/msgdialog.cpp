#include "ui/msgdialog.h"

#include "ui/dialogseams.h"
#include "ui/lang.h"
#include "ui/modalcard.h"
#include "ui/settingskit.h"
#include "ui/theme.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

const char kPrimaryStyle[] =
    "QPushButton{border:1px solid #0067C0;border-radius:2px;background:#0067C0;color:#FFFFFF;font-size:12px;"
    "padding:0 14px;}QPushButton:hover{background:#2E8BE0;}QPushButton:pressed{background:#005AA6;}";
const char kSecondaryStyle[] =
    "QPushButton{border:1px solid #DADADA;border-radius:2px;background:#F2F2F2;color:#1A1A1A;font-size:12px;"
    "padding:0 14px;}QPushButton:hover{background:#E5F1FB;border:1px solid #C9E4FB;}"
    "QPushButton:pressed{background:#CCE4F7;}";
const char kSecondaryDarkStyle[] =
    "QPushButton{border:1px solid #4A4A4A;border-radius:2px;background:#3A3A3A;color:#F0F0F0;font-size:12px;"
    "padding:0 14px;}QPushButton:hover{background:#454545;border:1px solid #5A5A5A;}"
    "QPushButton:pressed{background:#2F2F2F;}";

} // namespace

MsgDialog::MsgDialog(QWidget* parent, int kind, const QString& title, const QString& text, const QStringList& buttons,
                     int primaryIndex)
    : QDialog(parent)
{
    // The card follows the theme: a dark card in the dark theme, the white one otherwise.
    const bool dark = currentTheme().isDark;
    QWidget* card = buildCardShell(
        *this, QStringLiteral("msgCard"), 14,
        dark ? QStringLiteral("#msgCard{background:#2B2B2B;border:1px solid #454545;border-radius:8px;}")
             : QStringLiteral("#msgCard{background:#FFFFFF;border:1px solid #D9D9D9;border-radius:8px;}"),
        {28, QPointF(0, 6), QColor(0, 0, 0, dark ? 140 : 70)}, QColor(dark ? 0x2B2B2B : 0xFFFFFF));

    auto* layout = new QVBoxLayout(card);
    layout->setContentsMargins(24, 22, 24, 20);
    layout->setSpacing(14);

    auto* top = new QHBoxLayout;
    top->setSpacing(16);
    // No alignment on the row itself: an aligned box gets its size hint's height, and the wrapped text
    // would lose lines; the icon alone is held at the top.
    auto* icon = new QLabel(card);
    icon->setObjectName(QStringLiteral("msgIcon"));
    icon->setPixmap(iconPixmap(kind));
    icon->setFixedSize(36, 36);
    top->addWidget(icon, 0, Qt::AlignTop);
    auto* column = new QVBoxLayout;
    column->setSpacing(6);
    auto* titleLabel = new QLabel(title, card);
    titleLabel->setObjectName(QStringLiteral("msgTitle"));
    titleLabel->setFont(pixelFont(uiFontFamily(), 14, 600));
    titleLabel->setStyleSheet(dark ? QStringLiteral("color:#F2F2F2;") : QStringLiteral("color:#1A1A1A;"));
    auto* textLabel = new QLabel(text, card);
    textLabel->setObjectName(QStringLiteral("msgText"));
    textLabel->setFont(pixelFont(uiFontFamily(), 12, 400));
    textLabel->setWordWrap(true);
    textLabel->setStyleSheet(dark ? QStringLiteral("color:#D6D6D6;") : QStringLiteral("color:#3A3A3A;"));
    column->addWidget(titleLabel);
    column->addWidget(textLabel);
    column->addStretch(1);
    top->addLayout(column, 1);
    layout->addLayout(top);

    auto* row = new QHBoxLayout;
    row->setSpacing(8);
    row->addStretch();
    for (int i = 0; i < buttons.size(); ++i) {
        auto* b = new QPushButton(buttons.at(i), card);
        b->setCursor(Qt::PointingHandCursor);
        b->setFixedHeight(32);
        b->setMinimumWidth(86);
        b->setStyleSheet(QLatin1String(i == primaryIndex ? kPrimaryStyle
                                       : dark            ? kSecondaryDarkStyle
                                                         : kSecondaryStyle));
        b->setProperty("primary", i == primaryIndex);
        connect(b, &QPushButton::clicked, this, [this, i] {
            m_clicked = i;
            accept();
        });
        row->addWidget(b);
    }
    layout->addLayout(row);

    fitCardToWidth(*this, 420);
    if (parent) {
        const QRect g = parent->geometry();
        move((g.left() + g.right()) / 2 - width() / 2, (g.top() + g.bottom()) / 2 - height() / 2);
    }
}

QPixmap MsgDialog::iconPixmap(int kind)
{
    QPixmap pm(36, 36);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing, true);
    p.translate(18, 18);
    if (kind == Warning) {
        const QPointF tri[] = {{0, -13}, {14, 11}, {-14, 11}};
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0xF2, 0xC8, 0x11));
        p.drawPolygon(tri, 3);
        p.setPen(QPen(QColor(0x33, 0x33, 0x33), 2.4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.setBrush(Qt::NoBrush);
        p.drawLine(QPointF(0, -4), QPointF(0, 4));
        p.drawPoint(QPointF(0, 8));
        return pm;
    }
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x00, 0x67, 0xC0));
    p.drawEllipse(QRectF(-13, -13, 26, 26));
    const QPen white(Qt::white, 2.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    p.setPen(white);
    p.setBrush(Qt::white);
    if (kind == Question) {
        p.setFont(pixelFont(uiFontFamily(), 16, 700));
        p.drawText(QRectF(-10, -12, 20, 22), Qt::AlignCenter, QStringLiteral("?"));
    } else {
        p.setPen(Qt::NoPen);
        p.drawEllipse(QRectF(-1.5, -7, 3, 3));
        p.setPen(white);
        p.setBrush(Qt::NoBrush);
        p.drawLine(QPointF(0, -2.5), QPointF(0, 6));
    }
    return pm;
}

int MsgDialog::ask(QWidget* parent, const QString& title, const QString& text, const QString& yesText,
                   const QString& noText)
{
    const QString yes = yesText.isEmpty() ? Lang::tr("是") : yesText;
    const QString no = noText.isEmpty() ? Lang::tr("否") : noText;
    MsgDialog card(parent, Question, title, text, {no, yes}, 1);
    const int result = execCard(card);
    return result == QDialog::Accepted ? card.clickedIndex() : -1;
}

void MsgDialog::showInfoCard(QWidget* parent, const QString& title, const QString& text, const QString& buttonText)
{
    MsgDialog card(parent, Information, title, text, {buttonText.isEmpty() ? Lang::tr("确定") : buttonText}, 0);
    execCard(card);
}

void installMessageCards()
{
    ktr::dialogs::setDefaultCards(
        [](QWidget* parent, const QString& title, const QString& text) { return MsgDialog::ask(parent, title, text); },
        [](QWidget* parent, const QString& title, const QString& text, int kind) {
            MsgDialog card(parent, kind == 0 ? MsgDialog::Information : MsgDialog::Warning, title, text,
                           {Lang::tr("确定")}, 0);
            execCard(card);
        });
}
