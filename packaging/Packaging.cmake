# What an installed copy holds besides the programs and libraries (whose
# install rules sit beside their targets), and the Debian package of it all:
# `make package` (cpack) writes vtfile_<version>_amd64.deb into the build
# folder.

set(VT_PACKAGING_DIR ${CMAKE_CURRENT_LIST_DIR})
set(VT_PACKAGE_MAINTAINER "Vantrel File Manager developers <vtfile@vantrel.example>"
    CACHE STRING "The package's maintainer: name <address>")

# The desktop entry and its icon: the drawing, and PNGs rendered from it
# (tools/render-icons.sh) for desktops that take no SVG.
install(FILES ${VT_PACKAGING_DIR}/vtfilemgr.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${VT_PACKAGING_DIR}/icons/vtfilemgr.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
foreach(size 48 256)
  install(FILES ${VT_PACKAGING_DIR}/icons/vtfilemgr-${size}.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
          RENAME vtfilemgr.png)
endforeach()

# Example systemd units for unattended runs of vtfilemgr-cli.
install(FILES ${VT_PACKAGING_DIR}/systemd/vtfile-filelist.service
              ${VT_PACKAGING_DIR}/systemd/vtfile-filelist.timer
              ${VT_PACKAGING_DIR}/systemd/vtfile-tic.service
              ${VT_PACKAGING_DIR}/systemd/vtfile-tic.timer
        DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples)

# The Debian documents: the copyright and the changelog, with the project's
# version and maintainer, gzipped and named as Debian wants it for a package
# whose version has no Debian revision (changelog.gz).
configure_file(${VT_PACKAGING_DIR}/changelog.in ${CMAKE_BINARY_DIR}/packaging/changelog @ONLY)
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/packaging/changelog.gz
  COMMAND gzip -9 -n -c ${CMAKE_BINARY_DIR}/packaging/changelog
          > ${CMAKE_BINARY_DIR}/packaging/changelog.gz
  DEPENDS ${CMAKE_BINARY_DIR}/packaging/changelog
  VERBATIM)
add_custom_target(vt_changelog ALL DEPENDS ${CMAKE_BINARY_DIR}/packaging/changelog.gz)
install(FILES ${VT_PACKAGING_DIR}/copyright ${CMAKE_BINARY_DIR}/packaging/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DOCDIR})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vtfile)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Vantrel")
set(CPACK_PACKAGE_CONTACT ${VT_PACKAGE_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "file database manager for a BBS")
set(CPACK_PACKAGE_DESCRIPTION
    "Vantrel File Manager keeps the file database of a BBS: its file areas, the file
records in them and the files they describe. The window program (vtfilemgr)
browses, edits, moves, deletes and adds records and files, lists the records a
filter matches and writes file lists; vtfilemgr-cli runs the same work
unattended, for cron and systemd timers; wcsrv-admin sets up a BBS and fills it
with demo data. The file base is kept in SQLite or on a PostgreSQL server.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${VT_PACKAGE_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# dpkg-shlibdeps finds the private libraries in the package itself.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_INSTALL_PREFIX}/${VT_INSTALL_PRIVATE_LIBDIR})
include(CPack)
