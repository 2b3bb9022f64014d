add_executable(crash_helper ${CMAKE_CURRENT_SOURCE_DIR}/crash_helper.cpp)
target_link_libraries(crash_helper PRIVATE ktr_platform)
# The helper faults on purpose; in a sanitized build the fault must reach our handler, not UBSan.
if(KTR_SANITIZE)
    target_compile_options(crash_helper PRIVATE -fno-sanitize=undefined)
endif()
ktr_add_test(tst_crashhandler SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/tst_crashhandler.cpp LIBS ktr_platform)
target_compile_definitions(tst_crashhandler PRIVATE KTR_CRASH_HELPER="$<TARGET_FILE:crash_helper>")
add_dependencies(tst_crashhandler crash_helper)
