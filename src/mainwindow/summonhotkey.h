#pragma once

#include "platform/globalhotkey.h"

#include <QObject>
#include <QString>

#include <functional>

// The panel's summon hotkey: registers the summonHotkey setting as a global hotkey, tells the user about
// the outcome when the change came from the settings dialog, and asks its owner to summon the panel when
// the keys are pressed.
class SummonHotkey : public QObject
{
    Q_OBJECT
public:
    // toast(text, kind): the owner's notice (kind 0 information, 1 error); the text is already translated.
    explicit SummonHotkey(std::function<void(const QString&, int)> toast, QObject* parent = nullptr);

    enum class Outcome {
        Registered,
        None,      // an empty text: no hotkey wanted
        Unusable,  // a text that can't be a global hotkey (a key without a modifier, an unknown key)
        Refused,   // the display server would not grab it (taken by another program, no key code)
        NoDisplay, // no X11 display: no global hotkey exists at all
    };
    // Replaces any registered combination with hotkeyText. An empty or unusable text registers nothing and
    // says nothing. With announce the user learns whether it worked; otherwise failures stay silent.
    Outcome registerSummonHotkey(const QString& hotkeyText, bool announce);
    // A hotkey newly chosen by the user: when it can't be grabbed, `previous` is registered again and kept
    // (returned), and the user is told; otherwise the new text is returned.
    QString replaceSummonHotkey(const QString& hotkeyText, const QString& previous);
    void unregisterSummonHotkey();
    bool isRegistered() const { return m_hotkey.isRegistered(); }

Q_SIGNALS:
    // The keys were pressed while no modal dialog is open.
    void summonRequested();

private:
    void onActivated();

    std::function<void(const QString&, int)> m_toast;
    ktr::platform::GlobalHotkey m_hotkey;
    QString m_text;
    bool m_noDisplayLogged = false;
};
