#pragma once

#include <QString>
#include <QWidget>

// The lock screen that covers the whole main window while the interface lock is engaged. It holds its mode
// and background path; the drawing, the password entry and the unlock come with the lock subsystem.
class UiLockOverlay : public QWidget
{
    Q_OBJECT
public:
    explicit UiLockOverlay(QWidget* parent = nullptr);

    // 0 unlocks the panel; any other value confirms removing the protection password.
    void setMode(int mode);
    int mode() const { return m_mode; }
    void setBackgroundPath(const QString& path);
    QString backgroundPath() const { return m_backgroundPath; }

private:
    int m_mode = 0;
    QString m_backgroundPath;
};
