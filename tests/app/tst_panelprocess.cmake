ktr_add_test(tst_panelprocess SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/tst_panelprocess.cpp LIBS ktr_platform)
target_compile_definitions(tst_panelprocess PRIVATE KTR_PANEL_EXE="$<TARGET_FILE:kestrune-panel>"
    KTR_CONNECTLOG_LIB="$<TARGET_FILE:ktr_connectlog>" KTR_EXPECTED_BUILTIN_HOST="${KTR_SERVICE_HOST}")
add_dependencies(tst_panelprocess kestrune-panel ktr_connectlog)
