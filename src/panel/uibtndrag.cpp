#include "panel/uibtndrag.h"

#include "ui/theme.h"
#include "ui/uibtn.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QMimeData>
#include <QPainter>

QMimeData* makeUiBtnMimeData(int id, int fromZone)
{
    auto* mime = new QMimeData;
    const QJsonObject obj{{QStringLiteral("ub"), id}, {QStringLiteral("from"), fromZone}};
    mime->setData(QString::fromLatin1(kUiBtnMimeType), QJsonDocument(obj).toJson(QJsonDocument::Compact));
    return mime;
}

bool hasUiBtnPayload(const QMimeData* mime)
{
    return mime && mime->hasFormat(QString::fromLatin1(kUiBtnMimeType));
}

int readUiBtnPayload(const QMimeData* mime)
{
    if (!hasUiBtnPayload(mime))
        return -1;
    const QByteArray bytes = mime->data(QString::fromLatin1(kUiBtnMimeType));
    if (bytes.size() > 4096)
        return -1;
    const int id = QJsonDocument::fromJson(bytes).object().value(QStringLiteral("ub")).toInt(-1);
    return UiBtn::isValid(id) ? id : -1;
}

QPixmap uiBtnDragPixmap(int id, bool pinned, const QColor& color, qreal devicePixelRatio)
{
    const int side = std::max(1, qRound(22 * devicePixelRatio));
    QImage img(side, side, QImage::Format_ARGB32_Premultiplied);
    img.setDevicePixelRatio(devicePixelRatio);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    drawUiBtnGlyph(&p, id, QPointF(11, 11), color, id == UiBtn::Pin && pinned, false);
    p.end();
    return QPixmap::fromImage(img);
}

QColor barGlyphColor()
{
    const Theme& t = currentTheme();
    return t.bottomBarForeground.isValid() ? t.bottomBarForeground : t.textSecondary;
}
