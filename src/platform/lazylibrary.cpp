#include "platform/lazylibrary.h"

#include "platform/lazyarchive.h"
#include "platform/lazycrypto.h"

#include <QDebug>

#include <dlfcn.h>

namespace ktr::platform {

void* openSharedLibrary(const QByteArray& file, QString* error)
{
    void* handle = dlopen(file.constData(), RTLD_NOW | RTLD_LOCAL);
    if (!handle && error) {
        const char* text = dlerror();
        *error =
            text ? QString::fromLocal8Bit(text) : QStringLiteral("%1 not loaded").arg(QString::fromLocal8Bit(file));
    }
    return handle;
}

LazyLibrary::LazyLibrary(const char* soname, std::vector<const char*> symbols)
    : m_soname(soname), m_names(std::move(symbols))
{
}

bool LazyLibrary::available() const
{
    load();
    return m_error.isEmpty();
}

QString LazyLibrary::errorString() const
{
    load();
    return m_error;
}

void* LazyLibrary::symbol(std::size_t index) const
{
    load();
    return index < m_symbols.size() ? m_symbols[index] : nullptr;
}

void LazyLibrary::load() const
{
    std::call_once(m_once, [this] {
        QString error;
        void* handle = openSharedLibrary(m_soname, &error);
        std::vector<void*> symbols;
        for (const char* name : m_names) {
            if (!handle)
                break;
            dlerror();
            void* address = dlsym(handle, name);
            if (!address) {
                const char* text = dlerror();
                error = text ? QString::fromLocal8Bit(text) : QStringLiteral("no %1").arg(QLatin1String(name));
                // Nothing of it is used: closing is safe.
                dlclose(handle);
                handle = nullptr;
                break;
            }
            symbols.push_back(address);
        }
        if (handle) {
            m_symbols = std::move(symbols);
            return;
        }
        m_error = QStringLiteral("%1 could not be loaded: %2").arg(QLatin1String(m_soname), error);
        qWarning().noquote() << "[library]" << m_error;
    });
}

// The program's on-demand libraries, by the sonames of the libraries the build found.
const LazyLibrary& cryptoLibrary()
{
    static const LazyLibrary library(KTR_CRYPTO_SONAME, {KTR_CRYPTO_SYMBOLS(KTR_LAZY_NAME)});
    return library;
}

const LazyLibrary& archiveLibrary()
{
    static const LazyLibrary library(KTR_ARCHIVE_SONAME, {KTR_ARCHIVE_SYMBOLS(KTR_LAZY_NAME)});
    return library;
}

} // namespace ktr::platform
