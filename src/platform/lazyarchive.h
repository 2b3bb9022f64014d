#pragma once

// libarchive opened on first use. Included by its user after the libarchive headers: each function it calls
// becomes a call through the pointer resolved at load, so the program does not link libarchive (nor what
// libarchive links: libxml2, nettle, acl, bz2, lzma, ...) and does not load it at start. Every public entry
// point of the user checks archiveLibrary().available() first. A function added here must be added to both
// lists; one missing from the first does not compile, one missing from the second does not link.

#include "platform/lazylibrary.h"

// Every libarchive function called.
#define KTR_ARCHIVE_SYMBOLS(X)                                                                                         \
    X(archive_entry_free)                                                                                              \
    X(archive_entry_hardlink)                                                                                          \
    X(archive_entry_is_encrypted)                                                                                      \
    X(archive_entry_new)                                                                                               \
    X(archive_entry_pathname_utf8)                                                                                     \
    X(archive_entry_set_filetype)                                                                                      \
    X(archive_entry_set_mtime)                                                                                         \
    X(archive_entry_set_pathname_utf8)                                                                                 \
    X(archive_entry_set_perm)                                                                                          \
    X(archive_entry_set_size)                                                                                          \
    X(archive_entry_size)                                                                                              \
    X(archive_entry_size_is_set)                                                                                       \
    X(archive_error_string)                                                                                            \
    X(archive_read_data)                                                                                               \
    X(archive_read_free)                                                                                               \
    X(archive_read_new)                                                                                                \
    X(archive_read_next_header)                                                                                        \
    X(archive_read_open_filename)                                                                                      \
    X(archive_read_support_format_zip_seekable)                                                                        \
    X(archive_write_close)                                                                                             \
    X(archive_write_data)                                                                                              \
    X(archive_write_finish_entry)                                                                                      \
    X(archive_write_free)                                                                                              \
    X(archive_write_header)                                                                                            \
    X(archive_write_new)                                                                                               \
    X(archive_write_open_fd)                                                                                           \
    X(archive_write_set_bytes_in_last_block)                                                                           \
    X(archive_write_set_bytes_per_block)                                                                               \
    X(archive_write_set_format_zip)                                                                                    \
    X(archive_write_set_options)                                                                                       \
    X(archive_write_zip_set_compression_deflate)                                                                       \
    X(archive_write_zip_set_compression_store)

namespace ktr::platform {

enum class ArchiveSymbol : std::size_t { KTR_ARCHIVE_SYMBOLS(KTR_LAZY_ENUMERATOR) };

const LazyLibrary& archiveLibrary();

} // namespace ktr::platform

#define KTR_ARCHIVE_FN(name) KTR_LAZY_FN(::ktr::platform::archiveLibrary(), ::ktr::platform::ArchiveSymbol::name, name)

// A function-like macro is not replaced again inside its own expansion, so each of these names the real
// function in the pointer's type.
#define archive_entry_free(...) KTR_ARCHIVE_FN(archive_entry_free)(__VA_ARGS__)
#define archive_entry_hardlink(...) KTR_ARCHIVE_FN(archive_entry_hardlink)(__VA_ARGS__)
#define archive_entry_is_encrypted(...) KTR_ARCHIVE_FN(archive_entry_is_encrypted)(__VA_ARGS__)
#define archive_entry_new(...) KTR_ARCHIVE_FN(archive_entry_new)(__VA_ARGS__)
#define archive_entry_pathname_utf8(...) KTR_ARCHIVE_FN(archive_entry_pathname_utf8)(__VA_ARGS__)
#define archive_entry_set_filetype(...) KTR_ARCHIVE_FN(archive_entry_set_filetype)(__VA_ARGS__)
#define archive_entry_set_mtime(...) KTR_ARCHIVE_FN(archive_entry_set_mtime)(__VA_ARGS__)
#define archive_entry_set_pathname_utf8(...) KTR_ARCHIVE_FN(archive_entry_set_pathname_utf8)(__VA_ARGS__)
#define archive_entry_set_perm(...) KTR_ARCHIVE_FN(archive_entry_set_perm)(__VA_ARGS__)
#define archive_entry_set_size(...) KTR_ARCHIVE_FN(archive_entry_set_size)(__VA_ARGS__)
#define archive_entry_size(...) KTR_ARCHIVE_FN(archive_entry_size)(__VA_ARGS__)
#define archive_entry_size_is_set(...) KTR_ARCHIVE_FN(archive_entry_size_is_set)(__VA_ARGS__)
#define archive_error_string(...) KTR_ARCHIVE_FN(archive_error_string)(__VA_ARGS__)
#define archive_read_data(...) KTR_ARCHIVE_FN(archive_read_data)(__VA_ARGS__)
#define archive_read_free(...) KTR_ARCHIVE_FN(archive_read_free)(__VA_ARGS__)
#define archive_read_new(...) KTR_ARCHIVE_FN(archive_read_new)(__VA_ARGS__)
#define archive_read_next_header(...) KTR_ARCHIVE_FN(archive_read_next_header)(__VA_ARGS__)
#define archive_read_open_filename(...) KTR_ARCHIVE_FN(archive_read_open_filename)(__VA_ARGS__)
#define archive_read_support_format_zip_seekable(...)                                                                  \
    KTR_ARCHIVE_FN(archive_read_support_format_zip_seekable)(__VA_ARGS__)
#define archive_write_close(...) KTR_ARCHIVE_FN(archive_write_close)(__VA_ARGS__)
#define archive_write_data(...) KTR_ARCHIVE_FN(archive_write_data)(__VA_ARGS__)
#define archive_write_finish_entry(...) KTR_ARCHIVE_FN(archive_write_finish_entry)(__VA_ARGS__)
#define archive_write_free(...) KTR_ARCHIVE_FN(archive_write_free)(__VA_ARGS__)
#define archive_write_header(...) KTR_ARCHIVE_FN(archive_write_header)(__VA_ARGS__)
#define archive_write_new(...) KTR_ARCHIVE_FN(archive_write_new)(__VA_ARGS__)
#define archive_write_open_fd(...) KTR_ARCHIVE_FN(archive_write_open_fd)(__VA_ARGS__)
#define archive_write_set_bytes_in_last_block(...) KTR_ARCHIVE_FN(archive_write_set_bytes_in_last_block)(__VA_ARGS__)
#define archive_write_set_bytes_per_block(...) KTR_ARCHIVE_FN(archive_write_set_bytes_per_block)(__VA_ARGS__)
#define archive_write_set_format_zip(...) KTR_ARCHIVE_FN(archive_write_set_format_zip)(__VA_ARGS__)
#define archive_write_set_options(...) KTR_ARCHIVE_FN(archive_write_set_options)(__VA_ARGS__)
#define archive_write_zip_set_compression_deflate(...)                                                                 \
    KTR_ARCHIVE_FN(archive_write_zip_set_compression_deflate)(__VA_ARGS__)
#define archive_write_zip_set_compression_store(...)                                                                   \
    KTR_ARCHIVE_FN(archive_write_zip_set_compression_store)(__VA_ARGS__)
