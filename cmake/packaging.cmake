# What `cmake --install` puts where, beyond the programs, and the packages
# `cpack` makes of it (scripts/release makes them all into dist/):
#   the Windows build (MinGW-w64): a zip with both programs and the
#     documents at its top, morla_GUI-<version>-windows-x86_64.zip;
#   elsewhere: a Debian package of the command line, morla_<version>_<arch>.deb,
#     with its man page, bash completion and documents.
if(WIN32)
    set(MORLA_DOC_DESTINATION .)
else()
    set(MORLA_DOC_DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/morla)
endif()
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/LICENSE
              ${PROJECT_SOURCE_DIR}/CHANGELOG.md
        DESTINATION ${MORLA_DOC_DESTINATION})

set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "morla_GUI developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "change the loudness of S98 chip-music files")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)
if(WIN32)
    set(CPACK_GENERATOR ZIP)
    set(CPACK_PACKAGE_FILE_NAME morla_GUI-${PROJECT_VERSION}-windows-x86_64)
    # the zip opens into one folder of that name
    set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
else()
    set(CPACK_GENERATOR DEB)
    set(CPACK_PACKAGE_NAME morla)
    set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
    set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
    set(CPACK_DEBIAN_PACKAGE_SECTION sound)
    set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
    set(CPACK_DEBIAN_PACKAGE_MAINTAINER "morla_GUI developers <morla@example.org>")
    # Depends from the libraries the binary links (dpkg-shlibdeps)
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
    string(CONCAT CPACK_PACKAGE_DESCRIPTION
        "morla makes S98 music files (logs of register writes to Yamaha OPNA, OPN\n"
        "and OPN2 FM chips and PSG chips) quieter or louder. It lowers or raises\n"
        "the FM carrier levels, the SSG volumes and the OPNA rhythm level by a\n"
        "fixed amount, brings the loudest level to a chosen value (one file at a\n"
        "time or a whole album), or only reports the peaks. Each file is written\n"
        "to <name>_new.s98 beside it or into a folder. The input is never changed.")
endif()
include(CPack)
