#pragma once

#include <QDate>
#include <QDialog>
#include <QPoint>
#include <QRect>
#include <QString>

#include <atomic>
#include <memory>

class QCheckBox;
class QFrame;
class QLabel;
class QPlainTextEdit;
class QPushButton;

// The program's window onto its own log: an info card (version, system, the file shown), tools (refresh,
// copy, open the folder, export as text or zip, auto-scroll), the text of one day's log files after a
// header of paths and facts, and a footer with the line count and the time of the last refresh.
class LogViewerDialog : public QDialog
{
    Q_OBJECT
public:
    static constexpr qint64 kTailBytes = 8388608; // the most of one file that is read

    LogViewerDialog(const QString& dataDir, QWidget* parent = nullptr);
    ~LogViewerDialog() override;

    // The entry the settings dialog's "查看日志..." calls: a viewer over `parent`, run modally, destroyed
    // when it returns. dataDir empty: the program's data folder.
    static void showFor(QWidget* parent, const QString& dataDir = QString());

    // The size and place over a parent's geometry (global): as wide as the parent up to 920, its height
    // minus 40 within 480..680, centred on it.
    static QRect geometryFor(const QRect& parent);

    void applyTheme();
    void reload();
    void updateStatus();
    void copyLog();
    void openLogFolder();
    void exportText();
    void exportZip();

    QString text() const;
    QString statusText() const;
    bool zipBusy() const { return m_zipBusy; }
    QRect closeRect() const { return m_closeRect; }
    QPlainTextEdit* logView() const { return m_logView; }
    QCheckBox* autoScrollBox() const { return m_autoScroll; }

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void finishZipExport(bool ok, const QString& target);
    static QRect closeRectFor(int width);

    QString m_dataDir;
    QPlainTextEdit* m_logView = nullptr;
    QCheckBox* m_autoScroll = nullptr;
    QLabel* m_statusLabel = nullptr;
    QLabel* m_timeLabel = nullptr;
    QLabel* m_versionValue = nullptr;
    QLabel* m_systemValue = nullptr;
    QLabel* m_fileValue = nullptr;
    QLabel* m_title = nullptr;
    QLabel* m_captions[3] = {};
    QPushButton* m_buttons[5] = {};
    QRect m_closeRect;
    bool m_closeHover = false;
    bool m_zipBusy = false;
    bool m_dragging = false;
    QPoint m_dragOffset;
    std::shared_ptr<std::atomic<bool>> m_zipCancel; // set when the dialog goes away during an export
};

// The decoded text of one log file, at most its last 8 MiB (then starting at a whole line, behind a note).
// A file with a UTF-8 byte-order mark is decoded whole as UTF-8; otherwise line by line, a line that is not
// valid UTF-8 being decoded with the machine's 8-bit code page (platform/localcodepage.h).
QString readLogTail(const QString& path);
// The decoding of readLogTail, with the code page for lines that are not UTF-8 given (a QStringDecoder name;
// Latin-1 when it names none).
QString decodeLogText(const QByteArray& bytes, const QByteArray& codePage);

// The log file the viewer shows under root: today's "app.log", else the "app.log" of the sub-folder with the
// greatest name that holds one, else today's (missing) path. Empty when root is empty.
QString chooseLogFile(const QString& root, const QDate& today);
