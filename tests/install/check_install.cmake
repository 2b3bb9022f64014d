# Runs `cmake --install` twice and checks what it wrote; any failed check ends the script with an error.
file(REMOVE_RECURSE "${WORK_DIR}")

function(check_tree root prefix)
    set(exe "${root}${prefix}/bin/kestrune-panel")
    set(entry "${root}${prefix}/share/applications/kestrune-panel.desktop")
    set(icon "${root}${prefix}/share/icons/hicolor/128x128/apps/kestrune-panel.png")
    set(marker "${root}${prefix}/bin/.kestrune-install-marker")
    set(videomodule "${root}${prefix}/bin/ktr-videomodule.so")
    set(encoder "${root}${prefix}/bin/ktr-videoencoder")
    foreach(f IN ITEMS "${exe}" "${videomodule}" "${encoder}" "${entry}" "${icon}" "${marker}")
        if(NOT EXISTS "${f}")
            message(FATAL_ERROR "not installed: ${f}")
        endif()
    endforeach()
    foreach(f IN ITEMS "${exe}" "${encoder}")
        execute_process(COMMAND test -x "${f}" RESULT_VARIABLE notExecutable)
        if(NOT notExecutable EQUAL 0)
            message(FATAL_ERROR "not executable: ${f}")
        endif()
    endforeach()
    # FFmpeg and its chain come with the video module, opened when a video is played, and the encoder process,
    # started for a recording; libcrypto
    # and libarchive are opened when something is signed, hashed, protected or zipped: the program itself
    # does not load them at every start.
    execute_process(COMMAND readelf -d "${exe}" OUTPUT_VARIABLE dynamic RESULT_VARIABLE readelfRc)
    if(NOT readelfRc EQUAL 0)
        message(FATAL_ERROR "readelf failed on ${exe}")
    endif()
    if(dynamic MATCHES "libav|libswscale")
        message(FATAL_ERROR "${exe} links FFmpeg itself:\n${dynamic}")
    endif()
    if(dynamic MATCHES "libcrypto|libarchive")
        message(FATAL_ERROR "${exe} links libcrypto or libarchive at start:\n${dynamic}")
    endif()
    execute_process(COMMAND readelf -d "${videomodule}" OUTPUT_VARIABLE moduleDynamic)
    if(NOT moduleDynamic MATCHES "libavcodec")
        message(FATAL_ERROR "${videomodule} is not the FFmpeg module:\n${moduleDynamic}")
    endif()
    execute_process(COMMAND readelf -d "${encoder}" OUTPUT_VARIABLE encoderDynamic)
    if(NOT encoderDynamic MATCHES "libavcodec" OR encoderDynamic MATCHES "libQt")
        message(FATAL_ERROR "${encoder} is not the FFmpeg encoder without Qt:\n${encoderDynamic}")
    endif()
    file(SHA256 "${icon}" iconHash)
    file(SHA256 "${SOURCE_DIR}/src/resources/logo.png" logoHash)
    if(NOT iconHash STREQUAL logoHash)
        message(FATAL_ERROR "the icon is not the logo: ${icon}")
    endif()

    file(READ "${entry}" text)
    foreach(line IN ITEMS "[Desktop Entry]\n" "\nType=Application\n" "\nExec=\"${prefix}/bin/kestrune-panel\"\n"
                          "\nIcon=kestrune-panel\n" "\nName=Kestrune Panel\n")
        string(FIND "${text}" "${line}" at)
        if(at EQUAL -1)
            message(FATAL_ERROR "${entry} lacks ${line}:\n${text}")
        endif()
    endforeach()

    # The marker names the prefix and every installed file by its final path (without DESTDIR).
    file(STRINGS "${marker}" lines)
    foreach(line IN ITEMS "prefix=${prefix}" "${prefix}/bin/kestrune-panel" "${prefix}/bin/ktr-videomodule.so"
                          "${prefix}/bin/ktr-videoencoder"
                          "${prefix}/share/applications/kestrune-panel.desktop"
                          "${prefix}/share/icons/hicolor/128x128/apps/kestrune-panel.png"
                          "${prefix}/bin/.kestrune-install-marker")
        list(FIND lines "${line}" at)
        if(at EQUAL -1)
            message(FATAL_ERROR "${marker} lacks ${line}: ${lines}")
        endif()
    endforeach()
endfunction()

# 1. A prefix chosen on the command line, with a space in it.
set(prefix "${WORK_DIR}/my prefix")
execute_process(COMMAND ${CMAKE_COMMAND} --install "${BUILD_DIR}" --prefix "${prefix}"
    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
    message(FATAL_ERROR "cmake --install --prefix failed: ${out}${err}")
endif()
check_tree("" "${prefix}")

# 2. The default prefix, staged below DESTDIR as packagers do.
set(ENV{DESTDIR} "${WORK_DIR}/stage")
execute_process(COMMAND ${CMAKE_COMMAND} --install "${BUILD_DIR}" --prefix /usr/local
    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
unset(ENV{DESTDIR})
if(NOT rc EQUAL 0)
    message(FATAL_ERROR "cmake --install with DESTDIR failed: ${out}${err}")
endif()
check_tree("${WORK_DIR}/stage" "/usr/local")

file(REMOVE_RECURSE "${WORK_DIR}")
message(STATUS "install checks passed")
