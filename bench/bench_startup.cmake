add_executable(bench_startup ${CMAKE_CURRENT_SOURCE_DIR}/bench_startup.cpp)
target_link_libraries(bench_startup PRIVATE ktr_app)
# The floor it compares against links Qt Widgets alone, as a small program of its own would.
add_executable(startup_emptywindow ${CMAKE_CURRENT_SOURCE_DIR}/startup_emptywindow.cpp)
target_link_libraries(startup_emptywindow PRIVATE Qt6::Widgets)
add_dependencies(bench_startup startup_emptywindow kestrune-panel)
