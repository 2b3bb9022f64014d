#include "settings/elidecombo.h"

#include "ui/theme.h"

#include <QPainter>
#include <QWheelEvent>

#include <algorithm>

QString ElideCombo::fullText() const
{
    return property("fullText").toString();
}

void ElideCombo::setCurrentItemTextQuietly(const QString& text)
{
    if (itemText(currentIndex()) == text)
        return;
    const bool blocked = blockSignals(true);
    setItemText(currentIndex(), text);
    blockSignals(blocked);
}

void ElideCombo::refreshElide()
{
    const QString full = fullText();
    if (full.isEmpty() || currentIndex() < 0)
        return;
    const int available = std::max(40, width() - 36);
    setCurrentItemTextQuietly(fontMetrics().elidedText(full, Qt::ElideRight, available));
}

void ElideCombo::showPopup()
{
    const QString full = fullText();
    if (!full.isEmpty() && currentIndex() >= 0)
        setCurrentItemTextQuietly(full);
    QComboBox::showPopup();
}

void ElideCombo::hidePopup()
{
    QComboBox::hidePopup();
    refreshElide();
}

void ElideCombo::wheelEvent(QWheelEvent* event)
{
    event->ignore();
}

void ElideCombo::resizeEvent(QResizeEvent* event)
{
    QComboBox::resizeEvent(event);
    refreshElide();
}

void ElideCombo::paintEvent(QPaintEvent* event)
{
    QComboBox::paintEvent(event);
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setPen(Qt::NoPen);
    p.setBrush(currentTheme().hintText); // the muted glyph colour
    const qreal ax = width() - 15;
    const qreal h2 = height() / 2.0;
    const QPointF tri[] = {{ax - 4, h2 - 2.5}, {ax + 4, h2 - 2.5}, {ax, h2 + 2.5}};
    p.drawPolygon(tri, 3);
}
