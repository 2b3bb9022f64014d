# `cmake --install <build> [--prefix <dir>]` (CMAKE_INSTALL_PREFIX, /usr/local by default; DESTDIR is honoured):
# the executable, stripped, in bin/, its helpers where cmake/KtrLayout.cmake places them (stripped too), its
# desktop entry and the logo in the freedesktop icon theme, then the install marker beside the executable. The
# build tree's copies keep their debug information. The marker tells the program it runs as an installed copy
# (it then keeps the autostart entry in step with its setting) and lists what was installed, for the
# uninstall: every file, and every folder this install made ("dir=" lines), so an uninstall leaves the prefix
# as it was; its name is kInstallMarkerName in src/platform/autostart.h.
set(KTR_INSTALL_MARKER ".kestrune-install-marker")

install(CODE "
    set(_ktr_bindir \"${CMAKE_INSTALL_BINDIR}\")
    set(_ktr_datadir \"${CMAKE_INSTALL_DATADIR}\")
    set(_ktr_encoderdir \"${KTR_INSTALL_ENCODERDIR}\")
    set(_ktr_moduledir \"${KTR_INSTALL_MODULEDIR}\")
    set(_ktr_marker \"${KTR_INSTALL_MARKER}\")
    set(_ktr_version \"${PROJECT_VERSION}\")
    set(_ktr_strip \"${CMAKE_STRIP}\")
")
# Before anything is copied: the folders below the prefix that this install is about to make. Those an earlier
# install made (its marker says so) stay ours.
install(CODE [[
    set(_ktr_root "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}")
    set(_ktr_made "")
    set(_ktr_old_marker "${_ktr_root}/${_ktr_bindir}/${_ktr_marker}")
    if(EXISTS "${_ktr_old_marker}")
        file(STRINGS "${_ktr_old_marker}" _ktr_old_lines)
        foreach(_l IN LISTS _ktr_old_lines)
            if(_l MATCHES "^dir=(.+)$")
                list(APPEND _ktr_made "${CMAKE_MATCH_1}")
            endif()
        endforeach()
    endif()
    foreach(_leaf IN ITEMS "${_ktr_bindir}" "${_ktr_encoderdir}" "${_ktr_moduledir}"
                           "${_ktr_datadir}/applications" "${_ktr_datadir}/icons/hicolor/128x128/apps")
        set(_d "${_leaf}")
        while(NOT _d STREQUAL "" AND NOT _d STREQUAL ".")
            if(NOT IS_DIRECTORY "${_ktr_root}/${_d}")
                list(APPEND _ktr_made "${CMAKE_INSTALL_PREFIX}/${_d}")
            endif()
            get_filename_component(_d "${_d}" DIRECTORY)
        endwhile()
    endforeach()
    list(REMOVE_DUPLICATES _ktr_made)
]])
install(TARGETS kestrune-panel RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS ktr-videoencoder RUNTIME DESTINATION ${KTR_INSTALL_ENCODERDIR})
install(TARGETS ktr-videomodule LIBRARY DESTINATION ${KTR_INSTALL_MODULEDIR})
# The build's debug information is most of the executable's size: the installed copies go without it
# (`cmake --install --strip` strips them already).
install(CODE [[
    if(NOT CMAKE_INSTALL_DO_STRIP)
        if(NOT _ktr_strip)
            message(WARNING "no strip program: the installed files keep their debug information")
        else()
            foreach(_f IN ITEMS "${_ktr_bindir}/kestrune-panel" "${_ktr_encoderdir}/ktr-videoencoder"
                                "${_ktr_moduledir}/ktr-videomodule.so")
                execute_process(COMMAND "${_ktr_strip}" "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/${_f}"
                    RESULT_VARIABLE _rc)
                if(NOT _rc EQUAL 0)
                    message(FATAL_ERROR "strip failed on ${_f}")
                endif()
            endforeach()
        endif()
    endif()
]])
install(FILES ${PROJECT_SOURCE_DIR}/src/resources/logo.png
    DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/128x128/apps RENAME kestrune-panel.png)

# The entry and the marker name the installed executable by its full path, so they are written when the prefix
# is known: at install time.
install(CODE [[
    set(_ktr_exe "${CMAKE_INSTALL_PREFIX}/${_ktr_bindir}/kestrune-panel")
    set(_ktr_entry "${CMAKE_INSTALL_PREFIX}/${_ktr_datadir}/applications/kestrune-panel.desktop")
    set(_ktr_icon "${CMAKE_INSTALL_PREFIX}/${_ktr_datadir}/icons/hicolor/128x128/apps/kestrune-panel.png")
    set(_ktr_marker_path "${CMAKE_INSTALL_PREFIX}/${_ktr_bindir}/${_ktr_marker}")
    # The Exec value quoted as the Desktop Entry standard wants it.
    string(REPLACE "\\" "\\\\" _ktr_exec "${_ktr_exe}")
    foreach(_c "\"" "`" "$")
        string(REPLACE "${_c}" "\\${_c}" _ktr_exec "${_ktr_exec}")
    endforeach()
    string(REPLACE "%" "%%" _ktr_exec "${_ktr_exec}")
    string(REPLACE "\\" "\\\\" _ktr_exec "${_ktr_exec}")
    file(WRITE "$ENV{DESTDIR}${_ktr_entry}"
        "[Desktop Entry]\n"
        "Type=Application\n"
        "Name=Kestrune Panel\n"
        "Name[zh_CN]=青岚舟面板\n"
        "Comment=Keeps desktop icons in named groups inside one panel\n"
        "Comment[zh_CN]=把桌面图标分组收纳在一个面板里\n"
        "Exec=\"${_ktr_exec}\"\n"
        "Icon=kestrune-panel\n"
        "Terminal=false\n"
        "Categories=Utility;\n")
    message(STATUS "Installing: $ENV{DESTDIR}${_ktr_entry}")
    file(WRITE "$ENV{DESTDIR}${_ktr_marker_path}"
        "KestrunePanel ${_ktr_version}\n"
        "prefix=${CMAKE_INSTALL_PREFIX}\n"
        "${_ktr_exe}\n"
        "${CMAKE_INSTALL_PREFIX}/${_ktr_moduledir}/ktr-videomodule.so\n"
        "${CMAKE_INSTALL_PREFIX}/${_ktr_encoderdir}/ktr-videoencoder\n"
        "${_ktr_entry}\n"
        "${_ktr_icon}\n"
        "${_ktr_marker_path}\n")
    # Deepest first, the order they can be removed in.
    list(SORT _ktr_made ORDER DESCENDING)
    foreach(_d IN LISTS _ktr_made)
        file(APPEND "$ENV{DESTDIR}${_ktr_marker_path}" "dir=${_d}\n")
    endforeach()
    message(STATUS "Installing: $ENV{DESTDIR}${_ktr_marker_path}")
]])
