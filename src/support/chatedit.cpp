#include "support/chatedit.h"

#include <QMimeData>
#include <QUrl>

ChatEdit::ChatEdit(QWidget* parent) : QTextEdit(parent)
{
}

bool ChatEdit::canInsertFromMimeData(const QMimeData* source) const
{
    // A dropped picture or picture file is taken too, not only text.
    return source && (source->hasImage() || source->hasUrls() || QTextEdit::canInsertFromMimeData(source));
}

void ChatEdit::insertFromMimeData(const QMimeData* source)
{
    if (!source)
        return;
    if (source->hasImage()) {
        const QImage img = qvariant_cast<QImage>(source->imageData());
        if (!img.isNull()) {
            emit imagePicked(img);
            return;
        }
    }
    if (source->hasUrls()) {
        for (const QUrl& url : source->urls()) {
            if (!url.isLocalFile())
                continue;
            const QImage img(url.toLocalFile());
            if (!img.isNull()) {
                emit imagePicked(img);
                return;
            }
        }
    }
    QTextEdit::insertFromMimeData(source); // rich text is off, so this inserts plain text
}
