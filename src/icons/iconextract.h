#pragma once

#include <QImage>
#include <QString>

// Icon extraction: turns an item path (a file, folder, program, .desktop launcher, image file or a "::{CLSID}"
// shell folder) into one ARGB32 icon image of at most 192 x 192 pixels, from the freedesktop icon themes of the
// machine. Every function here may run on any thread: none touches QIcon, QPixmap or a widget.

// The whole chain: the program's own logo, image files (SVG drawn at 192 px), folders, shell folders,
// launchers, the MIME type's icon; a found image is trimmed, fitted into 192 x 192 and snapshotted once;
// when nothing live answers, the path's snapshot (or a null image). Synchronous: it reads files and may wait
// on a slow disk. An icon from the themes is rendered once per file and shared (implicitly) by every path
// that shows it.
QImage loadIconImage(const QString& path);

// The icon a folder or launcher names for itself: a user folder's or drive's own icon, "folder" for other
// folders, the Icon= of a .desktop file. Null for anything else. Rendered for 256 px, untrimmed.
QImage iconLocationImage(const QString& path);

// Clears a flat opaque matte (four equal opaque corners, 12 per channel) unless it covers over 99 % of the
// image, then crops to the pixels with alpha above 8. A fully transparent image is returned unchanged.
QImage trimTransparentBorder(const QImage& image);

// A copy of the 128 x 128 placeholder icon, drawn once per process.
QImage fallbackIconImage();

// How many icon files loadIconImage has rendered from the themes so far. Paths that show the same file share
// one rendered image, so this grows with the number of distinct icons, not of paths (tests and benchmarks).
quint64 themeIconRenderCount();
