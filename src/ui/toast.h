#pragma once

#include <QFontMetrics>
#include <QList>
#include <QRect>
#include <QString>
#include <QStringList>
#include <QWidget>

class QTimer;
class QVariantAnimation;

// A short message bubble near the top of its parent window: shown for 2.2 s (longer for a longer text),
// then faded out. A message that arrives while another is still within its time waits for it, so no notice
// is cut short by the next. It never takes focus and lets the mouse through to the window beneath.
class Toast : public QWidget
{
    Q_OBJECT
public:
    // What a message reports; any kind other than Info shows as an error.
    enum Kind { Info = 0, Error = 1 };

    explicit Toast(QWidget* parent);

    void showMessage(const QString& text, int kind);
    // How long a text stays before it fades: 2.2 s, and more for a text that takes longer to read.
    static int showMsFor(const QString& text);
    // The lines a text is drawn in at the given width: broken at spaces and between Chinese characters; a
    // path is kept whole when it fits on a line and otherwise broken after one of its "/", never inside a
    // name. A single name wider than the line stays one line (the bubble clips it).
    static QStringList wrapLines(const QString& text, const QFontMetrics& fm, int width);
    // The lines of the message shown (one when it fits on one line).
    QStringList lines() const { return m_lines; }
    // Messages waiting for the one shown to have had its time.
    int pendingCount() const { return int(m_pending.size()); }
    // Centres the bubble horizontally over the parent, 38 px below its top.
    void reposition();

    QString text() const { return m_text; }
    // The newest message sent, whether it is shown or still waiting for the one before it.
    QString latestText() const { return m_pending.isEmpty() ? m_text : m_pending.last().text; }
    bool isError() const { return m_error; }

    static constexpr int kShowMs = 2200;
    static constexpr int kMaxShowMs = 8000;
    static constexpr int kMaxPending = 3;
    static constexpr int kFadeMs = 280;
    static constexpr int kFollowMs = 250;
    static constexpr int kHeight = 38;      // one line
    static constexpr int kWrapPadding = 10; // above and below the lines of a wrapped text

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    struct Pending
    {
        QString text;
        int kind = 0;
    };
    void display(const QString& text, int kind);
    QFont bubbleFont() const;
    QRect linesRect(const QFontMetrics& fm) const;

    QString m_text;
    QStringList m_lines;
    bool m_error = false;
    QList<Pending> m_pending;
    QTimer* m_hideTimer = nullptr;
    QVariantAnimation* m_fade = nullptr;
    QTimer* m_followTimer = nullptr;
};
