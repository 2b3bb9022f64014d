# Where `cmake --install` puts the program's files, below the prefix, as the file-system hierarchy has them:
# the executable in bin/, the encoder's program (run by the executable, never by the user) in libexec/kestrune/,
# the video module (opened by the executable) in lib/kestrune/. The executable finds both relative to its own
# folder, so the prefix chosen at install time (or a DESTDIR) does not matter.
include(GNUInstallDirs)
set(KTR_INSTALL_ENCODERDIR "${CMAKE_INSTALL_LIBEXECDIR}/kestrune")
set(KTR_INSTALL_MODULEDIR "${CMAKE_INSTALL_LIBDIR}/kestrune")
file(RELATIVE_PATH KTR_ENCODER_DIR_FROM_BIN "/p/${CMAKE_INSTALL_BINDIR}" "/p/${KTR_INSTALL_ENCODERDIR}")
file(RELATIVE_PATH KTR_MODULE_DIR_FROM_BIN "/p/${CMAKE_INSTALL_BINDIR}" "/p/${KTR_INSTALL_MODULEDIR}")
foreach(_ktr_dir CMAKE_INSTALL_BINDIR CMAKE_INSTALL_LIBDIR CMAKE_INSTALL_LIBEXECDIR)
    if(IS_ABSOLUTE "${${_ktr_dir}}")
        message(FATAL_ERROR "${_ktr_dir} must be relative to the prefix (the program finds its files from its own folder)")
    endif()
endforeach()
