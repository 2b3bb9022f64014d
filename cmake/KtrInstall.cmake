# `cmake --install <build> [--prefix <dir>]` (CMAKE_INSTALL_PREFIX, /usr/local by default; DESTDIR is honoured):
# the executable, its desktop entry and the logo in the freedesktop icon theme, then the install marker beside
# the executable. The marker tells the program it runs as an installed copy (it then keeps the autostart entry in
# step with its setting) and lists what was installed, for the uninstall; its name is kInstallMarkerName in
# src/platform/autostart.h.
include(GNUInstallDirs)

set(KTR_INSTALL_MARKER ".kestrune-install-marker")

install(TARGETS kestrune-panel RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PROJECT_SOURCE_DIR}/src/resources/logo.png
    DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/128x128/apps RENAME kestrune-panel.png)

# The entry and the marker name the installed executable by its full path, so they are written when the prefix
# is known: at install time.
install(CODE "
    set(_ktr_bindir \"${CMAKE_INSTALL_BINDIR}\")
    set(_ktr_datadir \"${CMAKE_INSTALL_DATADIR}\")
    set(_ktr_marker \"${KTR_INSTALL_MARKER}\")
    set(_ktr_version \"${PROJECT_VERSION}\")
")
install(CODE [[
    set(_ktr_exe "${CMAKE_INSTALL_PREFIX}/${_ktr_bindir}/kestrune-panel")
    set(_ktr_entry "${CMAKE_INSTALL_PREFIX}/${_ktr_datadir}/applications/kestrune-panel.desktop")
    set(_ktr_icon "${CMAKE_INSTALL_PREFIX}/${_ktr_datadir}/icons/hicolor/128x128/apps/kestrune-panel.png")
    set(_ktr_marker_path "${CMAKE_INSTALL_PREFIX}/${_ktr_bindir}/${_ktr_marker}")
    # The Exec value quoted as the Desktop Entry specification wants it.
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
        "${CMAKE_INSTALL_PREFIX}/${_ktr_bindir}/ktr-videomodule.so\n"
        "${CMAKE_INSTALL_PREFIX}/${_ktr_bindir}/ktr-videoencoder\n"
        "${_ktr_entry}\n"
        "${_ktr_icon}\n"
        "${_ktr_marker_path}\n")
    message(STATUS "Installing: $ENV{DESTDIR}${_ktr_marker_path}")
]])
