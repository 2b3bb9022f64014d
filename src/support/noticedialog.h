#pragma once

#include <QColor>
#include <QFontMetrics>
#include <QPoint>
#include <QRect>
#include <QString>
#include <QStringList>
#include <QWidget>

// The small frameless window of one server notice: logo and title, the notice's date, the text and one
// button ("我知道了") or two ("关闭", "查看详情") when the notice has a link. Deletes itself when closed and
// reports "delivered", "opened" and "closed" for its notice.
class NoticeDialog : public QWidget
{
    Q_OBJECT
public:
    static constexpr int kWidth = 470;
    static constexpr int kBodyTop = 70;
    static constexpr int kBodyWidth = 420;
    static constexpr int kMaxTitleChars = 200; // the title is one elided line

    NoticeDialog(qint64 noticeId, const QString& title, const QString& body, const QString& url,
                 const QString& titleColor, QWidget* parent = nullptr);

    // The notice's date, shown under the title (as the notice record gives it); empty shows none.
    void setDate(const QString& date);
    QString date() const { return m_date; }

    void showCentered();
    void dismiss();
    void openLink();
    void reportAction(const QString& action);

    qint64 noticeId() const { return m_noticeId; }
    QStringList lines() const { return m_lines; }
    int rowHeight() const { return m_row; }
    int bodyHeight() const { return m_row * int(m_lines.size()); }
    QRect primaryButtonRect() const;
    QRect secondaryButtonRect() const;
    QColor titlePen() const;

    // The body wrapped into lines no wider than `width` for the metrics (lines split at "\n"; a break goes
    // to the last space when it lies fewer than 12 characters back, else where the text stops fitting;
    // a surrogate pair is never split).
    // maxLines >= 0: stops after that many lines (a long notice costs no more than what fits).
    static QStringList wrapBody(const QString& body, const QFontMetrics& metrics, int width = kBodyWidth,
                                int maxLines = -1);
    // The number of body lines that fit a screen of that available height.
    static int maxLinesFor(int availableHeight, int row);
    // At most max(1, (availableHeight - 186) / row) lines; a cut list ends in "…".
    static QStringList capLines(const QStringList& lines, int availableHeight, int row);
    // The title colour painted on a card colour: the requested one, darkened or lightened by 170 % when
    // its lightness lies within 60 of the card's; `fallback` when none or unparsable is requested.
    static QColor titleColorOn(const QString& requested, const QColor& card, const QColor& fallback);
    // The card's fill in the current palette.
    static QColor cardColor();
    // True for links the details button may open: http or https with a host.
    static bool isOpenableLink(const QString& url);

Q_SIGNALS:
    void dismissed();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    bool onClose(const QPoint& p) const;
    void paintButton(QPainter& p, const QRect& r, const QString& label, bool primary, bool hover);

    qint64 m_noticeId;
    QString m_title;
    QString m_body;
    QString m_url;
    QString m_titleColor;
    QString m_date;
    bool m_closeHover = false;
    bool m_primaryHover = false;
    bool m_secondaryHover = false;
    bool m_dragging = false;
    QPoint m_dragOffset;
    QStringList m_lines;
    int m_row = 1;
    bool m_deliveredScheduled = false;
};
