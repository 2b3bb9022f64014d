#pragma once

#include <QString>

// Where the market keeps its files, all below the data folder.

// The apps folder: <data folder>/apps (not created here).
QString appsRootDir();
// The verified package of an app: <apps>/<id>.package.zip.
QString packageFilePath(const QString& appId);
// Its partial download: <apps>/<id>.package.zip.part.
QString partialFilePath(const QString& appId);

// Deletes one file the market gives up. True when it is gone (or was never there); otherwise the warning
// "remove failed:" with the reason tag (a short kebab-case word saying why it was deleted) and the path.
bool removePackageFile(const QString& path, const QString& reason);

// The app-id rule: 1 to 48 characters, each an ASCII letter, digit, "_" or "-".
bool isValidAppId(const QString& id);
// 1 to 64 characters of [0-9A-Za-z._+-], without "..".
bool isValidVersionString(const QString& version);
// 1 to 128 characters without "..", "/", "\" or ":".
bool isSafeLaunchName(const QString& name);
// A valid URL with the scheme http or https (any case) and a non-empty host.
bool isHttpUrl(const QString& url);
