# The Debian package, made by `cpack -G DEB` in the build tree: the window,
# the command-line tool, the menu entry, the icon and the manual pages, with
# the library dependencies read from the binaries (dpkg-shlibdeps).
# Folders as Debian has them, whatever the umask of the build.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ
                                                 GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(TAVRA_PACKAGE_DOCS ${CMAKE_INSTALL_DATADIR}/doc/tavra-pdf-signer)
# Debian wants the manual pages and the changelog compressed, reproducibly.
foreach(page tavrapdf tavrapdfsg)
  add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/package/${page}.1.gz
                     COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/package
                     COMMAND gzip -9n -c ${PROJECT_SOURCE_DIR}/data/man/${page}.1 >
                             ${PROJECT_BINARY_DIR}/package/${page}.1.gz
                     DEPENDS ${PROJECT_SOURCE_DIR}/data/man/${page}.1)
endforeach()
add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/package/changelog.gz
                   COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/package
                   COMMAND gzip -9n -c ${PROJECT_SOURCE_DIR}/data/debian/changelog >
                           ${PROJECT_BINARY_DIR}/package/changelog.gz
                   DEPENDS ${PROJECT_SOURCE_DIR}/data/debian/changelog)
add_custom_target(package_files ALL
                  DEPENDS ${PROJECT_BINARY_DIR}/package/tavrapdf.1.gz
                          ${PROJECT_BINARY_DIR}/package/tavrapdfsg.1.gz
                          ${PROJECT_BINARY_DIR}/package/changelog.gz)

install(TARGETS tavrapdf RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PROJECT_BINARY_DIR}/package/tavrapdf.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES data/debian/copyright ${PROJECT_BINARY_DIR}/package/changelog.gz
        DESTINATION ${TAVRA_PACKAGE_DOCS})
if(TAVRA_GUI)
  install(TARGETS tavrapdfsg RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES data/tavrapdfsg.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES data/icons/tavrapdfsg.svg
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
  install(FILES ${PROJECT_BINARY_DIR}/package/tavrapdfsg.1.gz
          DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tavra-pdf-signer)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Tavra PDF Signer developers <maintainers@tavra.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "sign PDF documents with a certificate from the NSS store")
set(CPACK_PACKAGE_DESCRIPTION
    "Tavra PDF Signer puts a detached PKCS#7 signature into an existing PDF\n\
as an incremental update, with a certificate and key from the NSS\n\
certificate database that web browsers use, or from a smart card or token\n\
registered in it. It comes as a Czech window (tavrapdfsg) and a\n\
command-line tool (tavrapdf) that also inspects and verifies PDF files and\n\
signs many documents in one run.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Opening files and links with the desktop's programs.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "xdg-utils")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
