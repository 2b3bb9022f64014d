#include "market/httpdownload.h"

#include "platform/filehash.h"
#include "platform/process.h"

#include <QDebug>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QSslSocket>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>

#include <cstring>
#include <mutex>

using Outcome = HttpDownload::Outcome;

namespace {

constexpr int kMaxLineBytes = 4096; // a chunk-size line or a trailer line

bool isRedirect(int status)
{
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

// Digits only, no sign, no overflow; -1 otherwise.
qint64 parseDecimal(const QByteArray& text)
{
    if (text.isEmpty() || text.size() > 18)
        return -1;
    qint64 value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return -1;
        value = value * 10 + (c - '0');
    }
    return value;
}

struct Head
{
    int status = 0;
    QList<QPair<QByteArray, QByteArray>> headers; // names in lower case, values trimmed

    QList<QByteArray> values(const QByteArray& name) const
    {
        QList<QByteArray> out;
        for (const auto& [n, v] : headers) {
            if (n == name)
                out.append(v);
        }
        return out;
    }
};

// Status line and header lines (CRLF or bare LF), without the blank line. False when it is not HTTP/1.x.
bool parseHead(const QByteArray& block, Head& head)
{
    const QList<QByteArray> lines = block.split('\n');
    if (lines.isEmpty())
        return false;
    QByteArray status = lines[0];
    if (status.endsWith('\r'))
        status.chop(1);
    if (!(status.startsWith("HTTP/1.1 ") || status.startsWith("HTTP/1.0 ")) || status.size() < 12 ||
        (status.size() > 12 && status[12] != ' '))
        return false;
    const qint64 code = parseDecimal(status.mid(9, 3));
    if (code < 100 || code > 599)
        return false;
    head.status = int(code);
    for (qsizetype i = 1; i < lines.size(); ++i) {
        QByteArray line = lines[i];
        if (line.endsWith('\r'))
            line.chop(1);
        const qsizetype colon = line.indexOf(':');
        // A folded line (leading white space) or a name with white space is not something to guess at.
        if (colon < 1 || line[0] == ' ' || line[0] == '\t' || line.left(colon).contains(' ') ||
            line.left(colon).contains('\t'))
            return false;
        head.headers.append({line.left(colon).toLower(), line.mid(colon + 1).trimmed()});
    }
    return true;
}

// "bytes first-last/total" (total may be "*"): first and total (-1 for "*"); false when malformed.
bool parseContentRange(const QByteArray& value, qint64& first, qint64& total)
{
    if (!value.toLower().startsWith("bytes "))
        return false;
    const QByteArray rest = value.mid(6).trimmed();
    const qsizetype dash = rest.indexOf('-');
    const qsizetype slash = rest.indexOf('/');
    if (dash < 1 || slash < 0 || dash > slash)
        return false;
    first = parseDecimal(rest.left(dash));
    const qint64 last = parseDecimal(rest.mid(dash + 1, slash - dash - 1));
    const QByteArray totalText = rest.mid(slash + 1);
    total = totalText == "*" ? -1 : parseDecimal(totalText);
    if (first < 0 || last < first || (totalText != "*" && (total < 0 || last >= total)))
        return false;
    return true;
}

} // namespace

// The worker as the owner may reach it: set while it exists, under the mutex, so abort() never posts to
// a worker that is being deleted on its own thread.
struct HttpDownloadShared
{
    std::mutex mutex;
    QObject* worker = nullptr;
};

namespace {

// Lives on the download's thread; everything it does happens there.
class DownloadWorker : public QObject
{
public:
    using Report = std::function<void(const HttpDownload::Result&)>;
    using Progress = std::function<void(qint64, qint64)>;

    DownloadWorker(const HttpDownload::Request& request, std::shared_ptr<HttpDownloadShared> shared, Report report,
                   Progress progress)
        : m_request(request), m_shared(std::move(shared)), m_report(std::move(report)), m_progress(std::move(progress)),
          m_buffer(new char[HttpDownload::kBufferBytes])
    {
        std::lock_guard lock(m_shared->mutex);
        m_shared->worker = this;
    }
    ~DownloadWorker() override
    {
        std::lock_guard lock(m_shared->mutex);
        m_shared->worker = nullptr;
    }

    void begin()
    {
        // Receiving, hashing and writing a large package keeps this thread busy for long: on a busy machine the
        // GUI thread must get the core back at once when it wakes. The thread is this download's alone.
        ktr::platform::lowerCurrentThreadPriority();
        m_idle.start();
        m_sinceProgress.start();
        m_file.setFileName(m_request.filePath);
        const QIODevice::OpenMode mode = QIODevice::WriteOnly | QIODevice::Unbuffered |
                                         (m_request.resumeFrom > 0 ? QIODevice::Append : QIODevice::Truncate);
        if (!m_file.open(mode)) {
            m_result.detail = m_file.errorString();
            finish(Outcome::OpenFailed);
            return;
        }
        m_offset = m_request.resumeFrom > 0 ? m_request.resumeFrom : 0;
        m_result.fileSize = m_offset;
        auto* idle = m_idleTimer = new QTimer(this);
        idle->setInterval(qBound(10, qMin(m_request.idleTimeoutMs, m_request.headTimeoutMs) / 4, 1000));
        connect(idle, &QTimer::timeout, this, [this] {
            if (m_done)
                return;
            if (m_idle.elapsed() >= m_request.idleTimeoutMs) {
                m_result.detail = QStringLiteral("no data for %1 ms").arg(m_request.idleTimeoutMs);
                finish(Outcome::Timeout);
            } else if (m_stage == Stage::Head && m_headClock.elapsed() >= m_request.headTimeoutMs) {
                // Bytes that trickle in keep the idle clock young; the head has a deadline of its own.
                m_result.detail = QStringLiteral("no complete response head within %1 ms").arg(m_request.headTimeoutMs);
                finish(Outcome::Timeout);
            }
        });
        idle->start();
        connectTo(m_request.url);
    }

    void abort()
    {
        if (!m_done) {
            m_result.detail = QStringLiteral("aborted");
            finish(Outcome::Aborted);
        }
    }

private:
    enum class Stage { Head, Body, ErrorBody };
    enum class Framing { Length, Chunked, UntilClose };
    enum class Chunk { Size, Data, DataEnd, Trailer };

    void connectTo(const QUrl& url)
    {
        m_url = url;
        const QString scheme = url.scheme().toLower();
        const bool tls = scheme == QLatin1String("https");
        if ((!tls && scheme != QLatin1String("http")) || url.host().isEmpty()) {
            m_result.detail = QStringLiteral("unsupported URL scheme: ") + scheme;
            finish(Outcome::BadRedirect);
            return;
        }
        m_stage = Stage::Head;
        m_filled = 0;
        m_encrypted = false;
        m_sslErrors = false;
        m_interim = 0;
        m_headClock.start();
        // Every connection has its own number: whatever an earlier one still reports (its close, an error,
        // a read that hit its end) is recognised as that connection's and never ends this one.
        const quint64 connection = ++m_connection;
        if (tls) {
            auto* socket = new QSslSocket(this);
            m_socket = socket;
            connect(socket, &QSslSocket::encrypted, this, [this] {
                m_encrypted = true;
                sendRequest();
            });
            connect(socket, &QSslSocket::sslErrors, this, [this](const QList<QSslError>& errors) {
                m_sslErrors = true;
                if (!errors.isEmpty())
                    m_result.detail = errors.first().errorString();
            });
        } else {
            m_socket = new QTcpSocket(this);
            connect(m_socket, &QAbstractSocket::connected, this, [this] { sendRequest(); });
        }
        QAbstractSocket* socket = m_socket;
        connect(socket, &QIODevice::readyRead, this, [this, connection] {
            if (connection == m_connection)
                onReadable();
        });
        connect(socket, &QAbstractSocket::errorOccurred, this, [this, connection](QAbstractSocket::SocketError error) {
            if (connection == m_connection)
                onSocketError(error);
        });
        connect(socket, &QAbstractSocket::disconnected, this, [this, connection] {
            if (connection == m_connection)
                QMetaObject::invokeMethod(
                    this,
                    [this, connection] {
                        if (connection == m_connection)
                            onClosed();
                    },
                    Qt::QueuedConnection);
        });
        const quint16 port = quint16(url.port(tls ? 443 : 80));
        if (tls)
            static_cast<QSslSocket*>(m_socket)->connectToHostEncrypted(url.host(), port);
        else // unbuffered: read() goes straight from the kernel into our buffer
            m_socket->connectToHost(url.host(), port, QIODevice::ReadWrite | QIODevice::Unbuffered);
    }

    void sendRequest()
    {
        QByteArray target = m_url.toEncoded(QUrl::RemoveScheme | QUrl::RemoveAuthority | QUrl::RemoveFragment);
        if (target.isEmpty() || target[0] != '/')
            target.prepend('/');
        QByteArray text = "GET " + target + " HTTP/1.1\r\nHost: " +
                          m_url.authority(QUrl::RemoveUserInfo | QUrl::FullyEncoded).toLatin1() +
                          "\r\nUser-Agent: Mozilla/5.0\r\nAccept-Encoding: identity\r\nConnection: close\r\n";
        if (m_request.resumeFrom > 0)
            text += "Range: bytes=" + QByteArray::number(m_request.resumeFrom) + "-\r\n";
        text += "\r\n";
        m_socket->write(text);
        m_idle.restart();
    }

    void onSocketError(QAbstractSocket::SocketError error)
    {
        if (m_done)
            return;
        const quint64 connection = m_connection;
        if (error == QAbstractSocket::RemoteHostClosedError) {
            QMetaObject::invokeMethod(
                this,
                [this, connection] {
                    if (connection == m_connection)
                        onClosed();
                },
                Qt::QueuedConnection);
            return;
        }
        if (m_result.detail.isEmpty() || !m_sslErrors)
            m_result.detail = m_socket->errorString();
        const bool tlsFailed = error == QAbstractSocket::SslHandshakeFailedError ||
                               error == QAbstractSocket::SslInvalidUserDataError || (m_sslErrors && !m_encrypted);
        if (tlsFailed) {
            finish(Outcome::TlsFailed);
            return;
        }
        // Connection refused, reset, host not found, network down: the network's fault.
        onReadable(); // what arrived before still counts (and may have been a redirect)
        if (!m_done && connection == m_connection)
            endOfStream(true);
    }

    void onClosed()
    {
        if (m_done)
            return;
        const quint64 connection = m_connection;
        onReadable();
        if (!m_done && connection == m_connection && m_socket && m_socket->bytesAvailable() <= 0)
            endOfStream(false);
    }

    // Reads what the socket holds, filling the buffer before each pass over it, so a fast link makes one
    // hash step and one write per buffer. The end of the stream (a read of -1, or the socket no longer
    // connected once it is drained) ends the transfer after what came before it is taken.
    void onReadable()
    {
        const quint64 connection = m_connection;
        while (!m_done && m_socket) {
            bool any = false;
            bool ended = false;
            while (m_filled < HttpDownload::kBufferBytes) {
                const qint64 n = m_socket->read(m_buffer.get() + m_filled, HttpDownload::kBufferBytes - m_filled);
                if (n < 0)
                    ended = true;
                if (n <= 0)
                    break;
                m_filled += n;
                any = true;
            }
            const bool full = m_filled == HttpDownload::kBufferBytes;
            if (any) {
                m_idle.restart();
                consume();
            }
            // A redirect in what was read has opened the next connection: the end of this one (the read
            // that hit it, its state) says nothing about that one.
            if (m_done || !m_socket || connection != m_connection)
                return;
            if (ended ||
                (!full && m_socket->state() == QAbstractSocket::UnconnectedState && m_socket->bytesAvailable() <= 0)) {
                endOfStream(m_socket->error() != QAbstractSocket::RemoteHostClosedError &&
                            m_socket->error() != QAbstractSocket::UnknownSocketError);
                return;
            }
            if (!full)
                return;
        }
    }

    // Takes what it can from the buffer; a partial line stays at its start.
    void consume()
    {
        qint64 pos = 0;
        while (!m_done && pos < m_filled) {
            const qint64 used = step(m_buffer.get() + pos, m_filled - pos);
            if (used < 0)
                return; // finished, or redirected (the buffer belongs to the new connection)
            if (used == 0)
                break; // needs more bytes
            pos += used;
        }
        if (m_done)
            return;
        if (pos > 0 && pos < m_filled)
            std::memmove(m_buffer.get(), m_buffer.get() + pos, size_t(m_filled - pos));
        m_filled -= pos;
        if (m_stage == Stage::Head && m_filled >= HttpDownload::kMaxHeaderBytes) {
            m_result.detail = QStringLiteral("response headers too long");
            finish(Outcome::BadResponse);
        } else if (m_stage != Stage::Head && m_filled >= kMaxLineBytes) {
            m_result.detail = QStringLiteral("chunk line too long");
            finish(Outcome::BadResponse);
        }
    }

    // Consumes bytes from data; 0 = needs more, -1 = the buffer is no longer ours to walk.
    qint64 step(const char* data, qint64 size)
    {
        if (m_stage == Stage::Head)
            return headStep(data, size);
        if (m_framing != Framing::Chunked) {
            const qint64 n = m_framing == Framing::Length ? qMin(size, m_remaining) : size;
            if (!deliver(data, n))
                return -1;
            if (m_framing == Framing::Length) {
                m_remaining -= n;
                if (m_remaining == 0) {
                    bodyEnded();
                    return -1;
                }
            }
            return size; // bytes past the announced length are dropped with the connection
        }
        switch (m_chunk) {
        case Chunk::Data: {
            const qint64 n = qMin(size, m_remaining);
            if (!deliver(data, n))
                return -1;
            m_remaining -= n;
            if (m_remaining == 0)
                m_chunk = Chunk::DataEnd;
            return n;
        }
        case Chunk::Size:
        case Chunk::DataEnd:
        case Chunk::Trailer: {
            const char* nl = static_cast<const char*>(std::memchr(data, '\n', size_t(size)));
            if (!nl)
                return 0;
            QByteArray line(data, nl - data);
            if (line.endsWith('\r'))
                line.chop(1);
            const qint64 used = nl - data + 1;
            if (m_chunk == Chunk::DataEnd) {
                if (!line.isEmpty())
                    return bad("no line end after a chunk");
                m_chunk = Chunk::Size;
            } else if (m_chunk == Chunk::Trailer) {
                if (line.isEmpty()) {
                    bodyEnded();
                    return -1;
                }
                // Each line is short, but the lines need never end: their sum is bounded.
                m_trailerBytes += used;
                if (m_trailerBytes > HttpDownload::kMaxTrailerBytes) {
                    m_result.detail = QStringLiteral("trailer over %1 bytes").arg(HttpDownload::kMaxTrailerBytes);
                    finish(Outcome::Timeout);
                    return -1;
                }
            } else {
                const qsizetype semicolon = line.indexOf(';');
                const QByteArray hex = (semicolon >= 0 ? line.left(semicolon) : line).trimmed();
                bool ok = false;
                const qint64 chunkSize = hex.size() <= 15 ? hex.toLongLong(&ok, 16) : -1;
                if (!ok || chunkSize < 0 || hex.startsWith('+') || hex.startsWith('-') || hex.startsWith("0x") ||
                    hex.startsWith("0X"))
                    return bad("malformed chunk size");
                m_remaining = chunkSize;
                m_chunk = chunkSize == 0 ? Chunk::Trailer : Chunk::Data;
            }
            return used;
        }
        }
        return -1;
    }

    qint64 bad(const char* why)
    {
        m_result.detail = QString::fromLatin1(why);
        finish(Outcome::BadResponse);
        return -1;
    }

    qint64 headStep(const char* data, qint64 size)
    {
        // The blank line ends the block: "\n\n" or "\n\r\n".
        qint64 end = -1;
        qint64 blockEnd = 0;
        for (qint64 i = 0; i + 1 < size; ++i) {
            if (data[i] != '\n')
                continue;
            if (data[i + 1] == '\n') {
                blockEnd = i;
                end = i + 2;
                break;
            }
            if (data[i + 1] == '\r' && i + 2 < size && data[i + 2] == '\n') {
                blockEnd = i;
                end = i + 3;
                break;
            }
        }
        if (end < 0)
            return 0;
        Head head;
        if (!parseHead(QByteArray(data, blockEnd), head))
            return bad("not an HTTP/1.x answer");
        m_result.status = head.status;
        if (head.status < 200) {
            if (head.status == 101)
                return bad("unexpected protocol switch");
            if (++m_interim > HttpDownload::kMaxInterimAnswers) {
                m_result.detail =
                    QStringLiteral("more than %1 interim (1xx) answers").arg(HttpDownload::kMaxInterimAnswers);
                finish(Outcome::Timeout);
                return -1;
            }
            return end; // an interim answer: the real one follows
        }
        if (isRedirect(head.status)) {
            redirect(head);
            return -1;
        }
        if (!startBody(head))
            return -1;
        return end;
    }

    void redirect(const Head& head)
    {
        const QList<QByteArray> location = head.values("location");
        if (location.size() != 1 || location[0].isEmpty()) {
            m_result.detail = QStringLiteral("redirect without one target");
            finish(Outcome::BadRedirect);
            return;
        }
        const QUrl target = m_url.resolved(QUrl::fromEncoded(location[0]));
        const QString scheme = target.scheme().toLower();
        const bool lessSafe = (m_url.scheme().toLower() == QLatin1String("https") || m_request.httpsOnly) &&
                              scheme != QLatin1String("https");
        if (lessSafe || ++m_redirects > HttpDownload::kMaxRedirects ||
            (scheme != QLatin1String("http") && scheme != QLatin1String("https"))) {
            m_result.detail = lessSafe ? QStringLiteral("redirect to a less safe scheme refused")
                                       : QStringLiteral("too many redirects or a bad target");
            finish(Outcome::BadRedirect);
            return;
        }
        dropSocket();
        m_result.status = 0; // the next connection has not answered: a failure there must not name this 3xx
        connectTo(target);
    }

    bool startBody(const Head& head)
    {
        const QList<QByteArray> coding = head.values("content-encoding");
        for (const QByteArray& c : coding) {
            if (c.toLower() != "identity") {
                bad("content encoding not understood");
                return false;
            }
        }
        const QList<QByteArray> transfer = head.values("transfer-encoding");
        const QList<QByteArray> lengths = head.values("content-length");
        qint64 length = -1;
        if (!transfer.isEmpty()) {
            if (transfer.size() != 1 || transfer[0].toLower() != "chunked") {
                bad("transfer encoding not understood");
                return false;
            }
            m_framing = Framing::Chunked;
            m_chunk = Chunk::Size;
            m_trailerBytes = 0;
        } else if (!lengths.isEmpty()) {
            length = parseDecimal(lengths[0]);
            for (const QByteArray& l : lengths) {
                if (parseDecimal(l) != length)
                    length = -1;
            }
            if (length < 0) {
                bad("malformed Content-Length");
                return false;
            }
            m_framing = Framing::Length;
            m_remaining = length;
        } else {
            m_framing = head.status == 204 || head.status == 304 ? Framing::Length : Framing::UntilClose;
            m_remaining = 0;
        }

        if (head.status < 200 || head.status > 299) {
            m_stage = Stage::ErrorBody;
            if (m_framing == Framing::Length && m_remaining == 0) {
                finish(Outcome::HttpError);
                return false;
            }
            return true;
        }

        qint64 total = -1;
        if (head.status == 206) {
            const QList<QByteArray> range = head.values("content-range");
            qint64 first = -1;
            qint64 announced = -1;
            const bool parsed = range.size() == 1 && parseContentRange(range[0], first, announced);
            m_result.rangeStart = parsed ? first : -1;
            if (m_request.resumeFrom <= 0 || !parsed) {
                m_result.detail = QStringLiteral("206 without a usable Content-Range");
                finish(Outcome::RangeMismatch);
                return false;
            }
            if (first != m_request.resumeFrom) {
                m_result.detail =
                    QStringLiteral("Content-Range starts at %1, not %2").arg(first).arg(m_request.resumeFrom);
                finish(Outcome::RangeMismatch);
                return false;
            }
            total = announced >= 0 ? announced : (length >= 0 ? first + length : -1);
        } else {
            if (m_offset > 0) {
                // The server sent the whole file: start it again.
                if (!m_file.resize(0) || !m_file.seek(0)) {
                    m_result.detail = m_file.errorString();
                    finish(Outcome::WriteFailed);
                    return false;
                }
                m_offset = 0;
                m_result.fileSize = 0;
                m_result.restarted = true;
            }
            total = length;
        }
        m_result.total = total;
        if (total > m_request.maxBytes || (total < 0 && m_offset > m_request.maxBytes)) {
            m_result.detail = QStringLiteral("announced %1 bytes").arg(total);
            finish(Outcome::TooLarge);
            return false;
        }
        const qint64 expected = total > 0 ? total : m_request.expectedSize;
        m_cap = expected > 0 && expected < m_request.maxBytes / 3 * 2 ? expected + expected / 2 : m_request.maxBytes;
        m_hash = std::make_unique<ktr::platform::Sha256Stream>();
        m_hashOk = m_offset == 0 || m_hash->addFilePrefix(m_request.filePath, m_offset);
        m_stage = Stage::Body;
        m_progress(m_result.fileSize, m_result.total);
        if (m_framing == Framing::Length && m_remaining == 0) {
            bodyEnded();
            return false;
        }
        return true;
    }

    // Body bytes: to the error text, or hashed and written. False when the transfer ended.
    bool deliver(const char* data, qint64 n)
    {
        if (n <= 0)
            return true;
        if (m_stage == Stage::ErrorBody) {
            m_result.errorBody.append(data, qMin(n, qint64(m_request.maxErrorBody) - m_result.errorBody.size()));
            if (m_result.errorBody.size() >= m_request.maxErrorBody) {
                finish(Outcome::HttpError);
                return false;
            }
            return true;
        }
        if (m_result.fileSize + n > m_cap) {
            m_result.detail = QStringLiteral("%1 bytes, cap %2").arg(m_result.fileSize + n).arg(m_cap);
            finish(Outcome::SizeCap);
            return false;
        }
        m_hash->addData(data, n);
        const qint64 written = m_file.write(data, n);
        if (written > 0)
            m_result.fileSize += written;
        if (written != n) {
            m_result.detail = m_file.errorString();
            finish(Outcome::WriteFailed);
            return false;
        }
        reportProgress();
        return true;
    }

    // At most one report per interval; the last count of a burst follows when the interval is over, so a
    // pause in the stream never leaves an old figure on the screen.
    void reportProgress()
    {
        if (m_sinceProgress.elapsed() >= HttpDownload::kProgressIntervalMs) {
            m_sinceProgress.restart();
            if (m_progressTimer)
                m_progressTimer->stop();
            m_progress(m_result.fileSize, m_result.total);
            return;
        }
        if (!m_progressTimer) {
            m_progressTimer = new QTimer(this);
            m_progressTimer->setSingleShot(true);
            connect(m_progressTimer, &QTimer::timeout, this, [this] {
                if (m_done)
                    return;
                m_sinceProgress.restart();
                m_progress(m_result.fileSize, m_result.total);
            });
        }
        if (!m_progressTimer->isActive())
            m_progressTimer->start(int(qMax<qint64>(1, HttpDownload::kProgressIntervalMs - m_sinceProgress.elapsed())));
    }

    void bodyEnded()
    {
        if (m_stage == Stage::ErrorBody) {
            finish(Outcome::HttpError);
            return;
        }
        if (m_hashOk)
            m_result.sha256 = m_hash->result();
        finish(Outcome::Done);
    }

    // The connection ended (closed by the peer, or failed).
    void endOfStream(bool failed)
    {
        if (m_stage == Stage::Head) {
            if (m_result.detail.isEmpty())
                m_result.detail = QStringLiteral("connection closed before an answer");
            finish(Outcome::Cut);
            return;
        }
        if (m_framing == Framing::UntilClose && !failed) {
            bodyEnded();
            return;
        }
        if (m_stage == Stage::ErrorBody) {
            finish(Outcome::HttpError);
            return;
        }
        if (m_result.detail.isEmpty())
            m_result.detail = QStringLiteral("connection closed before the body ended");
        finish(Outcome::Cut);
    }

    void dropSocket()
    {
        if (!m_socket)
            return;
        QAbstractSocket* socket = m_socket;
        m_socket = nullptr;
        socket->disconnect(this);
        socket->abort();
        socket->deleteLater();
    }

    void finish(Outcome outcome)
    {
        if (m_done)
            return;
        m_done = true;
        if (m_idleTimer)
            m_idleTimer->stop();
        if (m_progressTimer)
            m_progressTimer->stop();
        dropSocket();
        const bool opened = m_file.isOpen();
        m_file.close();
        // Nothing arrived (or a restart emptied the file): no empty partial file stays behind to look like
        // a download begun. An empty answer that succeeded is a file like any other; only a plain file of
        // our own is removed, never a link or a device the caller named.
        if (opened && outcome != Outcome::Done && m_result.fileSize == 0) {
            const QFileInfo info(m_file.fileName());
            if (info.isFile() && !info.isSymLink() && info.size() == 0 && !m_file.remove())
                qWarning().noquote() << "download: cannot remove the empty partial file:" << m_file.errorString();
        }
        m_result.outcome = outcome;
        m_progress(m_result.fileSize, m_result.total);
        m_report(m_result);
        QThread::currentThread()->quit();
    }

    HttpDownload::Request m_request;
    std::shared_ptr<HttpDownloadShared> m_shared;
    QTimer* m_idleTimer = nullptr;
    QTimer* m_progressTimer = nullptr;
    Report m_report;
    Progress m_progress;
    std::unique_ptr<char[]> m_buffer;
    qint64 m_filled = 0;
    QUrl m_url;
    QAbstractSocket* m_socket = nullptr;
    bool m_encrypted = false;
    bool m_sslErrors = false;
    int m_redirects = 0;
    quint64 m_connection = 0;
    int m_interim = 0;
    qint64 m_trailerBytes = 0;
    QElapsedTimer m_headClock;
    Stage m_stage = Stage::Head;
    Framing m_framing = Framing::UntilClose;
    Chunk m_chunk = Chunk::Size;
    qint64 m_remaining = 0;
    qint64 m_offset = 0;
    qint64 m_cap = 0;
    QFile m_file;
    std::unique_ptr<ktr::platform::Sha256Stream> m_hash;
    bool m_hashOk = true;
    QElapsedTimer m_idle;
    QElapsedTimer m_sinceProgress;
    bool m_done = false;
    HttpDownload::Result m_result;
};

} // namespace

HttpDownload::HttpDownload(QObject* parent) : QObject(parent)
{
    static const int registered = qRegisterMetaType<HttpDownload::Result>();
    Q_UNUSED(registered)
}

HttpDownload::~HttpDownload()
{
    abort();
    if (m_thread) {
        m_thread->wait();
        delete m_thread;
    }
}

void HttpDownload::start(const Request& request)
{
    if (m_thread)
        return;
    m_running = true;
    m_shared = std::make_shared<HttpDownloadShared>();
    m_thread = new QThread;
    m_thread->setObjectName(QStringLiteral("download"));
    // Reports go to this object's thread as queued calls; once this object is gone they are dropped.
    auto* worker = new DownloadWorker(
        request, m_shared,
        [this](const Result& result) {
            QMetaObject::invokeMethod(
                this,
                [this, result] {
                    m_running = false;
                    if (m_thread) {
                        m_thread->wait(); // it quits right after this report
                        delete m_thread;
                        m_thread = nullptr;
                    }
                    Q_EMIT finished(result);
                },
                Qt::QueuedConnection);
        },
        [this](qint64 size, qint64 total) {
            QMetaObject::invokeMethod(
                this,
                [this, size, total] {
                    if (m_running)
                        Q_EMIT progress(size, total);
                },
                Qt::QueuedConnection);
        });
    worker->moveToThread(m_thread);
    connect(m_thread, &QThread::started, worker, &DownloadWorker::begin);
    connect(m_thread, &QThread::finished, worker, &QObject::deleteLater);
    m_thread->start();
}

void HttpDownload::abort()
{
    if (!m_shared)
        return;
    std::lock_guard lock(m_shared->mutex);
    if (auto* worker = static_cast<DownloadWorker*>(m_shared->worker))
        QMetaObject::invokeMethod(
            worker, [worker] { worker->abort(); }, Qt::QueuedConnection);
}
