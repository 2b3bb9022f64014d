# The loader is built into the test once more, with sonames no machine has; the linker then leaves out
# ktr_platform's own copy, so the users of libcrypto and libarchive run here as on a system without them.
ktr_add_test(tst_lazylibrary SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/tst_lazylibrary.cpp
    ${PROJECT_SOURCE_DIR}/src/platform/lazylibrary.cpp LIBS ktr_platform)
target_compile_definitions(tst_lazylibrary PRIVATE KTR_CRYPTO_SONAME="libktr-absent-crypto.so.0"
    KTR_ARCHIVE_SONAME="libktr-absent-archive.so.0")
