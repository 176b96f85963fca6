#include "engine/Encryption.h"
#include "core/Globals.h"
#include "i18n/Catalogue.h"
#include "platform/ProgramFolder.h"
#include "support/TempHome.h"
#include "support/TestHost.h"

#include <algorithm>
#include <dirent.h>
#include <gtest/gtest.h>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const std::string kBuiltTool = std::string(TIDEVAULT_BUILD_DIR) + "/bin/bfish";

bool Exists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

std::set<std::string> NamesIn(const std::string& folder) {
    std::set<std::string> names;
    if (DIR* dir = ::opendir(folder.c_str())) {
        while (const dirent* e = ::readdir(dir)) {
            const std::string name = e->d_name;
            if (name != "." && name != "..")
                names.insert(name);
        }
        ::closedir(dir);
    }
    return names;
}

std::string SampleBytes(std::size_t size) {
    std::string bytes(size, '\0');
    unsigned state = 12345;
    for (char& c : bytes) {
        state = state * 1103515245u + 12345u;
        c = static_cast<char>(state >> 16);
    }
    return bytes;
}

class EncryptionStep : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(Exists(kBuiltTool)) << "build the bfish target first: " << kBuiltTool;
        UseProgramFolder(home.Path());
        LoadMessageCatalogue("");
        gAbort = false;
        gQuitting = false;
        staging = home.File("staging dir");
        ASSERT_EQ(::mkdir(staging.c_str(), 0755), 0);
        file = staging + "/my report.txt";
        original = SampleBytes(100000);
        WriteTestFile(file, original);
    }
    void TearDown() override {
        gAbort = false;
        gQuitting = false;
        SetProgramFolder("");
    }

    void UseProgramFolder(const std::string& folder) {
        ::mkdir(folder.c_str(), 0755);
        ::mkdir((folder + "/bin").c_str(), 0755);
        ASSERT_EQ(::symlink(kBuiltTool.c_str(), (folder + "/bin/bfish").c_str()), 0);
        SetProgramFolder(folder);
    }

    // A tool that misbehaves in a way the real one should not.
    void ReplaceTool(const std::string& script) {
        const std::string tool = home.File("bin/bfish");
        ASSERT_EQ(::unlink(tool.c_str()), 0);
        WriteTestFile(tool, script);
        ASSERT_EQ(::chmod(tool.c_str(), 0755), 0);
    }

    bool Logged(const std::string& text) const {
        return std::any_of(host.activity.begin(), host.activity.end(),
                           [&](const std::string& l) { return l.find(text) != std::string::npos; });
    }
    bool ShowedProgress(const std::string& caption) const {
        const std::string entry = "update:" + caption + "|" + file + "|0.000000|0.000000";
        return std::find(host.progress.begin(), host.progress.end(), entry) != host.progress.end();
    }

    void ExpectUnchanged(const std::string& bytes) {
        EXPECT_EQ(ReadTestFile(file), bytes);
        EXPECT_FALSE(Exists(file + ".ue"));
    }

    TempHome home;
    TestHost host;
    std::string staging;
    std::string file;
    std::string original;
};

} // namespace

TEST_F(EncryptionStep, RoundTripWithBlanksInPathAndPassword) {
    const std::string password = "correct horse battery staple";

    ASSERT_TRUE(EncryptFile(file, password));
    const std::string encrypted = ReadTestFile(file);
    EXPECT_NE(encrypted, original);
    EXPECT_GT(encrypted.size(), original.size());
    EXPECT_EQ(encrypted.find(original.substr(0, 64)), std::string::npos);
    EXPECT_EQ(NamesIn(staging), std::set<std::string>{"my report.txt"});
    EXPECT_TRUE(ShowedProgress("Encrypting ..."));

    // Every word of the password counts, not just the first.
    EXPECT_FALSE(DecryptFile(file, "correct horse"));
    EXPECT_EQ(ReadTestFile(file), encrypted);

    ASSERT_TRUE(DecryptFile(file, password));
    EXPECT_EQ(ReadTestFile(file), original);
    EXPECT_EQ(NamesIn(staging), std::set<std::string>{"my report.txt"});
    EXPECT_TRUE(ShowedProgress("Decrypt ..."));
}

TEST_F(EncryptionStep, WrongPasswordLeavesTheEncryptedBytesInPlace) {
    ASSERT_TRUE(EncryptFile(file, "right"));
    const std::string encrypted = ReadTestFile(file);

    EXPECT_FALSE(DecryptFile(file, "wrong"));

    ExpectUnchanged(encrypted);
    EXPECT_TRUE(Logged("FAIL: Decryption of " + file + " failed!"));
}

TEST_F(EncryptionStep, MissingToolLeavesTheFileAsItWas) {
    ASSERT_EQ(::unlink(home.File("bin/bfish").c_str()), 0);

    EXPECT_FALSE(EncryptFile(file, "secret"));

    ExpectUnchanged(original);
    EXPECT_TRUE(Logged("FAIL: Encryption of " + file + " failed!"));
}

TEST_F(EncryptionStep, ProgramFolderWithABlankStillReachesTheTool) {
    UseProgramFolder(home.File("program files"));

    ASSERT_TRUE(EncryptFile(file, "pw"));
    EXPECT_NE(ReadTestFile(file), original);
    ASSERT_TRUE(DecryptFile(file, "pw"));
    EXPECT_EQ(ReadTestFile(file), original);
}

TEST_F(EncryptionStep, TheToolGetsTheNamesAndPasswordAsBuilt) {
    ReplaceTool("#!/bin/sh\nprintf '%s\\n' \"$@\" > '" + home.File("args") + "'\nexit 3\n");

    EXPECT_FALSE(EncryptFile(file, "two  words"));

    EXPECT_EQ(home.Read("args"), "/i:" + file + ".ue\n/o:" + file + "\n/P:two\nwords\n/e\n/q\n");
    ExpectUnchanged(original);
    EXPECT_TRUE(Logged("code 3"));
}

TEST_F(EncryptionStep, NamesAndPasswordsTheCommandLineWouldGarbleAreRefused) {
    ReplaceTool("#!/bin/sh\ntouch '" + home.File("tool-ran") + "'\nexit 0\n");
    const std::string quoted = staging + "/say \"hi\".txt";
    const std::string backslash = staging + "/ends in\\";
    WriteTestFile(quoted, "q");
    WriteTestFile(backslash, "b");

    EXPECT_FALSE(EncryptFile(quoted, "pw"));
    EXPECT_FALSE(EncryptFile(backslash, "pw"));
    EXPECT_FALSE(EncryptFile(file, "looks /o:like an option"));

    EXPECT_EQ(ReadTestFile(quoted), "q");
    EXPECT_EQ(ReadTestFile(backslash), "b");
    ExpectUnchanged(original);
    EXPECT_EQ(NamesIn(staging),
              (std::set<std::string>{"my report.txt", "say \"hi\".txt", "ends in\\"}));
    EXPECT_FALSE(Exists(home.File("tool-ran")));
}

TEST_F(EncryptionStep, MisbehavingToolLosesNothing) {
    // Crashes after writing part of the output; claims success without output.
    const std::string crashes =
        "#!/bin/sh\n"
        "for a in \"$@\"; do case \"$a\" in /o:*) out=\"${a#/o:}\";; esac; done\n"
        "printf partial > \"$out\"\n"
        "kill -9 $$\n";
    for (const std::string& script : {crashes, std::string("#!/bin/sh\nexit 0\n")}) {
        ReplaceTool(script);
        EXPECT_FALSE(EncryptFile(file, "pw"));
        ExpectUnchanged(original);
    }
    EXPECT_TRUE(Logged("ended by a signal"));
    EXPECT_TRUE(Logged("wrote no file"));
}

TEST_F(EncryptionStep, CancelWhileTheToolRunsStopsItAndPutsTheDataBack) {
    ReplaceTool("#!/bin/sh\nexec sleep 30\n");
    host.onYield = [] { gAbort = true; };

    EXPECT_FALSE(EncryptFile(file, "pw"));

    ExpectUnchanged(original);
    EXPECT_TRUE(Logged("cancelled"));
}

TEST_F(EncryptionStep, MissingFileIsReportedAndNothingIsCreated) {
    const std::string missing = staging + "/gone.txt";

    EXPECT_FALSE(EncryptFile(missing, "pw"));

    EXPECT_FALSE(Exists(missing));
    EXPECT_FALSE(Exists(missing + ".ue"));
    EXPECT_TRUE(Logged("FAIL: Encryption of " + missing + " failed!"));
}

TEST_F(EncryptionStep, StaleWorkFileFromAnInterruptedStepDoesNotMatter) {
    WriteTestFile(file + ".ue", "left over");

    ASSERT_TRUE(EncryptFile(file, "pw"));
    EXPECT_FALSE(Exists(file + ".ue"));
    ASSERT_TRUE(DecryptFile(file, "pw"));
    EXPECT_EQ(ReadTestFile(file), original);
}
