# Writes the two documents every Debian package carries in
# /usr/share/doc/<package>, at build time:
#
#   cmake -DSOURCE=<project source> -DOUTPUT=<folder> -DVERSION=<version>
#         -DMAINTAINER=<name <mail>> -P deb_documents.cmake
#
#   copyright     machine-readable (DEP-5): the project's licence, and a
#                 section per library vendored under third_party/
#   changelog.gz  a Debian changelog of one entry for this version, pointing
#                 to CHANGELOG.md (the changes in full, installed beside it)
foreach(setting SOURCE OUTPUT VERSION MAINTAINER)
    if(NOT DEFINED ${setting})
        message(FATAL_ERROR "deb_documents.cmake: ${setting} is not set")
    endif()
endforeach()
include(${CMAKE_CURRENT_LIST_DIR}/gzip_file.cmake)

# A licence text as a DEP-5 field's continuation lines: each line indented by
# one space, an empty line written " .".
function(license_body file variable)
    file(READ "${file}" text)
    string(STRIP "${text}" text)
    string(REGEX REPLACE "\n[ \t]*\n" "\n.\n" text "${text}")
    string(REGEX REPLACE "\n[ \t]*\n" "\n.\n" text "${text}")
    string(REPLACE "\n" "\n " text "${text}")
    set(${variable} " ${text}" PARENT_SCOPE)
endfunction()

license_body("${SOURCE}/LICENSE" morla_license)
license_body("${SOURCE}/third_party/ymfm/LICENSE" ymfm_license)
license_body("${SOURCE}/third_party/libebur128/COPYING" ebur128_license)
license_body("${SOURCE}/third_party/libebur128/doc/license/queue.txt" queue_license)

# Each section carries its licence's full text, as its files do.
file(WRITE "${OUTPUT}/copyright.new"
"Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
Upstream-Name: morla
Upstream-Contact: ${MAINTAINER}

Files: *
Copyright: 2026 the morla_GUI developers
License: Expat
${morla_license}

Files: third_party/ymfm/*
Copyright: 2021 Aaron Giles
License: BSD-3-Clause
${ymfm_license}
Comment: ymfm, the Yamaha FM chip emulators, vendored unchanged
 (https://github.com/aaronsgiles/ymfm).

Files: third_party/libebur128/*
Copyright: 2011 Jan Kokemüller
License: Expat
${ebur128_license}
Comment: libebur128, EBU R 128 loudness measurement, vendored unchanged
 (https://github.com/jiixyj/libebur128).

Files: third_party/libebur128/ebur128/queue/*
Copyright: 1991, 1993 The Regents of the University of California
License: BSD-3-Clause
${queue_license}
")
file(RENAME "${OUTPUT}/copyright.new" "${OUTPUT}/copyright")

# The date of the entry: SOURCE_DATE_EPOCH when the build sets it, so that a
# release built twice is the same.
string(TIMESTAMP date "%a, %d %b %Y %H:%M:%S +0000" UTC)
file(WRITE "${OUTPUT}/changelog"
"morla (${VERSION}) unstable; urgency=medium

  * Release ${VERSION}. The changes are listed in full in CHANGELOG.md,
    installed beside this file.

 -- ${MAINTAINER}  ${date}
")
gzip_file("${OUTPUT}/changelog" "${OUTPUT}/changelog.gz")
file(REMOVE "${OUTPUT}/changelog")
