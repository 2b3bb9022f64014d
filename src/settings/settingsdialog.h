#pragma once

#include <QDialog>

// The settings window. The main window only asks an open one to show changed groups and items again; the
// pages themselves come with the settings subsystem.
class SettingsDialog : public QDialog
{
    Q_OBJECT
public:
    explicit SettingsDialog(QWidget* parent = nullptr);

    // Nothing while hidden; otherwise lays the dialog out again and repaints it.
    void refresh();
};
