# Needs a real X server (Xvfb under test.sh) and xdotool to move the pointer and press its buttons.
ktr_add_test(tst_edgedockx11 SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/tst_edgedockx11.cpp LIBS ktr_mainwindow X11)
