ktr_add_test(tst_launchx11 SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/tst_launchx11.cpp LIBS ktr_mainwindow X11)
