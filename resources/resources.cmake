# The program's own resource files: a sample picture, the hand cursor and the program icon.
# They are drawn at build time by our generator (resources/make_resources.cpp) into
# ${GLYPHTACK_RESOURCE_DIR}, then copied beside the program and installed with it.
include(GNUInstallDirs)

set(GLYPHTACK_RESOURCES_SOURCE_DIR ${CMAKE_CURRENT_LIST_DIR})
set(GLYPHTACK_RESOURCE_DIR ${CMAKE_BINARY_DIR}/generated-resources)

# The core library collects resources/*.cpp; the generator has its own main() and stays out.
get_target_property(_glyphtack_core_sources glyphtack_core SOURCES)
list(FILTER _glyphtack_core_sources EXCLUDE REGEX "/resources/make_resources\\.cpp$")
set_property(TARGET glyphtack_core PROPERTY SOURCES ${_glyphtack_core_sources})

add_executable(glyphtack-make-resources
    ${GLYPHTACK_RESOURCES_SOURCE_DIR}/make_resources.cpp
    ${GLYPHTACK_RESOURCES_SOURCE_DIR}/generator/Artwork.cpp
    ${GLYPHTACK_RESOURCES_SOURCE_DIR}/generator/Artwork.h
    ${GLYPHTACK_RESOURCES_SOURCE_DIR}/generator/Landscape.cpp
    ${GLYPHTACK_RESOURCES_SOURCE_DIR}/generator/Landscape.h
    ${GLYPHTACK_RESOURCES_SOURCE_DIR}/generator/Noise.h)
target_include_directories(glyphtack-make-resources PRIVATE ${GLYPHTACK_RESOURCES_SOURCE_DIR})
target_link_libraries(glyphtack-make-resources PRIVATE Qt6::Gui)
set_target_properties(glyphtack-make-resources PROPERTIES AUTOMOC OFF AUTOUIC OFF AUTORCC OFF)

set(GLYPHTACK_SAMPLE_JPG ${GLYPHTACK_RESOURCE_DIR}/sample.jpg)
set(GLYPHTACK_HAND_CURSOR ${GLYPHTACK_RESOURCE_DIR}/HAND-M.CUR)
set(GLYPHTACK_ICON_PNG ${GLYPHTACK_RESOURCE_DIR}/glyphtack.png)
set(GLYPHTACK_ICON_ICO ${GLYPHTACK_RESOURCE_DIR}/glyphtack.ico)
set(GLYPHTACK_ICON_SIZES 16 24 32 48 64 128)
set(GLYPHTACK_ICON_PNGS)
foreach(_size IN LISTS GLYPHTACK_ICON_SIZES)
    list(APPEND GLYPHTACK_ICON_PNGS ${GLYPHTACK_RESOURCE_DIR}/glyphtack-${_size}.png)
endforeach()
add_custom_command(
    OUTPUT ${GLYPHTACK_SAMPLE_JPG} ${GLYPHTACK_HAND_CURSOR} ${GLYPHTACK_ICON_PNG} ${GLYPHTACK_ICON_ICO}
           ${GLYPHTACK_ICON_PNGS}
    COMMAND glyphtack-make-resources ${GLYPHTACK_RESOURCE_DIR}
    DEPENDS glyphtack-make-resources
    COMMENT "Drawing the sample picture, hand cursor and program icon"
    VERBATIM)
# Every consumer of the generated files depends on this one target, so that the generator
# runs once even in parallel builds.
add_custom_target(glyphtack_resources
    DEPENDS ${GLYPHTACK_SAMPLE_JPG} ${GLYPHTACK_HAND_CURSOR} ${GLYPHTACK_ICON_PNG} ${GLYPHTACK_ICON_ICO}
            ${GLYPHTACK_ICON_PNGS})

# The icon compiled into the core library as ":/icons/glyphtack.png" (see ProgramIcon.cpp).
qt_add_resources(glyphtack_core "icons"
    PREFIX "/icons"
    BASE ${GLYPHTACK_RESOURCE_DIR}
    FILES ${GLYPHTACK_ICON_PNG}
    OUTPUT_TARGETS _glyphtack_icon_targets)
add_dependencies(glyphtack_core glyphtack_resources)
foreach(_icon_target IN LISTS _glyphtack_icon_targets)
    add_dependencies(${_icon_target} glyphtack_resources)
endforeach()

install(FILES ${GLYPHTACK_ICON_PNG}
    DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/256x256/apps)
foreach(_size IN LISTS GLYPHTACK_ICON_SIZES)
    install(FILES ${GLYPHTACK_RESOURCE_DIR}/glyphtack-${_size}.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${_size}x${_size}/apps
            RENAME glyphtack.png)
endforeach()

# Files the program reads from its own folder, placed beside the executable at build time
# (so that it works straight from the build folder) and beside the installed program.
function(glyphtack_place_program_files target)
    get_target_property(dir ${target} RUNTIME_OUTPUT_DIRECTORY)
    if(NOT dir)
        set(dir ${CMAKE_CURRENT_BINARY_DIR})
    endif()
    set(sample ${dir}/Samples/sample.jpg)
    set(cursor ${dir}/HAND-M.CUR)
    # Plain copies followed by touch: the copies must always be newer than their sources.
    add_custom_command(
        OUTPUT ${sample} ${cursor}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${dir}/Samples
        COMMAND ${CMAKE_COMMAND} -E copy ${GLYPHTACK_SAMPLE_JPG} ${sample}
        COMMAND ${CMAKE_COMMAND} -E copy ${GLYPHTACK_HAND_CURSOR} ${cursor}
        COMMAND ${CMAKE_COMMAND} -E touch ${sample} ${cursor}
        DEPENDS ${GLYPHTACK_SAMPLE_JPG} ${GLYPHTACK_HAND_CURSOR}
        COMMENT "Placing the sample picture and hand cursor beside ${target}"
        VERBATIM)
    add_custom_target(${target}_program_files DEPENDS ${sample} ${cursor})
    add_dependencies(${target}_program_files glyphtack_resources)
    add_dependencies(${target} ${target}_program_files)

    # Installed, they go with the other read-only data; the program finds them there too.
    install(FILES ${GLYPHTACK_SAMPLE_JPG} DESTINATION ${GLYPHTACK_INSTALL_DATA}/Samples)
    install(FILES ${GLYPHTACK_HAND_CURSOR} DESTINATION ${GLYPHTACK_INSTALL_DATA})
endfunction()

# The installed program's read-only files (RealServices::dataFolder), and the way there from the
# program's own folder, which keeps the install tree relocatable.
set(GLYPHTACK_INSTALL_DATA ${CMAKE_INSTALL_DATADIR}/glyphtack)
file(RELATIVE_PATH _glyphtack_data_from_program ${CMAKE_INSTALL_FULL_LIBDIR}/glyphtack
     ${CMAKE_INSTALL_FULL_DATADIR}/glyphtack)
set_property(SOURCE ${CMAKE_SOURCE_DIR}/platform/RealServices.cpp TARGET_DIRECTORY glyphtack_core
             APPEND PROPERTY COMPILE_DEFINITIONS
             GLYPHTACK_DATA_FROM_PROGRAM="${_glyphtack_data_from_program}")

# The launcher on PATH and the desktop menu entry.
include(${CMAKE_CURRENT_LIST_DIR}/desktop.cmake)
