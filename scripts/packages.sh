# Installs the Debian packages given as arguments when any is missing.
# Sourced by the run and test commands.
ensure_packages() {
    local missing=()
    local package
    for package in "$@"; do
        dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' ||
            missing+=("$package")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}"
    local sudo=()
    [ "$(id -u)" -eq 0 ] || sudo=(sudo)
    "${sudo[@]}" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq "${missing[@]}"
}

# The native build: engine, command line, man page, tests (the packages too).
NATIVE_PACKAGES=(cmake make g++ libgtest-dev libbenchmark-dev help2man groff-base dpkg-dev
                 bash-completion lintian libebur128-dev pkg-config nlohmann-json3-dev)
# The Windows build, cross-compiled, and Wine on a virtual display to run it.
WINDOWS_PACKAGES=(gcc-mingw-w64-x86-64-posix g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
                  googletest wine wine64 xvfb xauth fonts-wine fonts-ipafont-gothic unzip
                  nlohmann-json3-dev)
# The sanitizer build and the fuzz target (clang's libFuzzer).
SANITIZE_PACKAGES=(clang libclang-rt-14-dev)
# A release (scripts/release): both builds without the tests, the packages.
RELEASE_PACKAGES=(cmake make g++ help2man groff-base dpkg-dev nlohmann-json3-dev gcc-mingw-w64-x86-64-posix
                  g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64)
# The benchmarks.
BENCH_PACKAGES=(libbenchmark-dev time hyperfine strace)
