# Needs a real X server (Xvfb under test.sh) and a second X client that holds a hotkey.
add_executable(ktr_x11hotkeyholder ${CMAKE_CURRENT_SOURCE_DIR}/x11hotkeyholder.cpp)
target_link_libraries(ktr_x11hotkeyholder PRIVATE ktr_platform)
ktr_add_test(tst_x11input SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/tst_x11input.cpp LIBS ktr_platform X11)
target_compile_definitions(tst_x11input PRIVATE KTR_HOTKEY_HOLDER="$<TARGET_FILE:ktr_x11hotkeyholder>")
add_dependencies(tst_x11input ktr_x11hotkeyholder)
