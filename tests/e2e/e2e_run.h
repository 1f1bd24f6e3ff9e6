// Runs the torvane_e2e program of the build with the given arguments and
// collects its exit code, standard output and (through a file) its errors.
#pragma once

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/wait.h>

namespace torvane::e2e_test {

struct RunResult {
    int exitCode = -1;
    std::string out, err;
};

inline RunResult RunE2e(const std::string& args, const std::filesystem::path& errFile)
{
    const std::string cmd = std::string("'") + TORVANE_E2E_PROGRAM + "' " + args + " 2>'" + errFile.string() + "'";
    RunResult r;
    FILE* pipe = ::popen(cmd.c_str(), "r");
    if (!pipe)
        return r;
    char buf[4096];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, pipe)) > 0)
        r.out.append(buf, n);
    const int status = ::pclose(pipe);
    r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::stringstream ss;
    ss << std::ifstream(errFile).rdbuf();
    r.err = ss.str();
    return r;
}

}  // namespace torvane::e2e_test
