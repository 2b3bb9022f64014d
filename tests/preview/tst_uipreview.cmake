ktr_add_test(tst_uipreview SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/tst_uipreview.cpp LIBS ktr_app)
target_compile_definitions(tst_uipreview PRIVATE KTR_PANEL_EXE="$<TARGET_FILE:kestrune-panel>")
add_dependencies(tst_uipreview kestrune-panel)
