# Needs a real X server (Xvfb under test.sh); the test plays the compositing manager on its own connection.
ktr_add_test(tst_compositing SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/tst_compositing.cpp LIBS ktr_platform X11)
pkg_check_modules(KTR_TEST_XCB REQUIRED IMPORTED_TARGET xcb)
target_link_libraries(tst_compositing PRIVATE PkgConfig::KTR_TEST_XCB)
