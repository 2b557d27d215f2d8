# What `cmake --install` puts where, beyond the programs, and the packages
# `cpack` makes of it (scripts/release makes them all into dist/):
#   the Windows build (MinGW-w64): a zip with both programs and the
#     documents at its top (the README's docs/ beside it),
#     morla_GUI-<version>-windows-x86_64.zip;
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
# The documents the README links (docs/building.md, the screenshot, ...),
# in a docs/ beside it, so that its links work where it is installed.
install(DIRECTORY ${PROJECT_SOURCE_DIR}/docs DESTINATION ${MORLA_DOC_DESTINATION})
set(MORLA_MAINTAINER "morla_GUI developers <morla@example.org>")
if(WIN32)
    # The licences of the libraries built into the programs, beside LICENSE.
    install(FILES ${PROJECT_SOURCE_DIR}/third_party/ymfm/LICENSE
            DESTINATION ${MORLA_DOC_DESTINATION} RENAME LICENSE.ymfm.txt)
    install(FILES ${PROJECT_SOURCE_DIR}/third_party/libebur128/COPYING
            DESTINATION ${MORLA_DOC_DESTINATION} RENAME LICENSE.libebur128.txt)
    install(FILES ${PROJECT_SOURCE_DIR}/third_party/libebur128/doc/license/queue.txt
            DESTINATION ${MORLA_DOC_DESTINATION} RENAME LICENSE.libebur128-queue.txt)
else()
    # Debian's own two documents: the machine-readable copyright (the
    # project's licence and each vendored library's) and changelog.gz.
    set(deb_documents ${PROJECT_BINARY_DIR}/deb-documents)
    add_custom_command(
        OUTPUT ${deb_documents}/copyright ${deb_documents}/changelog.gz
        COMMAND ${CMAKE_COMMAND} -E make_directory ${deb_documents}
        COMMAND ${CMAKE_COMMAND} -DSOURCE=${PROJECT_SOURCE_DIR} -DOUTPUT=${deb_documents}
                -DVERSION=${PROJECT_VERSION} "-DMAINTAINER=${MORLA_MAINTAINER}"
                -P ${PROJECT_SOURCE_DIR}/cmake/deb_documents.cmake
        DEPENDS ${PROJECT_SOURCE_DIR}/cmake/deb_documents.cmake
                ${PROJECT_SOURCE_DIR}/cmake/gzip_file.cmake ${PROJECT_SOURCE_DIR}/LICENSE
                ${PROJECT_SOURCE_DIR}/third_party/ymfm/LICENSE
                ${PROJECT_SOURCE_DIR}/third_party/libebur128/COPYING
        VERBATIM)
    add_custom_target(morla_deb_documents ALL
                      DEPENDS ${deb_documents}/copyright ${deb_documents}/changelog.gz)
    install(FILES ${deb_documents}/copyright ${deb_documents}/changelog.gz
            DESTINATION ${MORLA_DOC_DESTINATION})
endif()

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
    set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${MORLA_MAINTAINER}")
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
