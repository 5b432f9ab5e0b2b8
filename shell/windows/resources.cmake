# The executable's resources: the icon, drawn by koravex-make-icons, and the version record.
# The icon tool must run on the build machine: it is built for the host by a nested build of
# this tree (or taken from KORAVEX_HOST_MAKE_ICONS, a host koravex-make-icons).
enable_language(RC)
set(KORAVEX_HOST_MAKE_ICONS "" CACHE FILEPATH "koravex-make-icons built for the build machine")

set(KORAVEX_ICO ${CMAKE_CURRENT_BINARY_DIR}/koravex.ico)
if(KORAVEX_HOST_MAKE_ICONS)
    set(_make_icons ${KORAVEX_HOST_MAKE_ICONS})
    set(_make_icons_dep ${KORAVEX_HOST_MAKE_ICONS})
else()
    include(ExternalProject)
    set(_host ${CMAKE_BINARY_DIR}/host-tools)
    ExternalProject_Add(koravex_host_tools
        SOURCE_DIR ${PROJECT_SOURCE_DIR}
        BINARY_DIR ${_host}
        CMAKE_ARGS -G Ninja -DCMAKE_BUILD_TYPE=Release
                   -DKORAVEX_BUILD_TESTS=OFF -DKORAVEX_BUILD_BENCH=OFF
                   -DCMAKE_C_COMPILER_LAUNCHER=${CMAKE_C_COMPILER_LAUNCHER}
                   -DCMAKE_CXX_COMPILER_LAUNCHER=${CMAKE_CXX_COMPILER_LAUNCHER}
        BUILD_COMMAND ${CMAKE_COMMAND} --build ${_host} --target koravex-make-icons
        BUILD_ALWAYS ON
        BUILD_BYPRODUCTS ${_host}/tools/make_icons/koravex-make-icons
        INSTALL_COMMAND "")
    set(_make_icons ${_host}/tools/make_icons/koravex-make-icons)
    set(_make_icons_dep koravex_host_tools)
endif()
add_custom_command(OUTPUT ${KORAVEX_ICO}
    COMMAND ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen ${_make_icons} --ico ${KORAVEX_ICO}
    DEPENDS ${_make_icons_dep}
    COMMENT "Drawing koravex.ico" VERBATIM)
add_custom_target(koravex_ico_file DEPENDS ${KORAVEX_ICO})

set(KORAVEX_RC ${CMAKE_CURRENT_BINARY_DIR}/koravex.rc)
configure_file(${CMAKE_CURRENT_SOURCE_DIR}/koravex.rc.in ${KORAVEX_RC} @ONLY)
set_source_files_properties(${KORAVEX_RC} PROPERTIES OBJECT_DEPENDS ${KORAVEX_ICO})
