# Needs a real X server (Xvfb under test.sh) and a window manager: openbox is started when none runs.
ktr_add_test(tst_dialogstackx11 SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/tst_dialogstackx11.cpp LIBS ktr_mainwindow X11)
