ktr_add_test(tst_startup SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/tst_startup.cpp LIBS ktr_app)
target_compile_definitions(tst_startup PRIVATE KTR_PROJECT_VERSION="${PROJECT_VERSION}")
