#pragma once

#include <QFontMetrics>
#include <QRect>
#include <QString>
#include <QWidget>

class QTimer;
class QVariantAnimation;

// A short message bubble near the top of its parent window: shown for 2.2 s, then faded out. It
// never takes focus and lets the mouse through to the window beneath.
class Toast : public QWidget
{
public:
    // What a message reports; any kind other than Info shows as an error.
    enum Kind { Info = 0, Error = 1 };

    explicit Toast(QWidget* parent);

    void showMessage(const QString& text, int kind);
    // Centres the bubble horizontally over the parent, 38 px below its top.
    void reposition();

    QString text() const { return m_text; }
    bool isError() const { return m_error; }

    static constexpr int kShowMs = 2200;
    static constexpr int kFadeMs = 280;
    static constexpr int kFollowMs = 250;
    static constexpr int kHeight = 38;     // one line
    static constexpr int kWrapPadding = 10; // above and below the lines of a wrapped text

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QFont bubbleFont() const;
    QRect wrappedTextRect(const QFontMetrics& fm, int width) const;

    QString m_text;
    bool m_error = false;
    QTimer* m_hideTimer = nullptr;
    QVariantAnimation* m_fade = nullptr;
    QTimer* m_followTimer = nullptr;
};
