#pragma once

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <mutex>
#include <vector>

namespace ktr::platform {

// dlopen() with the flags every on-demand load of the program uses (everything bound now, nothing added to
// the global namespace). Null on failure, with dlerror()'s text in *error.
void* openSharedLibrary(const QByteArray& file, QString* error);

// A shared library opened on its first use rather than at start, so the start does not map and relocate
// libraries that only some actions need. Every function the program calls in it is named up front and
// resolved at that first load: a library that lacks one is as unavailable as one that is not there, so a
// caller that checks available() never calls through a null pointer. Once loaded it stays loaded.
// Safe to use from any thread.
class LazyLibrary
{
public:
    // soname: what dlopen() is given. The strings are not copied: string literals, or kept alive by the caller.
    LazyLibrary(const char* soname, std::vector<const char*> symbols);
    LazyLibrary(const LazyLibrary&) = delete;
    LazyLibrary& operator=(const LazyLibrary&) = delete;

    // Loads the library on the first call; the first failure is logged.
    bool available() const;
    // Why the library is not available; empty when it is.
    QString errorString() const;
    // The address of symbols[index]; null when the library is not available.
    void* symbol(std::size_t index) const;

private:
    void load() const;

    const char* m_soname;
    std::vector<const char*> m_names;
    mutable std::once_flag m_once;
    mutable std::vector<void*> m_symbols; // filled only when every name resolved
    mutable QString m_error;
};

} // namespace ktr::platform

// Helpers for the per-library headers (lazy<library>.h). Each lists the functions it forwards as X(name) items:
// an enum of them indexes LazyLibrary::symbol(), their names are what the library resolves.
#define KTR_LAZY_ENUMERATOR(name) name,
#define KTR_LAZY_NAME(name) #name,
// The function `name` of a library, typed from its declaration in the library's own header; `decltype` is
// not evaluated, so nothing refers to the real symbol and the program does not link the library.
#define KTR_LAZY_FN(library, index, name) (reinterpret_cast<decltype(&::name)>((library).symbol(std::size_t(index))))
