#pragma once

#include <QImage>
#include <QTextEdit>

// The input box of the support chat: plain text, and pictures pasted or dropped onto it are handed to the
// window instead of being inserted.
class ChatEdit : public QTextEdit
{
    Q_OBJECT
public:
    explicit ChatEdit(QWidget* parent = nullptr);

    // Public so the window's tests can paste without a clipboard.
    bool canInsertFromMimeData(const QMimeData* source) const override;
    void insertFromMimeData(const QMimeData* source) override;

Q_SIGNALS:
    void imagePicked(QImage img);
};
