# The recorder's colour conversion is part of ktr_platform (built from videomodule/, vectorised).
ktr_add_test(tst_bgrxtonv12 SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/tst_bgrxtonv12.cpp LIBS ktr_platform)
