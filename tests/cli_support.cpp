#include "cli_support.h"

#include <sys/wait.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace morla::test {

const char* MorlaProgram() {
    // Another build may be named, to see a test catch a fault of it.
    const char* other = std::getenv("MORLA_UNDER_TEST");
    return other != nullptr && *other != '\0' ? other : MORLA_CLI;
}

void AppendQuoted(std::string& command, const std::string& argument) {
    command += " '";
    for (char c : argument) {
        if (c == '\'') {
            command += "'\\''";
        } else {
            command += c;
        }
    }
    command += '\'';
}

std::string Slurp(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

CliRun Morla(const TempDir& dir, const std::vector<std::string>& arguments, const std::string& out,
             const std::string& setUp, const std::string& err) {
    std::string command = "cd";
    AppendQuoted(command, dir.path().string());
    command += " && " + setUp + " &&";
    AppendQuoted(command, MorlaProgram());
    for (const std::string& argument : arguments) {
        AppendQuoted(command, argument);
    }
    command += " >" + out + " 2>" + err + " </dev/null";
    CliRun run;
    const int raw = std::system(command.c_str());
    run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    run.out = Slurp(dir / ".out");
    run.err = Slurp(dir / ".err");
    std::filesystem::remove(dir / ".out");
    std::filesystem::remove(dir / ".err");
    std::istringstream lines(run.out);
    for (std::string line; std::getline(lines, line);) {
        run.rows.push_back(line);
    }
    return run;
}

Bytes Song() {
    S98Builder b = Stream({}, {{0xB0, 7}, {0x40, 20}, {0x08, 12}, {0x11, 40}});
    b.End();
    return b.bytes();
}

Bytes BigSong(std::size_t mebibytes) {
    S98Builder b = Stream({}, {{0xB0, 7}, {0x40, 20}});
    b.Waits(mebibytes << 20);
    b.End();
    return b.bytes();
}

bool HasTemporaryFile(const std::filesystem::path& folder) {
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        if (entry.path().filename().string().rfind(".morla-", 0) == 0) {
            return true;
        }
    }
    return false;
}

}  // namespace morla::test
