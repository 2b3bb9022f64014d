#include "icons/customiconloader.h"

#include "ui/background.h"

#include <QImageReader>

namespace {

constexpr int kMaxCustomIcons = 256;
constexpr int kMaxCustomSide = 192;

} // namespace

CustomIconLoader::CustomIconLoader(QObject* parent) : QObject(parent)
{
}

const QPixmap* CustomIconLoader::find(const QString& path) const
{
    const auto it = m_icons.constFind(path);
    return it != m_icons.cend() && !it->isNull() ? &*it : nullptr;
}

bool CustomIconLoader::wants(const QString& path) const
{
    return !path.isEmpty() && !m_icons.contains(path) && !m_pending.contains(path) && !m_failed.contains(path);
}

bool CustomIconLoader::preload(const QString& path)
{
    if (!wants(path))
        return false;
    const qint64 gen = m_generation;
    const qint64 tok = m_tokens.value(path, 0);
    m_pending.insert(path, tok);
    runInBackground(
        this, [path] { return readImage(path); },
        [this, path, gen, tok](const QImage& image) { onRead(path, image, gen, tok); });
    return true;
}

QImage CustomIconLoader::readImage(const QString& path)
{
    QImageReader reader(path);
    QImage image = reader.read();
    if (!image.isNull() && (image.width() > kMaxCustomSide || image.height() > kMaxCustomSide))
        image = image.scaled(kMaxCustomSide, kMaxCustomSide, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    return image;
}

void CustomIconLoader::onRead(const QString& path, const QImage& image, qint64 gen, qint64 tok)
{
    const auto it = m_pending.constFind(path);
    if (it != m_pending.cend() && *it == tok)
        m_pending.erase(it);
    if (m_generation != gen || m_tokens.value(path, 0) != tok)
        return;
    if (image.isNull()) {
        m_failed.insert(path);
        return;
    }
    store(path, QPixmap::fromImage(image));
    emit loaded(path);
}

void CustomIconLoader::store(const QString& path, const QPixmap& pixmap)
{
    if (!m_icons.contains(path)) {
        m_order.append(path);
        while (m_order.size() > kMaxCustomIcons)
            m_icons.remove(m_order.takeFirst());
    }
    QPixmap copy = pixmap;
    copy.setDevicePixelRatio(1.0);
    m_icons.insert(path, copy);
}

void CustomIconLoader::invalidate(const QString& path)
{
    if (path.isEmpty())
        return;
    m_tokens[path] = m_tokens.value(path, 0) + 1;
    m_icons.remove(path);
    m_order.removeAll(path);
    m_failed.remove(path);
    m_pending.remove(path);
}

void CustomIconLoader::clear()
{
    m_icons.clear();
    m_order.clear();
    m_failed.clear();
    m_pending.clear();
    m_tokens.clear();
    ++m_generation;
}
