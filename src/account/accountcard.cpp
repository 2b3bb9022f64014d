#include "account/accountcard.h"

#include "account/accountpaint.h"
#include "ui/screenfit.h"
#include "ui/theme.h"
#include "ui/uisignals.h"
#include "ui/windowcorners.h"

#include <QMouseEvent>

AccountCardDialog::AccountCardDialog(QWidget* parent) : QDialog(parent)
{
    setWindowFlags(windowFlags() | Qt::FramelessWindowHint);
    setAttribute(Qt::WA_TranslucentBackground);
    keepOnScreen(this);
    followCompositing(this, [] { return accountCardFill(currentTheme().isDark); });
    setAttribute(Qt::WA_MouseTracking);
    setMouseTracking(true);
    connect(&UiSignals::instance(), &UiSignals::languageChanged, this, [this] {
        relayout();
        update();
    });
    connect(&UiSignals::instance(), &UiSignals::themeChanged, this, [this] { update(); });
}

int AccountCardDialog::buttonAt(const QPoint& pos) const
{
    const QList<QRect> rects = buttonRects();
    for (int i = 0; i < rects.size(); ++i)
        if (rects[i].contains(pos))
            return i + 1;
    return 0;
}

void AccountCardDialog::setHover(int id)
{
    if (id == m_hoverId)
        return;
    m_hoverId = id;
    setCursor(id > 0 ? Qt::PointingHandCursor : Qt::ArrowCursor);
    update();
}

void AccountCardDialog::clearPressed()
{
    if (m_pressedId != 0) {
        m_pressedId = 0;
        update();
    }
}

void AccountCardDialog::mouseMoveEvent(QMouseEvent* event)
{
    setHover(buttonAt(event->position().toPoint()));
}

void AccountCardDialog::leaveEvent(QEvent*)
{
    setHover(0);
}

void AccountCardDialog::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return clearPressed();
    const int id = buttonAt(event->position().toPoint());
    setHover(id);
    m_pressedId = id;
    update();
}

void AccountCardDialog::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return clearPressed();
    const int pressed = m_pressedId;
    m_pressedId = 0;
    // The release point decides too: a press on a button and a release beside it does nothing, also
    // when no move arrived in between.
    setHover(buttonAt(event->position().toPoint()));
    update();
    if (pressed > 0 && pressed == m_hoverId)
        activate(pressed);
}
