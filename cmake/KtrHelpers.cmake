# ktr_add_library(<folder> [DEPS <targets...>])
# One static library per subsystem folder, named ktr_<folder>, built from every .cpp/.h in the folder
# (sub-folders are not scanned). Adding a file needs no CMake edit.
function(ktr_add_library folder)
    cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
    file(GLOB _srcs CONFIGURE_DEPENDS
        ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.h ${CMAKE_CURRENT_SOURCE_DIR}/*.qrc)
    list(FILTER _srcs EXCLUDE REGEX "/main\\.cpp$")
    if(NOT _srcs)
        # Keep an empty folder linkable until its first source arrives.
        set(_stub ${CMAKE_CURRENT_BINARY_DIR}/ktr_${folder}_stub.cpp)
        file(WRITE ${_stub} "namespace ktr_${folder}_stub { int unused = 0; }\n")
        set(_srcs ${_stub})
    endif()
    add_library(ktr_${folder} STATIC ${_srcs})
    # Ninja's moc step only re-runs when one of the folder's list files changes, not when a re-glob adds a
    # source: include a list file that changes with the source list.
    set(_list ${CMAKE_CURRENT_BINARY_DIR}/ktr_${folder}_sources.cmake)
    string(REPLACE ";" "\n# " _content "${_srcs}")
    file(CONFIGURE OUTPUT ${_list} CONTENT "# ${_content}\n")
    include(${_list})
    target_include_directories(ktr_${folder} PUBLIC ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(ktr_${folder} PUBLIC ${ARG_DEPS})
endfunction()

# ktr_add_test(<name> SOURCES <files...> [LIBS <targets...>] [LABELS <labels...>] [X11])
# A QtTest executable registered with ctest. Tests run offscreen with their own HOME and XDG folders
# (set up by the test main in tests/support); X11 tests run on the Xvfb display that test.sh provides.
function(ktr_add_test name)
    cmake_parse_arguments(ARG "X11" "" "SOURCES;LIBS;LABELS" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE ktr_testsupport ${ARG_LIBS} Qt6::Test)
    add_test(NAME ${name} COMMAND ${name})
    set(_labels ${ARG_LABELS})
    if(ARG_X11)
        list(APPEND _labels x11)
        # One X server is shared: tests that grab keys or the pointer must not overlap.
        set_tests_properties(${name} PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=xcb;KTR_TEST_X11=1"
            RESOURCE_LOCK x11display)
    else()
        set_tests_properties(${name} PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
    endif()
    if(_labels)
        set_tests_properties(${name} PROPERTIES LABELS "${_labels}")
    endif()
    set_tests_properties(${name} PROPERTIES TIMEOUT 240)
endfunction()

# ktr_add_folder_tests(<folder> LIBS <targets...>)
# Registers every tst_*.cpp of the current folder as its own test, linked with LIBS; a test that needs
# more (extra sources, X11) is declared in a <name>.cmake file beside it instead and skipped here.
function(ktr_add_folder_tests folder)
    cmake_parse_arguments(ARG "" "" "LIBS" ${ARGN})
    file(GLOB _tests CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/tst_*.cpp)
    foreach(_t ${_tests})
        get_filename_component(_name ${_t} NAME_WE)
        if(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${_name}.cmake)
            include(${CMAKE_CURRENT_SOURCE_DIR}/${_name}.cmake)
        else()
            ktr_add_test(${_name} SOURCES ${_t} LIBS ${ARG_LIBS})
        endif()
    endforeach()
endfunction()
