#include "mainwindow/summonhotkey.h"

#include "ui/lang.h"
#include "ui/toast.h"

#include <QApplication>
#include <QDebug>

using ktr::platform::GlobalHotkey;

SummonHotkey::SummonHotkey(std::function<void(const QString&, int)> toast, QObject* parent)
    : QObject(parent), m_toast(std::move(toast))
{
    connect(&m_hotkey, &GlobalHotkey::activated, this, &SummonHotkey::onActivated);
}

SummonHotkey::Outcome SummonHotkey::registerSummonHotkey(const QString& hotkeyText, bool announce)
{
    unregisterSummonHotkey();
    m_text = hotkeyText;
    if (hotkeyText.trimmed().isEmpty())
        return Outcome::None;
    const auto spec = ktr::platform::parseHotkeyText(hotkeyText);
    if (!spec)
        return Outcome::Unusable;
    const GlobalHotkey::Result result = m_hotkey.registerHotkey(*spec);
    if (result == GlobalHotkey::Result::Registered) {
        qInfo().noquote() << "summon hotkey registered:" << spec->text
                          << QStringLiteral("vk=0x%1").arg(spec->vk, 4, 16, QLatin1Char('0'));
        if (announce && m_toast)
            m_toast(Lang::tr("呼出快捷键已启用：%1").arg(hotkeyText), Toast::Info);
        return Outcome::Registered;
    }
    const Outcome outcome = result == GlobalHotkey::Result::NoDisplay ? Outcome::NoDisplay : Outcome::Refused;
    if (result == GlobalHotkey::Result::NoDisplay && !m_noDisplayLogged) {
        m_noDisplayLogged = true;
        qInfo() << "[hotkey] no X11 display: a global hotkey is not available";
    }
    if (!announce)
        return outcome;
    qWarning().noquote() << "summon hotkey register FAILED:" << spec->text;
    if (m_toast)
        m_toast(Lang::tr("快捷键 %1 注册失败，可能已被其他程序占用").arg(hotkeyText), Toast::Error);
    return outcome;
}

QString SummonHotkey::replaceSummonHotkey(const QString& hotkeyText, const QString& previous)
{
    const Outcome outcome = registerSummonHotkey(hotkeyText, false);
    switch (outcome) {
    case Outcome::Registered:
        if (m_toast)
            m_toast(Lang::tr("呼出快捷键已启用：%1").arg(hotkeyText), Toast::Info);
        return hotkeyText;
    case Outcome::None:
        return hotkeyText; // cleared on purpose: no hotkey
    case Outcome::NoDisplay:
        // Nothing can be grabbed here, the previous one neither: keep the choice for a session that can.
        registerSummonHotkey(hotkeyText, true);
        return hotkeyText;
    case Outcome::Unusable:
    case Outcome::Refused:
        break;
    }
    qWarning().noquote() << "summon hotkey register FAILED:" << hotkeyText << "- keeping" << previous;
    const bool previousWorks = registerSummonHotkey(previous, false) == Outcome::Registered;
    if (m_toast) {
        m_toast(previousWorks
                    ? Lang::tr("快捷键 %1 注册失败，可能已被其他程序占用；仍使用 %2").arg(hotkeyText, previous)
                    : Lang::tr("快捷键 %1 注册失败，可能已被其他程序占用").arg(hotkeyText),
                Toast::Error);
    }
    return previous;
}

void SummonHotkey::unregisterSummonHotkey()
{
    m_hotkey.unregisterHotkey();
}

void SummonHotkey::onActivated()
{
    if (QApplication::activeModalWidget())
        return;
    Q_EMIT summonRequested();
}
