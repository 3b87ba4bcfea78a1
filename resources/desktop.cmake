# Desktop integration for freedesktop.org systems (Linux and the BSDs): a launcher on PATH and a
# menu entry. The program itself stays in <libdir>/glyphtack with the files it reads beside it;
# bin/glyphtack is a relative symbolic link to it, which keeps the install tree relocatable. The
# program finds its files through QCoreApplication::applicationDirPath, which follows the link
# (it reads /proc/self/exe), so starting it through the launcher finds them too.
include(GNUInstallDirs)

if(UNIX AND NOT APPLE)
    install(FILES ${CMAKE_CURRENT_LIST_DIR}/glyphtack.desktop
            DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)

    file(RELATIVE_PATH _glyphtack_launcher_target ${CMAKE_INSTALL_FULL_BINDIR}
         ${CMAKE_INSTALL_FULL_LIBDIR}/glyphtack/glyphtack)
    if(IS_ABSOLUTE "${CMAKE_INSTALL_BINDIR}")
        set(_glyphtack_bindir "${CMAKE_INSTALL_BINDIR}")
    else()
        set(_glyphtack_bindir "\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}")
    endif()
    install(CODE "
        set(_launcher \"\$ENV{DESTDIR}${_glyphtack_bindir}/glyphtack\")
        message(STATUS \"Installing: \${_launcher} -> ${_glyphtack_launcher_target}\")
        get_filename_component(_launcher_dir \"\${_launcher}\" DIRECTORY)
        file(MAKE_DIRECTORY \"\${_launcher_dir}\")
        file(REMOVE \"\${_launcher}\")
        file(CREATE_LINK \"${_glyphtack_launcher_target}\" \"\${_launcher}\" SYMBOLIC)
        list(APPEND CMAKE_INSTALL_MANIFEST_FILES \"\${_launcher}\")
    ")
endif()
