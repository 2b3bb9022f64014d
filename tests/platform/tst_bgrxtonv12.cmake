# The recorder's colour conversion is built into the video module; the test compiles its source directly.
ktr_add_test(tst_bgrxtonv12 SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/tst_bgrxtonv12.cpp
             ${PROJECT_SOURCE_DIR}/src/platform/videomodule/bgrxtonv12.cpp LIBS ktr_platform)
