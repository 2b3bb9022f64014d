#pragma once

#include "backup/backupjobs.h" // rangedProgress

#include <QDialog>
#include <QWidget>

#include <functional>

class QLabel;
class QPushButton;
class QTimer;

// The bar of the progress card: a moving segment while the percent is unknown (negative), else a fill.
class ProgressTrack : public QWidget
{
public:
    explicit ProgressTrack(QWidget* parent = nullptr) : QWidget(parent) {}
    void setPhase(int phase) { m_phase = phase; }
    void setPercent(int percent) { m_percent = percent; }
    int phase() const { return m_phase; }
    int percent() const { return m_percent; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int m_phase = 0;
    int m_percent = -1;
};

// The modal card shown while a backup, restore or export runs: a label, the bar and a cancel button. It
// animates by itself until the first real progress arrives; one press of "取消" calls onCancel once.
class BackupProgressDialog : public QDialog
{
public:
    static constexpr int kAnimationMs = 28;

    BackupProgressDialog(QWidget* parent, const QString& text, std::function<void()> onCancel);
    ~BackupProgressDialog() override;

    // Percent clamped to 0..100 and never below what was shown before; the engine's status text is
    // translated here. Ignored once cancelled.
    void setProgress(int percent, const QString& text);

    int percent() const { return m_percent; }
    int phase() const { return m_phase; }
    bool isCancelled() const { return m_cancelled; }
    QString labelText() const;
    QPushButton* cancelButton() const { return m_cancel; }
    ProgressTrack* track() const { return m_track; }
    QTimer* animationTimer() const { return m_timer; }

private:
    void cancel();

    QLabel* m_label = nullptr;
    ProgressTrack* m_track = nullptr;
    QPushButton* m_cancel = nullptr;
    int m_phase = 0;
    int m_percent = -1;
    bool m_cancelled = false;
    QTimer* m_timer = nullptr;
    std::function<void()> m_onCancel;
};
