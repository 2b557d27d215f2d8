# gzip_file(<input> <output>): compresses <input> into <output> at the best
# level, with neither the file's name nor a time stamp in the header (gzip
# -n), so a package built twice from the same sources holds the same bytes.
# CMake's own gzip writes the time of compression, so gzip itself is used;
# every system that builds Debian packages has it.
function(gzip_file input output)
    find_program(MORLA_GZIP gzip REQUIRED)
    execute_process(COMMAND "${MORLA_GZIP}" -9 -n -c "${input}"
                    OUTPUT_FILE "${output}.new"
                    RESULT_VARIABLE status)
    if(NOT status EQUAL 0)
        file(REMOVE "${output}.new")
        message(FATAL_ERROR "gzip of ${input} failed (${status})")
    endif()
    file(RENAME "${output}.new" "${output}")
endfunction()
