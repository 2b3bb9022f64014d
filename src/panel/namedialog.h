#pragma once

#include <QDialog>
#include <QRect>
#include <QString>

class QLineEdit;

// The small painted dialog that asks for a group's name, for a new group or a rename. The caller runs it
// modally and acts only on a non-empty name().
class NameDialog : public QDialog
{
    Q_OBJECT
public:
    explicit NameDialog(bool rename, QWidget* parent = nullptr);

    // Puts the current name into the field and selects all of it.
    void setText(const QString& text);
    // The field's text without surrounding white space.
    QString name() const;

    QString title() const { return m_title; }
    QLineEdit* lineEdit() const { return m_edit; }

    static constexpr int kMaxLength = 24;
    static constexpr QRect kTitleRect{24, 22, 252, 26};
    static constexpr QRect kEditRect{24, 62, 252, 34};
    static constexpr QRect kOkRect{24, 112, 120, 34};
    static constexpr QRect kCancelRect{156, 112, 120, 34};

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    // 1 = OK, 2 = cancel, 0 = neither.
    int areaAt(const QPoint& pos) const;

    QString m_title;
    QLineEdit* m_edit = nullptr;
    QRect m_okRect = kOkRect;
    QRect m_cancelRect = kCancelRect;
    int m_hovered = 0;
    int m_pressed = 0;
};
