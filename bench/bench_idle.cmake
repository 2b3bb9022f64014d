# bench_idle watches the X screen itself, and starts the floor it compares with: an empty frameless Qt
# window that links Qt Widgets only, as any Qt program does.
add_executable(bench_idle ${CMAKE_CURRENT_SOURCE_DIR}/bench_idle.cpp)
target_link_libraries(bench_idle PRIVATE ktr_app X11)
add_executable(bench_idle_floor ${CMAKE_CURRENT_SOURCE_DIR}/bench_idle_floor.cpp)
target_link_libraries(bench_idle_floor PRIVATE Qt6::Widgets)
add_dependencies(bench_idle bench_idle_floor kestrune-panel)
