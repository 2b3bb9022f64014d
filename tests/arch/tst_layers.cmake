# Reads the program's sources at run time, so a new include is checked without reconfiguring.
ktr_add_test(tst_layers SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/tst_layers.cpp LIBS ktr_ui)
target_compile_definitions(tst_layers PRIVATE KTR_SOURCE_DIR="${PROJECT_SOURCE_DIR}/src")
