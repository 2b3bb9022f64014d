#include "platform/globalhotkey.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QKeySequence>
#include <QLoggingCategory>
#include <QtGui/qguiapplication_platform.h>

#include <X11/keysym.h>
#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>

#include <cstdlib>

namespace ktr::platform {

namespace {

// Virtual-key numbers of the keys a hotkey may use besides letters, digits and F-keys.
struct KeyEntry
{
    Qt::Key key;
    int vk;
};
constexpr KeyEntry kOtherKeys[] = {
    {Qt::Key_Space, 0x20},    {Qt::Key_Apostrophe, 222},  {Qt::Key_Plus, 187},      {Qt::Key_Equal, 187},
    {Qt::Key_Comma, 188},     {Qt::Key_Minus, 189},       {Qt::Key_Period, 190},    {Qt::Key_Slash, 191},
    {Qt::Key_Semicolon, 186}, {Qt::Key_BracketLeft, 219}, {Qt::Key_Backslash, 220}, {Qt::Key_BracketRight, 221},
    {Qt::Key_QuoteLeft, 192}, {Qt::Key_Escape, 27},       {Qt::Key_Tab, 9},         {Qt::Key_Backspace, 8},
    {Qt::Key_Return, 13},     {Qt::Key_Enter, 13},        {Qt::Key_Insert, 45},     {Qt::Key_Delete, 46},
    {Qt::Key_Home, 36},       {Qt::Key_End, 35},          {Qt::Key_Left, 37},       {Qt::Key_Up, 38},
    {Qt::Key_Right, 39},      {Qt::Key_Down, 40},         {Qt::Key_PageUp, 33},     {Qt::Key_PageDown, 34},
};

// The X keysyms of a virtual key. The "+" key is found under either of its two symbols, so it works on
// layouts where plus has its own key as well as on those where it is shifted "=".
QList<xcb_keysym_t> keysymsFor(int vk)
{
    if (vk >= 0x41 && vk <= 0x5A)
        return {xcb_keysym_t(XK_a + (vk - 0x41))};
    if (vk >= 0x30 && vk <= 0x39)
        return {xcb_keysym_t(XK_0 + (vk - 0x30))};
    if (vk >= 0x70 && vk <= 0x87)
        return {xcb_keysym_t(XK_F1 + (vk - 0x70))};
    switch (vk) {
    case 0x20:
        return {XK_space};
    case 222:
        return {XK_apostrophe};
    case 187:
        return {XK_equal, XK_plus};
    case 188:
        return {XK_comma};
    case 189:
        return {XK_minus};
    case 190:
        return {XK_period};
    case 191:
        return {XK_slash};
    case 186:
        return {XK_semicolon};
    case 219:
        return {XK_bracketleft};
    case 220:
        return {XK_backslash};
    case 221:
        return {XK_bracketright};
    case 192:
        return {XK_grave};
    case 27:
        return {XK_Escape};
    case 9:
        return {XK_Tab};
    case 8:
        return {XK_BackSpace};
    case 13:
        return {XK_Return};
    case 45:
        return {XK_Insert};
    case 46:
        return {XK_Delete};
    case 36:
        return {XK_Home};
    case 35:
        return {XK_End};
    case 37:
        return {XK_Left};
    case 38:
        return {XK_Up};
    case 39:
        return {XK_Right};
    case 40:
        return {XK_Down};
    case 33:
        return {XK_Prior};
    case 34:
        return {XK_Next};
    default:
        return {};
    }
}

// Modifier bits of the core protocol: Alt is Mod1, NumLock Mod2 and Super Mod4 on every usual keymap.
constexpr quint16 kCtrl = XCB_MOD_MASK_CONTROL;
constexpr quint16 kAlt = XCB_MOD_MASK_1;
constexpr quint16 kShift = XCB_MOD_MASK_SHIFT;
constexpr quint16 kSuper = XCB_MOD_MASK_4;
constexpr quint16 kLock = XCB_MOD_MASK_LOCK;
constexpr quint16 kNumLock = XCB_MOD_MASK_2;
constexpr quint16 kCompared = kCtrl | kAlt | kShift | kSuper;
constexpr quint16 kLockVariants[] = {0, kLock, kNumLock, quint16(kLock | kNumLock)};

constexpr uint8_t kBadAccess = 10;

xcb_connection_t* qtConnection()
{
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return x11 ? x11->connection() : nullptr;
}

xcb_window_t rootWindow(xcb_connection_t* c)
{
    const xcb_screen_t* s = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    return s ? s->root : xcb_window_t(XCB_WINDOW_NONE);
}

} // namespace

std::optional<HotkeySpec> parseHotkeyText(const QString& text)
{
    if (text.trimmed().isEmpty())
        return std::nullopt;
    const QKeySequence seq = QKeySequence::fromString(text, QKeySequence::NativeText);
    if (seq.isEmpty())
        return std::nullopt;
    const QKeyCombination combo = seq[0];
    const Qt::KeyboardModifiers mods = combo.keyboardModifiers();
    const int key = int(combo.key());

    HotkeySpec spec;
    spec.ctrl = mods.testFlag(Qt::ControlModifier);
    spec.alt = mods.testFlag(Qt::AltModifier);
    spec.shift = mods.testFlag(Qt::ShiftModifier);
    spec.meta = mods.testFlag(Qt::MetaModifier);
    spec.text = seq.toString(QKeySequence::NativeText);

    if (key >= Qt::Key_A && key <= Qt::Key_Z)
        spec.vk = 0x41 + (key - Qt::Key_A);
    else if (key >= Qt::Key_0 && key <= Qt::Key_9)
        spec.vk = 0x30 + (key - Qt::Key_0);
    else if (key >= Qt::Key_F1 && key <= Qt::Key_F24)
        spec.vk = 0x70 + (key - Qt::Key_F1);

    if (spec.vk != 0) {
        if (!spec.meta && !spec.ctrl && !spec.alt && !spec.shift)
            return std::nullopt;
        return spec;
    }
    for (const KeyEntry& e : kOtherKeys) {
        if (int(e.key) == key) {
            spec.vk = e.vk;
            break;
        }
    }
    if (spec.vk == 0 || !(spec.ctrl || spec.alt || spec.shift || spec.meta))
        return std::nullopt;
    return spec;
}

GlobalHotkey::GlobalHotkey(QObject* parent) : QObject(parent)
{
}

GlobalHotkey::~GlobalHotkey()
{
    unregisterHotkey();
}

GlobalHotkey::Result GlobalHotkey::registerHotkey(const HotkeySpec& spec)
{
    unregisterHotkey();
    xcb_connection_t* c = qtConnection();
    if (!c)
        return Result::NoDisplay;
    const xcb_window_t root = rootWindow(c);
    if (root == XCB_WINDOW_NONE)
        return Result::NoDisplay;

    QList<quint8> keycodes;
    xcb_key_symbols_t* syms = xcb_key_symbols_alloc(c);
    if (!syms)
        return Result::Failed;
    for (xcb_keysym_t sym : keysymsFor(spec.vk)) {
        xcb_keycode_t* codes = xcb_key_symbols_get_keycode(syms, sym);
        for (xcb_keycode_t* k = codes; k && *k != XCB_NO_SYMBOL; ++k) {
            if (!keycodes.contains(*k))
                keycodes.append(*k);
        }
        std::free(codes);
    }
    xcb_key_symbols_free(syms);
    if (keycodes.isEmpty())
        return Result::Failed;

    quint16 mods = 0;
    if (spec.ctrl)
        mods |= kCtrl;
    if (spec.alt)
        mods |= kAlt;
    if (spec.shift)
        mods |= kShift;
    if (spec.meta)
        mods |= kSuper;

    // Send every grab first and collect the answers afterwards: one round trip instead of one per grab.
    QList<xcb_void_cookie_t> cookies;
    for (quint8 code : keycodes) {
        for (quint16 lock : kLockVariants)
            cookies.append(
                xcb_grab_key_checked(c, 0, root, mods | lock, code, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC));
    }
    bool taken = false;
    bool failed = false;
    for (const xcb_void_cookie_t& cookie : cookies) {
        if (xcb_generic_error_t* err = xcb_request_check(c, cookie)) {
            if (err->error_code == kBadAccess)
                taken = true;
            else
                failed = true;
            std::free(err);
        }
    }
    if (taken || failed) {
        // Releases only the grabs this client made; another program's grab stays untouched.
        for (quint8 code : keycodes) {
            for (quint16 lock : kLockVariants)
                xcb_ungrab_key(c, code, root, mods | lock);
        }
        xcb_flush(c);
        return taken ? Result::Taken : Result::Failed;
    }

    m_keycodes = keycodes;
    m_modifiers = mods;
    m_held = false;
    if (!m_filterInstalled) {
        QCoreApplication::instance()->installNativeEventFilter(this);
        m_filterInstalled = true;
    }
    return Result::Registered;
}

void GlobalHotkey::unregisterHotkey()
{
    if (m_filterInstalled && QCoreApplication::instance()) {
        QCoreApplication::instance()->removeNativeEventFilter(this);
        m_filterInstalled = false;
    }
    if (m_keycodes.isEmpty())
        return;
    if (xcb_connection_t* c = qtConnection()) {
        const xcb_window_t root = rootWindow(c);
        for (quint8 code : std::as_const(m_keycodes)) {
            for (quint16 lock : kLockVariants)
                xcb_ungrab_key(c, code, root, m_modifiers | lock);
        }
        xcb_flush(c);
    }
    m_keycodes.clear();
    m_modifiers = 0;
    m_held = false;
}

bool GlobalHotkey::nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result)
{
    Q_UNUSED(result);
    if (m_keycodes.isEmpty() || eventType != "xcb_generic_event_t")
        return false;
    auto* ev = static_cast<xcb_generic_event_t*>(message);
    const uint8_t type = ev->response_type & 0x7f;
    if (type != XCB_KEY_PRESS && type != XCB_KEY_RELEASE)
        return false;
    auto* key = reinterpret_cast<xcb_key_press_event_t*>(ev);
    if (!m_keycodes.contains(key->detail))
        return false;
    if (type == XCB_KEY_RELEASE) {
        // The release may come after a modifier was let go first, so any release of the key ends the hold.
        const bool wasHeld = m_held;
        m_held = false;
        return wasHeld;
    }
    if ((key->state & kCompared) != m_modifiers)
        return false;
    // Auto-repeat delivers further presses while the keys stay down: fire once per hold.
    if (!m_held) {
        m_held = true;
        Q_EMIT activated();
    }
    return true;
}

} // namespace ktr::platform
