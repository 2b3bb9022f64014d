#pragma once

#include <QComboBox>

// A combo box whose closed face shows the current item's text cut with an ellipsis to fit, while its
// open list shows full texts. The owner keeps the full text of the current item in the property
// "fullText" and calls refreshElide after setting it. The wheel scrolls the page around it instead of
// changing the choice.
class ElideCombo : public QComboBox
{
    Q_OBJECT
public:
    using QComboBox::QComboBox;

    void refreshElide();
    void showPopup() override;
    void hidePopup() override;

protected:
    void wheelEvent(QWheelEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    QString fullText() const;
    void setCurrentItemTextQuietly(const QString& text);
};
