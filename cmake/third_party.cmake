# The libraries made for the field that third_party/ holds, vendored
# unchanged with their licences (see each UPSTREAM.md), built here so that
# nothing but their own files lives in that folder.
# They are built with their own warning settings, not the project's -Werror.

# ymfm: the Yamaha FM chips and the SSG.
add_library(morla_ymfm STATIC
    ${PROJECT_SOURCE_DIR}/third_party/ymfm/src/ymfm_adpcm.cpp
    ${PROJECT_SOURCE_DIR}/third_party/ymfm/src/ymfm_misc.cpp
    ${PROJECT_SOURCE_DIR}/third_party/ymfm/src/ymfm_opl.cpp
    ${PROJECT_SOURCE_DIR}/third_party/ymfm/src/ymfm_opm.cpp
    ${PROJECT_SOURCE_DIR}/third_party/ymfm/src/ymfm_opn.cpp
    ${PROJECT_SOURCE_DIR}/third_party/ymfm/src/ymfm_pcm.cpp
    ${PROJECT_SOURCE_DIR}/third_party/ymfm/src/ymfm_ssg.cpp
)
target_include_directories(morla_ymfm SYSTEM PUBLIC ${PROJECT_SOURCE_DIR}/third_party/ymfm/src)
set_target_properties(morla_ymfm PROPERTIES POSITION_INDEPENDENT_CODE ON)
add_library(morla::ymfm ALIAS morla_ymfm)

# libebur128: EBU R 128 loudness, loudness range, sample and true peak.
if(MORLA_SYSTEM_EBUR128)
    find_package(PkgConfig REQUIRED)
    pkg_check_modules(EBUR128 REQUIRED IMPORTED_TARGET libebur128)
    add_library(morla_ebur128 INTERFACE)
    target_link_libraries(morla_ebur128 INTERFACE PkgConfig::EBUR128)
else()
    add_library(morla_ebur128 STATIC ${PROJECT_SOURCE_DIR}/third_party/libebur128/ebur128/ebur128.c)
    target_include_directories(morla_ebur128 SYSTEM PUBLIC ${PROJECT_SOURCE_DIR}/third_party/libebur128/ebur128)
    target_include_directories(morla_ebur128 PRIVATE ${PROJECT_SOURCE_DIR}/third_party/libebur128/ebur128/queue)
    set_target_properties(morla_ebur128 PROPERTIES POSITION_INDEPENDENT_CODE ON C_STANDARD 99)
    if(MSVC)
        target_compile_definitions(morla_ebur128 PRIVATE _USE_MATH_DEFINES)  # M_PI
    else()
        target_link_libraries(morla_ebur128 PUBLIC m)
    endif()
endif()
add_library(morla::ebur128 ALIAS morla_ebur128)

# GCC 12 sees a write past m_timer_running in ymfm's OPL timer code through
# an index it cannot bound (the index is 0 or 1); the code is upstream's.
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    target_compile_options(morla_ymfm PRIVATE -Wno-stringop-overflow)
endif()

# nlohmann/json, header-only, from Debian's nlohmann-json3-dev: the command
# line's JSON output. The Windows build takes the same header, copied into
# the build tree on its own so that no other header of the build machine
# reaches the MinGW-w64 compiler.
find_path(MORLA_NLOHMANN_JSON_INCLUDE nlohmann/json.hpp PATHS /usr/include
          NO_CMAKE_FIND_ROOT_PATH REQUIRED)
file(COPY ${MORLA_NLOHMANN_JSON_INCLUDE}/nlohmann DESTINATION ${PROJECT_BINARY_DIR}/nlohmann-json)
add_library(morla_nlohmann_json INTERFACE)
target_include_directories(morla_nlohmann_json SYSTEM INTERFACE ${PROJECT_BINARY_DIR}/nlohmann-json)
add_library(morla::nlohmann_json ALIAS morla_nlohmann_json)
