#pragma once

#include <QDialog>
#include <QPoint>

// A small frameless modal card: the logo, a title, a close cross, a rich-text body and one or two
// buttons. The primary button accepts; the secondary button (left out when its text is empty) and the
// cross reject. It follows the dark and light dialog palettes. Run it with execCard (ui/modalcard.h).
class HintCardDialog : public QDialog
{
    Q_OBJECT
public:
    HintCardDialog(const QString& title, const QString& body, const QString& primaryText, const QString& secondaryText,
                   QWidget* parent = nullptr);

protected:
    // A left press in the header (y < 64) moves the window.
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    // Set when the window system can't move the window itself: the card follows the pointer.
    bool m_dragging = false;
    QPoint m_dragOffset;
};

// The title of the hint shown before a background image is chosen (translated): it leads to the choice, nothing is
// set yet when it shows.
QString backgroundHintTitle();
// The body of that hint (rich text, translated).
QString backgroundHintText();
// Renders that hint card to `outputPath` (the UI preview).
void previewBackgroundHintCard(QWidget* parent, const QString& outputPath);
