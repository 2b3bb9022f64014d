#include "platform/screencapture.h"

#include <QDebug>
#include <QRect>

#include <xcb/randr.h>
#include <xcb/shm.h>
#include <xcb/xcb.h>
#include <xcb/xfixes.h>

#include <sys/ipc.h>
#include <sys/shm.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace ktr::platform {
namespace {

template <typename T> struct Reply
{
    T* p = nullptr;
    explicit Reply(T* r) : p(r) {}
    ~Reply() { std::free(p); }
    Reply(const Reply&) = delete;
    Reply& operator=(const Reply&) = delete;
    T* operator->() const { return p; }
    explicit operator bool() const { return p != nullptr; }
};

// Blends a premultiplied ARGB cursor into an RGB32 picture with its top-left corner at (left, top).
void blendCursor(QImage& image, const uint32_t* pixels, int width, int height, int left, int top)
{
    const int x0 = std::max(0, left);
    const int y0 = std::max(0, top);
    const int x1 = std::min(image.width(), left + width);
    const int y1 = std::min(image.height(), top + height);
    for (int y = y0; y < y1; ++y) {
        auto* dst = reinterpret_cast<uint32_t*>(image.scanLine(y));
        const uint32_t* src = pixels + size_t(y - top) * width;
        for (int x = x0; x < x1; ++x) {
            const uint32_t s = src[x - left];
            const uint32_t a = s >> 24;
            if (a == 0)
                continue;
            if (a == 255) {
                dst[x] = s | 0xff000000u;
                continue;
            }
            const uint32_t d = dst[x];
            const uint32_t inv = 255 - a;
            auto mix = [&](int shift) {
                const uint32_t sc = (s >> shift) & 0xff;
                const uint32_t dc = (d >> shift) & 0xff;
                return std::min<uint32_t>(255, sc + (dc * inv + 127) / 255) << shift;
            };
            dst[x] = 0xff000000u | mix(16) | mix(8) | mix(0);
        }
    }
}

// Whether pictures of this screen come as 32-bit little-endian RGB, the one form we hand out: a 24- or
// 32-bit TrueColor root with 8 bits a colour, stored in 32 bits a pixel. Empty when they do; else why not.
const char* formatFault(xcb_connection_t* conn, const xcb_screen_t* screen)
{
    const char* const unsupported = "当前 X 显示的颜色格式无法录制，屏幕录制需要 24 位或 32 位真彩色显示";
    if (screen->root_depth != 24 && screen->root_depth != 32)
        return unsupported;
    const xcb_setup_t* setup = xcb_get_setup(conn);
    bool has32 = false;
    for (auto f = xcb_setup_pixmap_formats_iterator(setup); f.rem; xcb_format_next(&f)) {
        if (f.data->depth == screen->root_depth && f.data->bits_per_pixel == 32)
            has32 = true;
    }
    if (!has32 || setup->image_byte_order != XCB_IMAGE_ORDER_LSB_FIRST)
        return unsupported;
    for (auto d = xcb_screen_allowed_depths_iterator(screen); d.rem; xcb_depth_next(&d)) {
        for (auto v = xcb_depth_visuals_iterator(d.data); v.rem; xcb_visualtype_next(&v)) {
            if (v.data->visual_id != screen->root_visual)
                continue;
            const bool rgb = v.data->_class == XCB_VISUAL_CLASS_TRUE_COLOR && v.data->red_mask == 0xff0000u &&
                             v.data->green_mask == 0xff00u && v.data->blue_mask == 0xffu;
            return rgb ? nullptr : unsupported;
        }
    }
    return unsupported;
}

const xcb_screen_t* screenOf(xcb_connection_t* conn, int number)
{
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(conn));
    for (int i = 0; i < number && it.rem; ++i)
        xcb_screen_next(&it);
    return it.rem ? it.data : nullptr;
}

class X11ScreenCapture final : public ScreenCapture
{
public:
    explicit X11ScreenCapture(const Options& options) : m_options(options) {}

    ~X11ScreenCapture() override
    {
        freeSegment();
        if (m_conn)
            xcb_disconnect(m_conn);
    }

    bool connect()
    {
        int screenNumber = 0;
        m_conn = xcb_connect(nullptr, &screenNumber);
        if (!m_conn || xcb_connection_has_error(m_conn))
            return false;
        const xcb_screen_t* screen = screenOf(m_conn, screenNumber);
        if (!screen || formatFault(m_conn, screen))
            return false;
        m_root = screen->root;

        const xcb_query_extension_reply_t* randr = xcb_get_extension_data(m_conn, &xcb_randr_id);
        if (randr && randr->present) {
            Reply<xcb_randr_query_version_reply_t> v(
                xcb_randr_query_version_reply(m_conn, xcb_randr_query_version(m_conn, 1, 3), nullptr));
            m_randr = v && (v->major_version > 1 || v->minor_version >= 3);
            if (m_randr) {
                m_randrEvent = randr->first_event;
                xcb_randr_select_input(m_conn, m_root,
                                       XCB_RANDR_NOTIFY_MASK_SCREEN_CHANGE | XCB_RANDR_NOTIFY_MASK_CRTC_CHANGE |
                                           XCB_RANDR_NOTIFY_MASK_OUTPUT_CHANGE);
            }
        }
        if (m_options.sharedMemory) {
            const xcb_query_extension_reply_t* shm = xcb_get_extension_data(m_conn, &xcb_shm_id);
            if (shm && shm->present) {
                Reply<xcb_shm_query_version_reply_t> v(
                    xcb_shm_query_version_reply(m_conn, xcb_shm_query_version(m_conn), nullptr));
                m_shm = bool(v);
            }
        }
        if (m_options.drawCursor) {
            const xcb_query_extension_reply_t* fixes = xcb_get_extension_data(m_conn, &xcb_xfixes_id);
            if (fixes && fixes->present) {
                Reply<xcb_xfixes_query_version_reply_t> v(
                    xcb_xfixes_query_version_reply(m_conn, xcb_xfixes_query_version(m_conn, 4, 0), nullptr));
                m_xfixes = v && v->major_version >= 1;
            }
        }
        xcb_flush(m_conn);
        return true;
    }

    QSize screenSize() override
    {
        refreshGeometry();
        return m_rect.size();
    }

    QImage grab() override
    {
        refreshGeometry();
        if (m_rect.isEmpty() || xcb_connection_has_error(m_conn))
            return {};
        QImage image;
        if (m_shm && ensureSegment())
            image = grabShared();
        if (image.isNull())
            image = grabPlain();
        if (!image.isNull() && m_xfixes)
            drawCursor(image);
        return image;
    }

private:
    // Follows display changes: RandR tells of them, and only then is the primary output asked again.
    void refreshGeometry()
    {
        if (!m_conn)
            return;
        while (xcb_generic_event_t* ev = xcb_poll_for_event(m_conn)) {
            const uint8_t type = ev->response_type & 0x7f;
            if (m_randr &&
                (type == m_randrEvent + XCB_RANDR_SCREEN_CHANGE_NOTIFY || type == m_randrEvent + XCB_RANDR_NOTIFY))
                m_geometryKnown = false;
            std::free(ev);
        }
        if (m_geometryKnown)
            return;
        m_geometryKnown = true;
        Reply<xcb_get_geometry_reply_t> root(xcb_get_geometry_reply(m_conn, xcb_get_geometry(m_conn, m_root), nullptr));
        if (!root) {
            m_rect = QRect();
            m_geometryKnown = false;
            return;
        }
        const QRect whole(0, 0, root->width, root->height);
        QRect rect = whole;
        if (m_randr) {
            Reply<xcb_randr_get_output_primary_reply_t> primary(
                xcb_randr_get_output_primary_reply(m_conn, xcb_randr_get_output_primary(m_conn, m_root), nullptr));
            if (primary && primary->output) {
                Reply<xcb_randr_get_output_info_reply_t> info(xcb_randr_get_output_info_reply(
                    m_conn, xcb_randr_get_output_info(m_conn, primary->output, XCB_CURRENT_TIME), nullptr));
                if (info && info->crtc && info->connection == XCB_RANDR_CONNECTION_CONNECTED) {
                    Reply<xcb_randr_get_crtc_info_reply_t> crtc(xcb_randr_get_crtc_info_reply(
                        m_conn, xcb_randr_get_crtc_info(m_conn, info->crtc, XCB_CURRENT_TIME), nullptr));
                    if (crtc && crtc->width > 0 && crtc->height > 0) {
                        const QRect r = QRect(crtc->x, crtc->y, crtc->width, crtc->height) & whole;
                        if (!r.isEmpty())
                            rect = r;
                    }
                }
            }
        }
        m_rect = rect;
    }

    bool ensureSegment()
    {
        const size_t bytes = size_t(m_rect.width()) * size_t(m_rect.height()) * 4;
        if (m_segAddr && m_segBytes >= bytes)
            return true;
        freeSegment();
        const int id = shmget(IPC_PRIVATE, bytes, IPC_CREAT | 0600);
        if (id < 0) {
            m_shm = false;
            return false;
        }
        void* addr = shmat(id, nullptr, 0);
        if (addr == reinterpret_cast<void*>(-1)) {
            shmctl(id, IPC_RMID, nullptr);
            m_shm = false;
            return false;
        }
        const xcb_shm_seg_t seg = xcb_generate_id(m_conn);
        xcb_generic_error_t* err = xcb_request_check(m_conn, xcb_shm_attach_checked(m_conn, seg, id, 0));
        // Marked for removal at once: the kernel frees it when both sides have detached, even after a crash.
        shmctl(id, IPC_RMID, nullptr);
        if (err) {
            // A server on another machine can't share memory with us: use the plain request from now on.
            std::free(err);
            shmdt(addr);
            m_shm = false;
            return false;
        }
        m_seg = seg;
        m_segAddr = static_cast<uchar*>(addr);
        m_segBytes = bytes;
        return true;
    }

    void freeSegment()
    {
        if (!m_segAddr)
            return;
        if (m_conn && !xcb_connection_has_error(m_conn)) {
            xcb_shm_detach(m_conn, m_seg);
            xcb_flush(m_conn);
        }
        shmdt(m_segAddr);
        m_segAddr = nullptr;
        m_segBytes = 0;
    }

    QImage grabShared()
    {
        xcb_generic_error_t* err = nullptr;
        Reply<xcb_shm_get_image_reply_t> r(xcb_shm_get_image_reply(
            m_conn,
            xcb_shm_get_image(m_conn, m_root, int16_t(m_rect.x()), int16_t(m_rect.y()), uint16_t(m_rect.width()),
                              uint16_t(m_rect.height()), ~0u, XCB_IMAGE_FORMAT_Z_PIXMAP, m_seg, 0),
            &err));
        if (!r) {
            std::free(err);
            m_geometryKnown = false; // most likely the screen shrank under us
            return {};
        }
        // No copy: the picture lives in the segment until the next grab.
        return QImage(m_segAddr, m_rect.width(), m_rect.height(), m_rect.width() * 4, QImage::Format_RGB32);
    }

    QImage grabPlain()
    {
        xcb_generic_error_t* err = nullptr;
        Reply<xcb_get_image_reply_t> r(xcb_get_image_reply(
            m_conn,
            xcb_get_image(m_conn, XCB_IMAGE_FORMAT_Z_PIXMAP, m_root, int16_t(m_rect.x()), int16_t(m_rect.y()),
                          uint16_t(m_rect.width()), uint16_t(m_rect.height()), ~0u),
            &err));
        if (!r) {
            std::free(err);
            m_geometryKnown = false;
            return {};
        }
        const qsizetype stride = qsizetype(m_rect.width()) * 4;
        if (xcb_get_image_data_length(r.p) < stride * m_rect.height())
            return {};
        if (m_plain.size() != m_rect.size())
            m_plain = QImage(m_rect.size(), QImage::Format_RGB32);
        if (m_plain.isNull())
            return {};
        const uint8_t* data = xcb_get_image_data(r.p);
        for (int y = 0; y < m_rect.height(); ++y)
            std::memcpy(m_plain.scanLine(y), data + y * stride, size_t(stride));
        return m_plain;
    }

    void drawCursor(QImage& image)
    {
        Reply<xcb_xfixes_get_cursor_image_reply_t> c(
            xcb_xfixes_get_cursor_image_reply(m_conn, xcb_xfixes_get_cursor_image(m_conn), nullptr));
        if (!c || c->width == 0 || c->height == 0)
            return;
        if (xcb_xfixes_get_cursor_image_cursor_image_length(c.p) < int(c->width) * int(c->height))
            return;
        const int left = c->x - c->xhot - m_rect.x();
        const int top = c->y - c->yhot - m_rect.y();
        blendCursor(image, xcb_xfixes_get_cursor_image_cursor_image(c.p), c->width, c->height, left, top);
    }

    Options m_options;
    xcb_connection_t* m_conn = nullptr;
    xcb_window_t m_root = 0;
    bool m_randr = false;
    uint8_t m_randrEvent = 0;
    bool m_shm = false;
    bool m_xfixes = false;
    bool m_geometryKnown = false;
    QRect m_rect;
    xcb_shm_seg_t m_seg = 0;
    uchar* m_segAddr = nullptr;
    size_t m_segBytes = 0;
    QImage m_plain;
};

} // namespace

bool ScreenCapture::available(QString* message)
{
    auto fail = [message](const char* text) {
        if (message)
            *message = QString::fromUtf8(text);
        return false;
    };
    // Under Wayland the X server is only XWayland, which sees none of the native windows.
    if (qEnvironmentVariable("XDG_SESSION_TYPE").compare(QLatin1String("wayland"), Qt::CaseInsensitive) == 0)
        return fail("Wayland 会话下无法录制屏幕，请使用 X11 会话");
    int number = 0;
    xcb_connection_t* c = xcb_connect(nullptr, &number);
    if (!c || xcb_connection_has_error(c)) {
        if (c)
            xcb_disconnect(c);
        return fail("无法连接 X11 显示，屏幕录制需要 X11 桌面会话");
    }
    // A connection alone is not enough: the capture needs the screen's pixels in a form it can read.
    const xcb_screen_t* screen = screenOf(c, number);
    const char* fault = screen ? formatFault(c, screen) : "无法连接 X11 显示，屏幕录制需要 X11 桌面会话";
    xcb_disconnect(c);
    if (fault)
        return fail(fault);
    return true;
}

std::unique_ptr<ScreenCapture> ScreenCapture::createX11(const Options& options)
{
    auto capture = std::make_unique<X11ScreenCapture>(options);
    if (!capture->connect()) {
        qWarning() << "[capture] no usable X11 display for screen capture";
        return nullptr;
    }
    return capture;
}

} // namespace ktr::platform
