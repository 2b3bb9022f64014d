#pragma once

#include <QString>
#include <QWidget>

// The lock screen that covers the whole main window while the interface lock is engaged. It holds its mode
// and background path; the drawing, the password entry and the unlock come with the lock subsystem.
class UiLockOverlay : public QWidget
{
    Q_OBJECT
public:
    // What a correct password does: unlock the panel, or confirm removing the protection password.
    enum class Mode { Unlock = 0, RemoveProtection = 1 };

    explicit UiLockOverlay(QWidget* parent = nullptr);

    void setMode(Mode mode);
    Mode mode() const { return m_mode; }
    void setBackgroundPath(const QString& path);
    QString backgroundPath() const { return m_backgroundPath; }

private:
    Mode m_mode = Mode::Unlock;
    QString m_backgroundPath;
};
