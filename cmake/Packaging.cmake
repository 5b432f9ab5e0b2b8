# Install rules for the desktop integration, and the Debian package (CPack).
include(GNUInstallDirs)

set(KORAVEX_GEN_DIR ${PROJECT_BINARY_DIR}/packaging)
file(MAKE_DIRECTORY ${KORAVEX_GEN_DIR})

install(FILES resources/koravex.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES resources/example.tarquel.koravex.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

# Manual pages and the Debian changelog are installed compressed, without time stamps.
set(_koravex_gz)
foreach(page koravex-snapshot koravex)
    set(src ${PROJECT_SOURCE_DIR}/docs/man/${page}.1)
    set(out ${KORAVEX_GEN_DIR}/${page}.1.gz)
    add_custom_command(OUTPUT ${out} COMMAND gzip -9n -c ${src} > ${out} DEPENDS ${src} VERBATIM)
    list(APPEND _koravex_gz ${out})
    install(FILES ${out} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()
set(_changelog ${KORAVEX_GEN_DIR}/changelog.gz)
add_custom_command(OUTPUT ${_changelog}
    COMMAND gzip -9n -c ${PROJECT_SOURCE_DIR}/packaging/changelog > ${_changelog}
    DEPENDS ${PROJECT_SOURCE_DIR}/packaging/changelog VERBATIM)
add_custom_target(koravex_packaging_files ALL DEPENDS ${_koravex_gz} ${_changelog})
install(FILES ${_changelog} packaging/copyright DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/koravex)

# The application icon in the hicolor theme, drawn by the program's own icon code.
if(TARGET koravex-make-icons)
    set(_icons ${KORAVEX_GEN_DIR}/icons)
    add_custom_command(OUTPUT ${_icons}/stamp
        COMMAND ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen
                $<TARGET_FILE:koravex-make-icons> ${_icons}
        COMMAND ${CMAKE_COMMAND} -E touch ${_icons}/stamp
        DEPENDS koravex-make-icons VERBATIM)
    add_custom_target(koravex_icons ALL DEPENDS ${_icons}/stamp)
    install(DIRECTORY ${_icons}/ DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor
            FILES_MATCHING PATTERN "*.png")
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME koravex)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR Tarquel)
set(CPACK_PACKAGE_CONTACT "Tarquel <dev@tarquel.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "tray monitor of memory, disk space and network interfaces")
set(CPACK_PACKAGE_DESCRIPTION "Koravex stays in the notification area and shows, in one small
always-on-top window, memory, the space of a chosen drive and the network
interfaces, and warns with a beep and a balloon when a watched drive runs
low on free space. koravex-snapshot prints the same figures for scripts.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://www.tarquel.example/")
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
include(CPack)
