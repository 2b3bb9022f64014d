// The compositing watch on a real X server. Xvfb runs no compositing manager; the test plays one by owning
// "_NET_WM_CM_S0" from a window of a second connection, as xcompmgr or picom do, then gives it up.
#include "platform/compositing.h"
#include "testenv.h"
#include "x11tools.h"

#include <QGuiApplication>
#include <QSignalSpy>

#include <xcb/xcb.h>

#include <cstdlib>

using ktr::platform::CompositingWatch;

namespace {

// A client of its own that can own the compositing manager's selection.
class FakeCompositor
{
public:
    FakeCompositor() : m_c(xcb_connect(nullptr, &m_screenNumber))
    {
        if (xcb_connection_has_error(m_c))
            return;
        xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(m_c));
        for (int i = 0; i < m_screenNumber && it.rem; ++i)
            xcb_screen_next(&it);
        m_window = xcb_generate_id(m_c);
        xcb_create_window(m_c, XCB_COPY_FROM_PARENT, m_window, it.data->root, 0, 0, 1, 1, 0,
                          XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, 0, nullptr);
        const QByteArray name = "_NET_WM_CM_S" + QByteArray::number(m_screenNumber);
        xcb_intern_atom_reply_t* r =
            xcb_intern_atom_reply(m_c, xcb_intern_atom(m_c, 0, uint16_t(name.size()), name.constData()), nullptr);
        if (r)
            m_atom = r->atom;
        std::free(r);
    }
    ~FakeCompositor() { xcb_disconnect(m_c); }
    bool ok() const { return m_atom != XCB_ATOM_NONE; }

    void own(bool on)
    {
        xcb_set_selection_owner(m_c, on ? m_window : xcb_window_t(XCB_WINDOW_NONE), m_atom, XCB_CURRENT_TIME);
        xcb_flush(m_c);
    }
    void destroyWindow()
    {
        xcb_destroy_window(m_c, m_window);
        xcb_flush(m_c);
    }

private:
    int m_screenNumber = 0;
    xcb_connection_t* m_c;
    xcb_window_t m_window = XCB_WINDOW_NONE;
    xcb_atom_t m_atom = XCB_ATOM_NONE;
};

} // namespace

class TestCompositing : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase()
    {
        if (const char* why = ktr::test::missingX11())
            QSKIP(why);
    }

    // Owned, released, owned again and then the owner's window gone (a compositor killed): each change is
    // heard once, without asking the server again.
    void followsTheSelectionOwner()
    {
        CompositingWatch& watch = CompositingWatch::instance();
        QVERIFY(watch.isWatching());
        QVERIFY2(!watch.isActive(), "a compositing manager runs on the test display");
        FakeCompositor compositor;
        QVERIFY(compositor.ok());
        QSignalSpy changes(&watch, &CompositingWatch::activeChanged);

        compositor.own(true);
        QVERIFY(changes.wait(5000));
        QCOMPARE(changes.takeFirst().at(0).toBool(), true);
        QVERIFY(watch.isActive());

        compositor.own(false);
        QVERIFY(changes.wait(5000));
        QCOMPARE(changes.takeFirst().at(0).toBool(), false);
        QVERIFY(!watch.isActive());

        compositor.own(true);
        QVERIFY(changes.wait(5000));
        QVERIFY(watch.isActive());
        changes.clear();
        compositor.destroyWindow();
        QVERIFY(changes.wait(5000));
        QCOMPARE(changes.takeFirst().at(0).toBool(), false);
        QVERIFY(!watch.isActive());
        QCOMPARE(changes.count(), 0);
    }
};

KTR_TEST_MAIN(TestCompositing)
#include "tst_compositing.moc"
