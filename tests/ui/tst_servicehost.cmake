ktr_add_test(tst_servicehost SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/tst_servicehost.cpp LIBS ktr_ui)
# The address this build carries, as the configure step took it, to check that it reaches the program.
target_compile_definitions(tst_servicehost PRIVATE KTR_EXPECTED_BUILTIN_HOST="${KTR_SERVICE_HOST}")
