#include "settings/elidecombo.h"

#include "ui/theme.h"

#include <QPainter>
#include <QStyle>
#include <QStyleOptionComboBox>
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
    // The room the style leaves the text (its padding and the drop-down taken off): the style shortens a
    // longer text again on its own, into a cut that shows no ellipsis of ours.
    ensurePolished();
    QStyleOptionComboBox option;
    initStyleOption(&option);
    const QRect field = style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, this);
    const int available = std::max(40, field.width() - 2);
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
