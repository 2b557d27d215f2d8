# Writes the man page of morla with help2man, at build time:
#
#   cmake -DHELP2MAN=<help2man> -DPROGRAM=<built morla> -DINCLUDE=<morla.h2m>
#         -DNAME=<NAME line> -DOUTPUT=<morla.1> -P man_page.cmake
#
# It writes morla.1 and its compressed copy morla.1.gz.
#
# help2man runs `morla --help`. The version comes from the first line of
# `morla --version`, given as --version-string: the second line names the
# decoder of the machine that builds, which has no place in the page. The
# footer names the program and its version ("morla 1.1.0"), short enough to
# leave room for the date beside it.
foreach(setting HELP2MAN PROGRAM INCLUDE NAME OUTPUT)
    if(NOT DEFINED ${setting})
        message(FATAL_ERROR "man_page.cmake: ${setting} is not set")
    endif()
endforeach()

# A decoder setting of the builder's own would make morla stop with a usage
# error before it reads --help; the jobs count is unset alike.
unset(ENV{MORLA_DECODER})
unset(ENV{MORLA_JOBS})

execute_process(COMMAND "${PROGRAM}" --version
                OUTPUT_VARIABLE version_text
                RESULT_VARIABLE status)
string(REGEX MATCH "^[^\n]+" version_line "${version_text}")
string(REGEX MATCH "^morla [^ ]+" source "${version_line}")
if(NOT status EQUAL 0 OR NOT source)
    message(FATAL_ERROR "'${PROGRAM} --version' failed (${status}): ${version_text}")
endif()

# help2man starts the program through the shell, unquoted: run it from its
# own folder, so a build folder with spaces in its path does no harm.
get_filename_component(program_folder "${PROGRAM}" DIRECTORY)
get_filename_component(program_name "${PROGRAM}" NAME)

# Into a new file first: a failed run must not leave a page that looks up to
# date to the build. help2man says nothing on success; anything it says (a
# line of the include file it could not read, say) fails the build.
execute_process(COMMAND "${HELP2MAN}" --no-info --section=1
                        "--include=${INCLUDE}" "--name=${NAME}"
                        "--version-string=${version_line}" "--source=${source}"
                        "--output=${OUTPUT}.new" "./${program_name}"
                WORKING_DIRECTORY "${program_folder}"
                RESULT_VARIABLE status
                ERROR_VARIABLE complaints)
if(NOT status EQUAL 0 OR NOT complaints STREQUAL "")
    file(REMOVE "${OUTPUT}.new")
    message(FATAL_ERROR "help2man failed (${status}): ${complaints}")
endif()
file(RENAME "${OUTPUT}.new" "${OUTPUT}")
# Installed compressed, as man pages are on Debian and most systems, with no
# name or time stamp in the gzip header, so the same page gives the same bytes.
include(${CMAKE_CURRENT_LIST_DIR}/../cmake/gzip_file.cmake)
gzip_file("${OUTPUT}" "${OUTPUT}.gz")
