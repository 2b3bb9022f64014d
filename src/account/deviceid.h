#pragma once

#include <QString>

// The identity of this computer towards the service host: a random id kept in "device.id" in the data
// folder and bound to a host name by "device.bind" (a salted SHA-256), so an id edited by hand, or an id
// file that doesn't belong to its bind file, is replaced by a fresh identity. Sent as "device" by the
// account, usage, support and notice requests.

// The id of this process: computed once (thread-safe), the same value on every later call. Never fails:
// when nothing can be stored, a fresh id still serves for the rest of the run.
QString deviceId();

// Loads, checks and when needed renews "device.id" and "device.bind" in the data folder. The overload
// takes the folder and the current host name (tests; the first uses appDataDir and deviceHostName).
QString computeDeviceId();
QString computeDeviceId(const QString& dataDir, const QString& hostName);

// Makes and stores a new id in <dataDir>/device.id, writes its bind file and returns it.
QString registerNewDevice(const QString& dataDir, const QString& bindPath, const QString& hostName);

// Writes "device.bind": "KTBIND1|" + host name, a line feed, the digest, a line feed.
void writeBindFile(const QString& bindPath, const QString& id, const QString& hostName);

// The 64 lower-case hex digits of SHA-256 over the binding prefix, the id, "|" and the host name.
QString deviceBindDigest(const QString& id, const QString& hostName);

// True when a stored id is acceptable: 8 to 64 characters of "-", digits and hex letters of either case.
bool isAcceptableDeviceId(const QString& id);

// The machine's host name, trimmed; else COMPUTERNAME, trimmed; may be empty.
QString deviceHostName();

// The computer's name as the service shows it: the host name cut to 64 characters, or "未命名电脑"
// (translated) when there is none.
QString deviceDisplayName();
