#include "mainwindow/startuplayout.h"

#include "ui/background.h"

#include <QCoreApplication>
#include <QEvent>
#include <QFileInfo>

namespace {

std::function<void()>& readHook()
{
    static std::function<void()> hook;
    return hook;
}

// While a large layout is still being parsed, the first press, key, wheel or drop anywhere in the program
// waits for it and takes it, so no action ever works on the empty model of the start. Lives only then.
class LayoutGate : public QObject
{
public:
    LayoutGate(std::function<void()> finish, QObject* parent) : QObject(parent), m_finish(std::move(finish))
    {
        qApp->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonDblClick:
        case QEvent::KeyPress:
        case QEvent::ShortcutOverride:
        case QEvent::Wheel:
        case QEvent::ContextMenu:
        case QEvent::DragEnter:
        case QEvent::Drop:
            if (m_finish) {
                // The call deletes this gate later; the event then goes on to its receiver.
                const auto finish = std::move(m_finish);
                m_finish = nullptr;
                finish();
            }
            break;
        default:
            break;
        }
        return QObject::eventFilter(watched, event);
    }

private:
    std::function<void()> m_finish;
};

} // namespace

void StartupLayout::setReadHook(std::function<void()> hook)
{
    readHook() = std::move(hook);
}

StartupLayout::StartupLayout(const QString& path, Apply apply, QObject* parent)
    : QObject(parent), m_apply(std::move(apply))
{
    // A small file is taken where the constructor needs it (read meanwhile); only a large one lets the
    // window paint before its groups are there.
    m_async = QFileInfo(path).size() >= kAsyncBytes;
    const auto hook = readHook();
    m_read = runInBackground(
        this,
        [path, hook] {
            if (hook)
                hook();
            return ConfigStore::readLayoutFile(path);
        },
        [this](const ConfigStore::LayoutRead&) {
            // Taken when the worker is done: the window is painted already, and this is no caller's stack.
            if (finishNow())
                emit arrived();
        });
}

void StartupLayout::take()
{
    if (!m_async || m_read.isFinished()) {
        apply();
        return;
    }
    m_pending = true;
    m_gate = new LayoutGate([this] { finishNow(); }, this);
}

bool StartupLayout::finishNow()
{
    if (!m_pending)
        return false;
    apply();
    return true;
}

void StartupLayout::apply()
{
    m_pending = false;
    if (m_gate) {
        m_gate->deleteLater(); // it may be inside its own event filter now
        m_gate = nullptr;
    }
    if (m_taken)
        return;
    m_taken = true;
    m_read.waitForFinished();
    ConfigStore::LayoutRead read = m_read.result();
    m_read = {};
    m_apply(std::move(read));
}
