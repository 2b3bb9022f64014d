ktr_add_test(tst_platformcore SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/tst_platformcore.cpp LIBS ktr_platform)
target_compile_definitions(tst_platformcore PRIVATE KTR_PROJECT_VERSION="${PROJECT_VERSION}")
