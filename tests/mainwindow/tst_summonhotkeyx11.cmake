# Needs a real X server and the second X client of the platform tests.
ktr_add_test(tst_summonhotkeyx11 SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/tst_summonhotkeyx11.cpp LIBS ktr_mainwindow X11)
target_compile_definitions(tst_summonhotkeyx11 PRIVATE KTR_HOTKEY_HOLDER="$<TARGET_FILE:ktr_x11hotkeyholder>")
add_dependencies(tst_summonhotkeyx11 ktr_x11hotkeyholder)
