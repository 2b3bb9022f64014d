#include "panel/gridlabels.h"

#include <QFontMetrics>

namespace {

constexpr int kMaxLabelCache = 512;

QString labelKey(const QString& text, int avail)
{
    return text + QChar(0x0001) + QString::number(avail);
}

} // namespace

QString gridCutLabel(const QFontMetrics& fm, const QString& text, int avail)
{
    // Shortened with an ellipsis: a label cut bare ("Local Disk (/") reads as a whole, wrong name.
    return fm.elidedText(text, Qt::ElideRight, avail);
}

GridLabel gridAutoLabel(const QFontMetrics& fm, const QString& text, int avail)
{
    GridLabel label;
    const QString e = fm.elidedText(text, Qt::ElideRight, avail);
    if (e == text || fm.horizontalAdvance(e) < avail - fm.horizontalAdvance(QStringLiteral("…"))) {
        label.line1 = e;
    } else {
        int cut = 0;
        for (int k = int(text.size()); k >= 1; --k) {
            if (fm.horizontalAdvance(text.left(k)) <= avail) {
                cut = k;
                break;
            }
        }
        // Latin names break at the last space that fits, not inside a word; text without spaces (Chinese) breaks
        // at the last character that fits.
        int restStart = cut;
        if (cut > 0 && cut < text.size() && !text.at(cut).isSpace()) {
            const int space = int(text.lastIndexOf(QLatin1Char(' '), cut - 1));
            if (space > 0) {
                cut = space;
                restStart = space + 1;
            }
        } else if (cut < text.size() && text.at(cut).isSpace()) {
            restStart = cut + 1;
        }
        label.twoLines = true;
        label.line1 = text.left(cut);
        label.line2 = fm.elidedText(text.mid(restStart), Qt::ElideRight, avail);
    }
    return label;
}

QString GridLabelCache::fixedLabel(const QFontMetrics& fm, const QString& text, int avail)
{
    const QString key = labelKey(text, avail);
    const auto it = m_fixed.constFind(key);
    if (it != m_fixed.cend())
        return *it;
    const QString cut = gridCutLabel(fm, text, avail);
    if (m_fixed.size() > kMaxLabelCache)
        m_fixed.clear();
    m_fixed.insert(key, cut);
    return cut;
}

const GridLabel& GridLabelCache::autoLabel(const QFontMetrics& fm, const QString& text, int avail)
{
    const QString key = labelKey(text, avail);
    auto it = m_auto.constFind(key);
    if (it != m_auto.cend())
        return *it;
    if (m_auto.size() > kMaxLabelCache)
        m_auto.clear();
    return *m_auto.insert(key, gridAutoLabel(fm, text, avail));
}

void GridLabelCache::clear()
{
    m_fixed.clear();
    m_auto.clear();
}
