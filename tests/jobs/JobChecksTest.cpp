#include "jobs/JobChecks.h"
#include "support/TempHome.h"

#include <gtest/gtest.h>
#include <unistd.h>

TEST(DestinationInsideSource, ComparesWholeComponentsOfResolvedPaths) {
    TempHome real;
    real.Write("src/x", "x");
    ASSERT_EQ(::symlink(real.File("src").c_str(), real.File("link").c_str()), 0);
    const auto resolve = [&](std::string path) {
        return path[0] == '@' ? real.Path() + path.substr(1) : path;
    };
    // Source ("f:" marks a single file), destination, inside; "@" is a real
    // temporary folder holding a link "link" -> "src".
    // clang-format off
    const struct { const char *source, *destination; bool inside; } pairs[] = {
        {"/data/docs", "/data/docs/backups", true}, {"/data/docs", "/data/docs", true},
        {"/data/docs", "/data/docs/", true}, {"/data/docs", "/data/docs2", false},
        {"/data/docs", "/data/other/../docsx", false}, {"/data/docs", "/data/docs/../other", false},
        {"/", "/anywhere", true}, {"f:/data/docs", "/data/docs/backups", false},
        {"@/src", "@/link/backups", true}, {"@/link", "@/src/backups", true},
        {"@/src", "@/srcx", false}};
    // clang-format on
    for (const auto& p : pairs) {
        SCOPED_TRACE(std::string(p.source) + " <- " + p.destination);
        const bool file = std::string(p.source).rfind("f:", 0) == 0;
        const std::string source = resolve(file ? std::string(p.source).substr(2) : p.source);
        clsBackup job;
        job.AddFile({.sPath = "/elsewhere", .bForD = 1});
        job.AddFile({.sPath = source, .bForD = file ? 0 : 1});
        job.sDestinationDir = resolve(p.destination);
        EXPECT_EQ(DestinationInsideSource(job), p.inside ? source : "");
        job.destFTP = true;
        EXPECT_EQ(DestinationInsideSource(job), "");
    }
}
