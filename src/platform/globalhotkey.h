#pragma once

#include <QAbstractNativeEventFilter>
#include <QList>
#include <QObject>
#include <QString>

#include <optional>

namespace ktr::platform {

// One system-wide key combination, parsed from the settings text ("Ctrl+Alt+G").
struct HotkeySpec
{
    bool ctrl = false;
    bool alt = false;
    bool shift = false;
    bool meta = false; // the Windows / Super key
    // The key as a Windows virtual-key number: the stable identity of the key that the log line
    // carries ("vk=0x0047" for G) and that the X11 grab translates into key codes.
    int vk = 0;
    QString text; // the sequence as Qt writes it back, for logs and messages
};

// Parses a hotkey text as a native-format QKeySequence and keeps its first combination. Returns nothing
// for an empty text, a key outside the supported set, or a key without the modifier it needs (letters,
// digits and F-keys need Ctrl, Alt or Shift unless Meta is held; every other key needs any modifier).
std::optional<HotkeySpec> parseHotkeyText(const QString& text);

// The global hotkey through a passive key grab on the X server that Qt talks to. The combination is
// grabbed once as given and once more with CapsLock, NumLock and both, so those locks don't disable it.
// Key presses arrive through a native event filter; holding the keys down fires once.
class GlobalHotkey : public QObject, public QAbstractNativeEventFilter
{
    Q_OBJECT
public:
    enum class Result {
        Registered,
        Taken,     // another program holds the combination (the server answered BadAccess)
        NoDisplay, // not running on X11 (offscreen, plain Wayland): no global hotkey exists
        Failed,    // no key code for the key on this keyboard, or another server error
    };

    explicit GlobalHotkey(QObject* parent = nullptr);
    ~GlobalHotkey() override;

    Result registerHotkey(const HotkeySpec& spec);
    void unregisterHotkey();
    bool isRegistered() const { return !m_keycodes.isEmpty(); }

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

Q_SIGNALS:
    void activated();

private:
    QList<quint8> m_keycodes;
    quint16 m_modifiers = 0;
    bool m_held = false;
    bool m_filterInstalled = false;
};

} // namespace ktr::platform
