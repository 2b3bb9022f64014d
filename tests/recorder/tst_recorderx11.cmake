# Needs a real X server (Xvfb under test.sh), xdotool for XTest input and ffprobe.
ktr_add_test(tst_recorderx11 SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/tst_recorderx11.cpp LIBS ktr_recorder X11)
