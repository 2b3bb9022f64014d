# Needs a real X server (Xvfb under test.sh), xdotool to move the pointer, and the window managers it starts
# itself on that display (openbox, icewm, xfwm4 with an xfconfd on a bus of its own, fluxbox).
ktr_add_test(tst_edgedockwmx11 SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/tst_edgedockwmx11.cpp LIBS ktr_mainwindow X11)
pkg_check_modules(KTR_TEST_XCB_WM REQUIRED IMPORTED_TARGET xcb)
target_link_libraries(tst_edgedockwmx11 PRIVATE PkgConfig::KTR_TEST_XCB_WM)
# Four window managers, six strips each: more than the default bound on a busy machine.
set_tests_properties(tst_edgedockwmx11 PROPERTIES TIMEOUT 600)
