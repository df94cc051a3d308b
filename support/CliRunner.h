#pragma once
// Runs a command-line program of the tool with --config-dir and collects its
// exit status, stdout and stderr.

#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace qvtest {

struct CliRun {
    int rc = -1;
    std::string out;
    std::string err;
};

inline std::string ShellQuote(const std::string& s) {
    std::string q = "'";
    for (char c : s) {
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return q + "'";
}

inline std::string ReadWholeFile(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// `env` is put before the command as NAME=value words; stderr goes through a
// file in configDir.
inline CliRun RunCli(const std::string& program, const std::filesystem::path& configDir,
                     const std::vector<std::string>& args, const std::string& env = {}) {
    CliRun run;
    // A fixture whose set-up failed has no folder yet: never litter the
    // working directory with its files.
    if (configDir.empty()) {
        run.err = "no configuration folder";
        return run;
    }
    std::string cmd = env + (env.empty() ? "" : " ") + ShellQuote(program) + " --config-dir " +
                      ShellQuote(configDir.string());
    for (const auto& a : args) {
        cmd += " " + ShellQuote(a);
    }
    const std::filesystem::path errFile = configDir / "stderr.txt";
    cmd += " 2>" + ShellQuote(errFile.string());
    std::FILE* p = ::popen(cmd.c_str(), "r");
    if (p == nullptr) {
        return run;
    }
    char buf[4096];
    std::size_t n = 0;
    while ((n = std::fread(buf, 1, sizeof(buf), p)) > 0) {
        run.out.append(buf, n);
    }
    const int status = ::pclose(p);
    run.rc = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.err = ReadWholeFile(errFile);
    return run;
}

}  // namespace qvtest
