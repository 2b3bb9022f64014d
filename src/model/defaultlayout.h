#pragma once

#include "model/panelmodel.h"

#include <QStringList>

// A mounted file system as the default layout sees it.
struct VolumeInfo
{
    QString rootPath;
    QString device;
    QString fsType;
    QString label;
    bool ready = false;
};

// What the default layout is built from; taken from this machine by defaultLayoutSources().
struct DefaultLayoutSources
{
    QString homeDir;
    // Desktop, downloads, documents, pictures, music, videos, in this order.
    QStringList userFolders;
    QList<VolumeInfo> volumes;
    // Folders searched in order for the .desktop entries of the system tools.
    QStringList applicationDirs;
};

DefaultLayoutSources defaultLayoutSources();

// True for a mounted volume worth an item: ready, backed by a real device, not a pseudo or image file
// system, not /boot or /snap.
bool isUserVolume(const VolumeInfo& volume);

// The two groups of a first start: "常用" with the computer, trash and network places, the user's
// folders and the mounted volumes, and "系统" with the desktop tools installed here. A candidate
// that does not exist on this machine is left out. Names are translated as the language is now.
QList<Group> buildDefaultLayout(const DefaultLayoutSources& sources);
inline QList<Group> buildDefaultLayout()
{
    return buildDefaultLayout(defaultLayoutSources());
}
