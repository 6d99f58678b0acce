# What `cmake --install` puts where, and the Debian package built from it
# with CPack (scripts/package).
include(GNUInstallDirs)

set(ORBILENS_APP_ID org.orbilens.Viewer)

install(TARGETS orbilens-viewer RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# The simulator, so that an installed viewer can be tried without a box.
install(TARGETS camera-box-sim RUNTIME DESTINATION ${CMAKE_INSTALL_LIBEXECDIR}/orbilens-viewer)

install(FILES ${CMAKE_SOURCE_DIR}/packaging/${ORBILENS_APP_ID}.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${CMAKE_SOURCE_DIR}/packaging/${ORBILENS_APP_ID}.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

# The icon: the SVG itself, and PNGs at the theme's usual sizes.
set(icon_svg ${CMAKE_SOURCE_DIR}/src/platform/assets/orbilens-viewer.svg)
install(FILES ${icon_svg} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps
        RENAME ${ORBILENS_APP_ID}.svg)
set(icon_pngs)
foreach(size 16 24 32 48 64 128 256)
    set(png ${CMAKE_BINARY_DIR}/icons/${size}x${size}/${ORBILENS_APP_ID}.png)
    add_custom_command(OUTPUT ${png}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/icons/${size}x${size}
        COMMAND render-icon ${icon_svg} ${png} ${size}
        DEPENDS render-icon ${icon_svg} VERBATIM)
    list(APPEND icon_pngs ${png})
    install(FILES ${png} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
endforeach()

# The man page, compressed as Debian wants it.
set(man_gz ${CMAKE_BINARY_DIR}/orbilens-viewer.1.gz)
add_custom_command(OUTPUT ${man_gz}
    COMMAND gzip -9n -c ${CMAKE_SOURCE_DIR}/packaging/orbilens-viewer.1 > ${man_gz}
    DEPENDS ${CMAKE_SOURCE_DIR}/packaging/orbilens-viewer.1 VERBATIM)
install(FILES ${man_gz} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
add_custom_target(orbilens_install_files ALL DEPENDS ${icon_pngs} ${man_gz})

install(FILES ${CMAKE_SOURCE_DIR}/README.md ${CMAKE_SOURCE_DIR}/THIRD-PARTY-NOTICES.md
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/orbilens-viewer)
install(FILES ${CMAKE_SOURCE_DIR}/LICENSE DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/orbilens-viewer
        RENAME copyright)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME orbilens-viewer)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Orbilens Viewer developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "live view and capture for the Orbilens telescope camera box")
set(CPACK_PACKAGE_DESCRIPTION
    "Shows the live picture of the Orbilens Wi-Fi camera box on a telescope, sets its white\n"
    "balance, exposure, focus and resolution, and captures photos, H.264 videos and\n"
    "time-lapse recordings. Includes a camera-box simulator for trying it without a box.")
set(CPACK_PACKAGE_FILE_NAME "orbilens-viewer_${PROJECT_VERSION}_amd64")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Orbilens Viewer developers <maintainers@orbilens.invalid>")
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://orbilens.invalid/viewer")
# Libraries the binaries link are found by dpkg-shlibdeps; the Qt plugins are
# loaded at run time, so they are named here: the X11/Wayland platform
# plugins and the SVG icon engine.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, libqt6svg6")
include(CPack)
