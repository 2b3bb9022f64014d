#pragma once

#include "model/shortcutfile.h"

#include <QDialog>
#include <QPixmap>
#include <QPoint>
#include <QRect>
#include <QString>

#include <functional>

class QCheckBox;
class QLineEdit;
class QPushButton;

// The frameless, self-painted dialog that edits one panel entry: its display name, its icon and the shortcut
// fields. It edits copies only: after Accepted the caller reads name(), result(), iconChoice() and
// chosenIconPath(), writes the shortcut file when the entry is one, and updates the entry.
class ShortcutEditDialog : public QDialog
{
    Q_OBJECT

public:
    // What "更改图标" did: nothing, an icon file was chosen, the default icon was restored.
    enum IconChoice { IconUntouched = 0, IconFromFile = 1, IconRestored = 2 };

    // itemPath is the entry's own path (its default icon and, for an entry that is not a shortcut file, the
    // target shown). A null icon is loaded from itemPath through the icon loader.
    ShortcutEditDialog(const QString& itemPath, const QString& name, bool isLink, const ShortcutInfo& info,
                       const QPixmap& icon, QWidget* parent = nullptr);

    // Files and folders are chosen through the shared dialog seams (ui/dialogseams.h).

    // The name edit's text, trimmed.
    QString name() const;
    // The record passed in with target and working folder (trimmed), arguments (typed with an Exec line's
    // quoting; returned as typed when QProcess::splitCommand reads them alike, else rewritten for it) and the
    // administrator flag from the form; iconPath and iconIndex stay as passed in.
    ShortcutInfo result() const;
    int iconChoice() const { return m_iconChoice; }
    QString chosenIconPath() const { return m_chosenIconPath; }

    QPixmap iconPreview() const { return m_preview; }
    bool noticeDismissed() const { return m_noticeDismissed; }
    QRect iconBoxRect() const { return m_iconBox; }
    QRect noticeRect() const { return m_noticeRect; }

    void chooseIcon();
    void restoreIcon();
    void browseTarget();
    void browseWorkingDir();
    void confirm();
    void dismissNotice();

    static constexpr int kWidth = 520;
    static constexpr int kHeight = 584;
    static constexpr int kNoticeHeight = 54; // what the dialog loses when the notice is dismissed

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void applyStyles();
    void layoutChildren();
    void setIconFromFile(const QString& path);

    QString m_itemPath;
    bool m_isLink = false;
    ShortcutInfo m_info;
    QPixmap m_preview;

    QLineEdit* m_nameEdit = nullptr;
    QLineEdit* m_targetEdit = nullptr;
    QLineEdit* m_workingDirEdit = nullptr;
    QLineEdit* m_argumentsEdit = nullptr;
    QString m_shownArguments; // the arguments as first shown
    QCheckBox* m_runAsAdmin = nullptr;
    QPushButton* m_changeIconButton = nullptr;
    QPushButton* m_restoreIconButton = nullptr;
    QPushButton* m_browseTargetButton = nullptr;
    QPushButton* m_browseWorkingDirButton = nullptr;
    QPushButton* m_okButton = nullptr;
    QPushButton* m_cancelButton = nullptr;
    QPushButton* m_noticeCloseButton = nullptr;
    QPushButton* m_closeButton = nullptr;

    QRect m_iconBox;
    QRect m_noticeRect;
    QPoint m_targetLabelAnchor;
    QPoint m_workingDirLabelAnchor;
    QPoint m_argumentsLabelAnchor;

    int m_iconChoice = IconUntouched;
    QString m_chosenIconPath;
    bool m_noticeDismissed = false;

    bool m_dragging = false;
    QPoint m_dragOffset;
};
