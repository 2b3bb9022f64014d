#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QUrl>

#include <atomic>
#include <memory>

class QThread;
struct HttpDownloadShared;

// One HTTP(S) GET streamed into a file on a thread of its own: the worker owns the socket, parses the
// answer itself, reads the body into one reusable buffer, feeds the SHA-256 from that buffer and writes
// it to the file in one write, so a fast link costs one copy out of the kernel and no work on the GUI
// thread. The GUI thread hears about progress at most ten times a second and gets the outcome once.
//
// One request per connection ("Connection: close"). Redirects are followed, but never from https to
// http (nor to http at all when httpsOnly). Chunked bodies, Content-Length and bodies ended by the
// close are understood; any other form of answer is refused rather than guessed at. An answer that stalls
// is ended by the first bound it meets (see Outcome::Timeout). A transfer that ends other than Done with
// nothing in the file removes the file: "what arrived" is then no file at all.
class HttpDownload : public QObject
{
    Q_OBJECT
public:
    enum class Outcome {
        Done,          // a 2xx body written whole; sha256 holds the file's digest
        Cut,           // the connection failed or broke before the body ended: what arrived is in the file
        Timeout,       // the answer stalled: no byte for idleTimeoutMs, no whole head within headTimeoutMs, more
                       // than kMaxInterimAnswers 1xx answers, or a trailer over kMaxTrailerBytes; detail says
                       // which. What arrived is in the file
        HttpError,     // a status other than 2xx (after redirects): status and errorBody say which
        TlsFailed,     // the handshake or the certificate check failed
        BadRedirect,   // a redirect to a less safe scheme, without a target, or too many of them
        BadResponse,   // an answer this reader does not understand (no guess is made)
        RangeMismatch, // a 206 whose Content-Range does not start where the file ends
        TooLarge,      // the announced length is over maxBytes: nothing written
        SizeCap,       // the file grew past its cap without an announced length
        WriteFailed,   // the file refused a write: what was written stays
        OpenFailed,    // the file could not be opened: nothing was sent
        Aborted,       // abort() was called: what arrived is in the file
    };
    Q_ENUM(Outcome)

    struct Request
    {
        QUrl url;
        QString filePath;
        // > 0: the file already holds this many bytes; "Range: bytes=N-" asks for the rest. A 200 answer
        // starts the file again; a 206 must say it starts at N.
        qint64 resumeFrom = 0;
        qint64 maxBytes = 0;     // the whole file's cap (announced or written)
        qint64 expectedSize = 0; // the size the caller was told (0: unknown); the file may reach 1.5 × this
        int idleTimeoutMs = 30000;
        // From the start of each connection to the end of its head: a head that trickles in, byte by byte,
        // never meets the idle time-out.
        int headTimeoutMs = 60000;
        bool httpsOnly = false;
        int maxErrorBody = 8192;
    };

    struct Result
    {
        Outcome outcome = Outcome::Aborted;
        int status = 0;         // the last status line's code; 0 when none arrived
        qint64 fileSize = 0;    // bytes in the file at the end
        qint64 total = -1;      // the whole file's announced size; -1 when not announced
        bool restarted = false; // a 200 answered the Range: the file was started again
        qint64 rangeStart = -1; // a 206's Content-Range first byte; -1 when missing or malformed
        QByteArray sha256;      // Done only: the whole file's digest (empty if its first part was unreadable)
        QByteArray errorBody;   // HttpError: the first maxErrorBody bytes of the answer
        QString detail;         // English, for the log (never holds the URL's query)
    };

    explicit HttpDownload(QObject* parent = nullptr);
    // Stops the worker and waits for it (at most one read or write).
    ~HttpDownload() override;

    void start(const Request& request);
    // Ends the transfer soon; finished() still comes once, with Aborted (or the outcome it had reached).
    void abort();
    bool isRunning() const { return m_running; }

    // The body's read buffer: large enough that a fast link fills it in one wake-up, small enough to stay
    // in the cache between the read, the hash and the write.
    static constexpr qint64 kBufferBytes = 512 << 10;
    static constexpr int kMaxHeaderBytes = 64 << 10; // status line and headers together
    static constexpr int kMaxRedirects = 10;
    static constexpr int kMaxInterimAnswers = 10;     // 1xx answers before the real one, per connection
    static constexpr int kMaxTrailerBytes = 16 << 10; // the lines after the last chunk, together
    static constexpr int kProgressIntervalMs = 100;

Q_SIGNALS:
    // Bytes in the file and the announced whole size (-1: unknown); at most every kProgressIntervalMs.
    void progress(qint64 fileSize, qint64 total);
    void finished(const HttpDownload::Result& result);

private:
    std::shared_ptr<HttpDownloadShared> m_shared;
    QThread* m_thread = nullptr;
    bool m_running = false;
};

Q_DECLARE_METATYPE(HttpDownload::Result)
