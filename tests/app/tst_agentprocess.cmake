ktr_add_test(tst_agentprocess SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/tst_agentprocess.cpp LIBS ktr_app)
target_compile_definitions(tst_agentprocess PRIVATE KTR_PANEL_EXE="$<TARGET_FILE:kestrune-panel>")
add_dependencies(tst_agentprocess kestrune-panel)
