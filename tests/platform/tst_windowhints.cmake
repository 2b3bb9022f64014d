# Needs a real X server (Xvfb under test.sh).
ktr_add_test(tst_windowhints SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/tst_windowhints.cpp LIBS ktr_platform X11)
