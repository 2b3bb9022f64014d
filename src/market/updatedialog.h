#pragma once

#include <QRect>
#include <QStringList>
#include <QWidget>

// The card that offers a new version of the panel: logo, heading, the release notes as lines, a status
// line with a progress bar while the installer downloads, "later" and "update" buttons, a link to the
// service's site and minimise and close buttons. It only shows what its owner tells it and reports the
// user's choice through its signals.
class UpdateDialog : public QWidget
{
    Q_OBJECT
public:
    enum Part { None = 0, UpdatePart = 1, LaterPart = 2, ClosePart = 3, SitePart = 4, MinimizePart = 5 };

    explicit UpdateDialog(QWidget* parent = nullptr);

    // Fills the card (notes broken into lines before each of ① … ⑳), clears the status line and
    // the progress, sizes it, and shows it application-modal.
    void setUpdateInfo(const QString& version, const QString& notes, const QString& third);
    // Shows the card again as it was (application-modal, raised and active), after it was put away.
    void bringBack();
    // True from the minimise button until the card is brought back or filled again.
    bool isPutAway() const { return m_putAway; }
    void setStatusText(const QString& text);
    void setProgress(int percent);
    int partAt(const QPoint& p) const;

    // The display lines of notes (pure; what setUpdateInfo stores).
    static QStringList splitNotes(const QString& notes);

    QStringList noteLines() const { return m_noteLines; }
    QString statusText() const { return m_statusText; }
    int progress() const { return m_progress; }
    int notesHeight() const { return m_notesHeight; }
    // Sizes the card for its notes on the screen it is on.
    void relayout();
    // The same for a given available screen area (an invalid one: no screen).
    void relayoutFor(const QRect& available);

Q_SIGNALS:
    void updateClicked();
    void dismissed();
    void minimized();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void computeRects();
    QStringList displayLines() const;

    QString m_version;
    QString m_title;
    QString m_notes;
    QStringList m_noteLines;
    int m_notesHeight = 52;
    QString m_statusText;
    int m_progress = -1;
    bool m_putAway = false;
    QRect m_updateRect, m_laterRect, m_closeRect, m_minimizeRect, m_siteRect;
    int m_pressedPart = 0;
};
