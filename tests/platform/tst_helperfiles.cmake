ktr_add_test(tst_helperfiles SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/tst_helperfiles.cpp LIBS ktr_platform)
target_compile_definitions(tst_helperfiles PRIVATE KTR_TEST_PROGRAM_DIR="$<TARGET_FILE_DIR:ktr-videoencoder>")
