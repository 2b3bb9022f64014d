ktr_add_test(tst_panelprocess SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/tst_panelprocess.cpp LIBS ktr_platform)
target_compile_definitions(tst_panelprocess PRIVATE KTR_PANEL_EXE="$<TARGET_FILE:kestrune-panel>")
add_dependencies(tst_panelprocess kestrune-panel)
