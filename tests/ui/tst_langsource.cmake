# Scans the program's sources at run time, so texts added to the code are checked without reconfiguring.
ktr_add_test(tst_langsource SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/tst_langsource.cpp LIBS ktr_ui)
target_compile_definitions(tst_langsource PRIVATE KTR_SOURCE_DIR="${PROJECT_SOURCE_DIR}/src")
