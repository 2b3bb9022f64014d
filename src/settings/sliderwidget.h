#pragma once

#include <QRect>
#include <QWidget>

// The horizontal slider of the settings dialog: a painted track with a thumb and a value text with a
// unit. Mouse presses and drags report every position; a focused slider also moves with the arrow keys,
// Page Up/Down, Home and End.
class SliderWidget : public QWidget
{
    Q_OBJECT
public:
    // Units of the value text.
    enum Kind { NoText = 0, Pixels = 1, Percent = 2, Degrees = 3, Megabytes = 4, Seconds = 5, Fps = 6 };

    explicit SliderWidget(QWidget* parent = nullptr);

    // Stores the range and bounds the value into it, without repainting or signalling.
    void setRange(int minimum, int maximum);
    // Bounds and stores the value; repaints and (when notify) signals when it changed. With notify, an
    // unchanged value still repaints and signals.
    void setValue(int value, bool notify);
    int value() const { return m_value; }
    int minimum() const { return m_min; }
    int maximum() const { return m_max; }

    void setKind(int kind);
    int kind() const { return m_kind; }
    // The value as the slider writes it, e.g. "50%", "100 MB".
    QString valueText() const;

    // Geometry: the track spans x 12 .. 12 + span; both ends of the track are reachable.
    int span() const;
    QRect trackRect() const;
    int valueToX() const;
    int xToValue(int x) const;

    QSize sizeHint() const override;

signals:
    void valueChanged(int value);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void pressAt(int x);

    int m_min = 0;
    int m_max = 100;
    int m_value = 0;
    int m_kind = NoText;
    bool m_dragging = false;
    bool m_hovered = false;
};

// A round dial that picks an angle in degrees: 0 at three o'clock, growing clockwise.
class AngleDial : public QWidget
{
    Q_OBJECT
public:
    explicit AngleDial(QWidget* parent = nullptr);

    int angle() const { return m_angle; }
    // Sets the angle from a point of the widget; the centre itself changes nothing.
    void angleAt(const QPointF& point);

    QSize sizeHint() const override;

signals:
    void angleChanged(int value);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    int m_angle = 45;
    bool m_dragging = false;
};
