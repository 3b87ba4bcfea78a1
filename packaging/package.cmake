# Installed like other desktop software: the metainfo a software centre shows, the manual page,
# bash completion, and the Debian package made by CPack (`cpack -G DEB` in the build folder).
# The program, its files, the launcher, menu entry and icons are installed by resources/.
include(GNUInstallDirs)

set(GLYPHTACK_PUBLIC_URL "https://github.com/pellorin/glyphtack"
    CACHE STRING "The project's public address, named in the metainfo and the package")
set(GLYPHTACK_APP_ID "io.github.pellorin.glyphtack")
set(GLYPHTACK_DEVELOPER_ID "io.github.pellorin")
set(_packaging_dir ${CMAKE_BINARY_DIR}/packaging)

configure_file(${CMAKE_CURRENT_LIST_DIR}/glyphtack.metainfo.xml.in
               ${_packaging_dir}/${GLYPHTACK_APP_ID}.metainfo.xml @ONLY)

# Manual pages are installed compressed, as man finds them on every distribution.
find_program(GLYPHTACK_GZIP gzip)
if(GLYPHTACK_GZIP)
    add_custom_command(
        OUTPUT ${_packaging_dir}/glyphtack.1.gz
        COMMAND ${GLYPHTACK_GZIP} -9nc ${CMAKE_CURRENT_LIST_DIR}/glyphtack.1 >
                ${_packaging_dir}/glyphtack.1.gz
        DEPENDS ${CMAKE_CURRENT_LIST_DIR}/glyphtack.1
        COMMENT "Compressing the manual page")
    add_custom_target(glyphtack_manual ALL DEPENDS ${_packaging_dir}/glyphtack.1.gz)
    set(_manual ${_packaging_dir}/glyphtack.1.gz)
else()
    set(_manual ${CMAKE_CURRENT_LIST_DIR}/glyphtack.1)
endif()

# The package's changelog, made from the hand-kept release notes, and its copyright file: where
# Debian keeps them, compressed without a time stamp.
set(GLYPHTACK_PACKAGE_REVISION 1)
set(CPACK_PACKAGE_CONTACT "Pellorin <glyphtack@pellorin.invalid>")
if(GLYPHTACK_GZIP)
    add_custom_command(
        OUTPUT ${_packaging_dir}/changelog.Debian.gz
        COMMAND ${CMAKE_COMMAND} -DIN=${CMAKE_SOURCE_DIR}/CHANGELOG.md
                -DOUT=${_packaging_dir}/changelog.Debian -DPACKAGE=glyphtack
                -DREVISION=${GLYPHTACK_PACKAGE_REVISION} -DMAINTAINER=${CPACK_PACKAGE_CONTACT}
                -P ${CMAKE_CURRENT_LIST_DIR}/debian_changelog.cmake
        COMMAND ${GLYPHTACK_GZIP} -9nf ${_packaging_dir}/changelog.Debian
        DEPENDS ${CMAKE_SOURCE_DIR}/CHANGELOG.md ${CMAKE_CURRENT_LIST_DIR}/debian_changelog.cmake
        COMMENT "Making the package's changelog from CHANGELOG.md"
        VERBATIM)
    add_custom_target(glyphtack_changelog ALL DEPENDS ${_packaging_dir}/changelog.Debian.gz)
endif()

if(UNIX AND NOT APPLE)
    if(GLYPHTACK_GZIP)
        install(FILES ${_packaging_dir}/changelog.Debian.gz
                DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/glyphtack)
    endif()
    install(FILES ${CMAKE_CURRENT_LIST_DIR}/copyright
            DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/glyphtack)
    install(FILES ${CMAKE_CURRENT_LIST_DIR}/lintian-overrides
            DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/lintian/overrides RENAME glyphtack)
    install(FILES ${_packaging_dir}/${GLYPHTACK_APP_ID}.metainfo.xml
            DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
    install(FILES ${_manual} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
    install(FILES ${CMAKE_CURRENT_LIST_DIR}/glyphtack.bash-completion
            DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME glyphtack)
endif()

# The Debian package. Its dependencies come from dpkg-shlibdeps, at packaging time
# (CPackProjectConfig.cmake), run once on the program and the JPG converter inside it, which
# the program writes out and runs, so the libraries it needs are not seen in the program itself.
set(CPACK_PACKAGE_NAME glyphtack)
set(CPACK_PACKAGE_VENDOR Pellorin)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "write text onto a picture")
# Lines of at most 79 characters: the package shows each after a blank.
set(CPACK_PACKAGE_DESCRIPTION
    "Glyphtack loads a picture (a photo from a phone too: HEIC, AVIF, JPEG XL),
places and styles text on it in a floating box, stamps the text into the pixels
and saves the result as BMP, PNG or JPG, keeping the photo's colour profile and
camera data. The command glyphtack caption stamps a caption onto many pictures
without a window, and splits a whole archive over several machines.")
set(CPACK_PACKAGE_HOMEPAGE_URL ${GLYPHTACK_PUBLIC_URL})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_RELEASE ${GLYPHTACK_PACKAGE_REVISION})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
# The dependencies are read from the program and its converter together (below), so that a
# library both use is named once.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS OFF)
set(CPACK_PROJECT_CONFIG_FILE ${_packaging_dir}/CPackProjectConfig.cmake)
file(GENERATE OUTPUT ${_packaging_dir}/CPackProjectConfig.cmake CONTENT
"# Written by packaging/package.cmake: the package's dependencies, the program's and the converter's.
if(CPACK_GENERATOR STREQUAL \"DEB\")
    set(_work \"${_packaging_dir}/shlibdeps\")
    file(WRITE \"\${_work}/debian/control\" \"Source: glyphtack\\n\\nPackage: glyphtack\\nArchitecture: any\\n\")
    execute_process(
        COMMAND dpkg-shlibdeps -O --ignore-missing-info -e \"$<TARGET_FILE:glyphtack>\"
                -e \"$<TARGET_FILE:glyphtack-converter>\"
        WORKING_DIRECTORY \"\${_work}\"
        OUTPUT_VARIABLE _depends OUTPUT_STRIP_TRAILING_WHITESPACE
        ERROR_QUIET
        RESULT_VARIABLE _result)
    if(NOT _result EQUAL 0 OR NOT _depends MATCHES \"^shlibs:Depends=\")
        message(FATAL_ERROR \"dpkg-shlibdeps could not read the libraries of the program and its converter\")
    endif()
    string(REGEX REPLACE \"^shlibs:Depends=\" \"\" CPACK_DEBIAN_PACKAGE_DEPENDS \"\${_depends}\")
endif()
")
include(CPack)
