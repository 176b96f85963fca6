#pragma once
#include "support/TempHome.h"

#include <cstdio>
#include <gtest/gtest.h>
#include <string>
#include <sys/types.h>
#include <vector>

struct CliResult {
    int status = -1; // the exit status, or 128 + the signal that ended it
    std::string out;
    std::string err;
};

// tidevault-cli started as a user would start it; TIDEVAULT_HOME comes from
// `env` only, never from the test's own environment.
class CliProcess {
public:
    explicit CliProcess(std::vector<std::string> args, std::vector<std::string> env = {});
    ~CliProcess();
    void Signal(int signal) const;
    CliResult Wait();

private:
    pid_t pid_ = -1;
    std::FILE* out_ = std::tmpfile(); // read once the process has ended
    std::FILE* err_ = std::tmpfile();
};

inline bool Has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// A program folder, a source tree and a local destination, with one archived
// job "Docs" that saves the source.
class CliTest : public ::testing::Test {
protected:
    void SetUp() override {
        source.Write("a.txt", "alpha");
        source.Write("sub/b.txt", "beta");
        home.Write("backups.ini", JobList("Docs", "Type=INCR\nCompress=ZIP\nArchived=yes\n"));
    }
    // One job saving the source to the destination; `keys` adds to it.
    std::string JobList(const std::string& name, const std::string& keys) const {
        return "[Backups]\n" + name + "\n[" + name +
               "]\nStorage=LOC\nDestination=" + destination.Path() + "\n" + keys +
               "Dir0001=" + source.Path() + "\n";
    }
    CliResult Cli(std::vector<std::string> args) const {
        args.insert(args.begin(), {"--home", home.Path()});
        return CliProcess(args).Wait();
    }
    TempHome home;
    TempHome source;
    TempHome destination;
};
