#include "cli/CliProcess.h"
#include "platform/FileSystem.h"

#include <functional>
#include <regex>
#include <unistd.h>

// Real volumes of a real run, damaged one way per row, then read back. The
// split job puts a.txt and sub/b.txt in Docs.darc and lets sub/c.bin run on
// through Docs-001.darc into the first 53,248 bytes of Docs-002.darc.
TEST_F(CliTest, VerifyNamesEachDamagedOrMissingFileWithTheVolumeAtFault) {
    std::string pattern(250000, '\0');
    for (std::size_t i = 0; i < pattern.size(); ++i)
        pattern[i] = static_cast<char>(i * 7 + i / 251);
    source.Write("sub/c.bin", pattern);
    CreateFolderPath(home.File("bin"));
    ::symlink((ParentFolder(TIDEVAULT_CLI) + "/bin/bfish").c_str(), home.File("bin/bfish").c_str());
    const auto flip = [&](const char* volume, long at) {
        std::string bytes = destination.Read(volume);
        bytes[at < 0 ? bytes.size() / 2 : at] ^= 0x01;
        destination.Write(volume, bytes);
    };
    const std::string a = source.File("a.txt"), b = source.File("sub/b.txt");
    const std::string c = source.File("sub/c.bin");
    const std::string split = "Compress=NOT\nSplit=100000\n";
    const auto summary = [](int volumes, int damaged, int files = 3, int lines = 0) {
        return "Verified \"Docs\" (files: " + std::to_string(files) +
               ", volumes: " + std::to_string(volumes) + "): " +
               (damaged + lines == 0 ? std::string("every file is intact.\n")
                                     : std::to_string(damaged) + " damaged or missing, " +
                                           std::to_string(lines) + " index lines unreadable.\n");
    };
    struct Row {
        const char* what;
        std::string keys;
        std::function<void()> damage;
        std::string expected; // stdout without activity lines, and the command's own complaints
        // Instead of `expected`: how far a flipped compressed byte reaches depends on the
        // bytes around it, but the file holding it is always named.
        std::string pattern = {};
    };
    const std::vector<Row> rows = {
        {"intact, protected", split + "Protected=1,2,3\n", [] {}, summary(3, 0)},
        {"flipped byte", split, [&] { flip("Docs.darc", 1); },
         "DAMAGED: " + a +
             " (session S) in Docs.darc: checksum mismatch: the volume gives H, the index "
             "records H\n" +
             summary(3, 1)},
        {"flipped byte, compressed", "Compress=ZIP\n", [&] { flip("Docs.darc", -1); }, "",
         "DAMAGED: " + c +
             " \\(session S\\) in Docs\\.darc: [^\n]+\nVerified \"Docs\" \\(files: 3, "
             "volumes: 1\\): [123] damaged or missing, 0 index lines unreadable\\.\n$"},
        {"truncated", split, [&] { ::truncate(destination.File("Docs-002.darc").c_str(), 20480); },
         "DAMAGED: " + c +
             " (session S) in Docs.darc..Docs-002.darc: short read: Docs-002.darc ends after "
             "219136 of 250000 bytes\n" +
             summary(3, 1)},
        {"missing volume", split, [&] { RemoveFile(destination.File("Docs-001.darc")); },
         "MISSING: " + c + " (session S) in Docs-001.darc: " + destination.File("Docs-001.darc") +
             " does not exist\n" + summary(3, 1)},
        {"damaged index line", split,
         [&] {
             std::string index = destination.Read("Docs.fs");
             destination.Write("Docs.fs", index.replace(index.find("RecSize="), 11, "RecSize=0"));
         },
         summary(3, 0, 2, 1)},
        {"wrong password", split + "Protected=1,2,3\n",
         [&] { home.Write("backups.ini", JobList("Docs", split + "Protected=3,2,1\n")); },
         "tidevault-cli: The index of job \"Docs\" cannot be read: " + destination.File("Docs.fs") +
             " cannot be decrypted: the password is wrong or the file is damaged\n"},
    };
    for (const Row& row : rows) {
        for (const std::string& name : ListFileNames(destination.Path()))
            RemoveFile(destination.File(name));
        home.Write("backups.ini", JobList("Docs", "Type=FULL\nArchived=yes\n" + row.keys));
        ASSERT_EQ(Cli({"run", "Docs"}).status, 0) << row.what;
        row.damage();
        std::string before;
        for (const std::string& name : ListFileNames(destination.Path()))
            before += name + destination.Read(name);
        const CliResult r = Cli({"verify", "Docs"});
        std::string seen;
        for (const std::string& stream : {r.out, r.err}) {
            static const std::regex own("(^|\n)(DAMAGED|MISSING|Verified|tidevault-cli)[^\n]*");
            for (std::sregex_iterator it(stream.begin(), stream.end(), own), end; it != end; ++it)
                seen += it->str().substr(it->str()[0] == '\n') + "\n";
        }
        seen = std::regex_replace(seen, std::regex("session [0-9]{14}"), "session S");
        seen = std::regex_replace(seen, std::regex("\\b[0-9A-F]{8}\\b"), "H");
        if (row.pattern.empty())
            EXPECT_EQ(seen, row.expected) << row.what << "\n" << r.out << r.err;
        else
            EXPECT_TRUE(std::regex_search(seen, std::regex(row.pattern))) << row.what << "\n"
                                                                          << seen;
        EXPECT_EQ(r.status, row.expected.ends_with("every file is intact.\n") ? 0 : 1) << row.what;
        // Read only, and nothing left in staging.
        std::string after;
        for (const std::string& name : ListFileNames(destination.Path()))
            after += name + destination.Read(name);
        EXPECT_TRUE(before == after) << row.what;
        EXPECT_EQ(ListFileNames(home.File("temp")), std::vector<std::string>{}) << row.what;
    }
    // One session of the index, or one it does not hold.
    home.Write("backups.ini", JobList("Docs", "Type=FULL\nArchived=yes\n" + rows[0].keys));
    const std::string sessions = Cli({"sessions", "Docs"}).out;
    EXPECT_EQ(Cli({"verify", "Docs", "--session", sessions.substr(0, 14)}).status, 0) << sessions;
    const CliResult none = Cli({"verify", "Docs", "--session", "20000101000000"});
    EXPECT_EQ(none.status, 1);
    EXPECT_TRUE(Has(none.err, "The index of job \"Docs\" holds no session 20000101000000."))
        << none.err;
}
