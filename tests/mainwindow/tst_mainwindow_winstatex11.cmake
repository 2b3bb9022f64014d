# Needs a real X server (Xvfb under test.sh) and xdotool to press the summon keys.
ktr_add_test(tst_mainwindow_winstatex11 SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/tst_mainwindow_winstatex11.cpp
    LIBS ktr_mainwindow X11)
