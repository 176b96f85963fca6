#include "engine/Encryption.h"
#include "platform/Process.h"
#include "support/ProgramFolderSetup.h"

#include <filesystem>

namespace {

class EncryptionStep : public ::testing::Test {
protected:
    // The program folder has a blank in its name, so the tool's path must be quoted.
    void SetUp() override {
        PrepareProgramFolder(home);
        SetProgramFolder(home.File("program files"));
        std::filesystem::create_directories(home.File("program files/bin"));
        UseTool("real");
        for (int i = 0; i < 100000; ++i)
            original += static_cast<char>(i * 7 % 251);
        WriteTestFile(file, original);
    }
    void TearDown() override { ReleaseProgramFolder(); }

    // "real": the built tool; "": none at all; else a script that misbehaves as the real
    // tool should not.
    void UseTool(const std::string& script) {
        std::filesystem::remove(tool);
        if (script == "real")
            std::filesystem::create_symlink(TIDEVAULT_BUILD_DIR "/bin/bfish", tool);
        else if (!script.empty())
            WriteTestFile(tool, script), ::chmod(tool.c_str(), 0755);
    }

    TempHome home;
    TestHost host;
    std::string tool = home.File("program files/bin/bfish");
    std::string file = home.File("staging dir/my report.txt");
    std::string original;
};

} // namespace

TEST_F(EncryptionStep, EveryPasswordRoundTripsExactly) {
    home.Write("staging dir/my report.txt.ue", "left over by an interrupted step");
    // Each password, and a near miss that a reshaping on the way to the tool would produce.
    const std::pair<std::string, std::string> cases[] = {
        {"correct horse battery staple", "correct horse"},
        {"two  blanks", "two blanks"},
        {" lead and trail ", "lead and trail"},
        {"say \"hi\" 'there'", "say hi 'there'"},
        {"/slash first", "slash first"},
        {"-dash first", "dash first"},
        {"-", ""},
        {"/P:text /e", "text /e"},
        {"back\\slash\\", "back\\slash"},
        {"tab\there\nline\n", "tab\there\nline"},
        {"Grüße ✓", "Grüße"},
        {"", " "},
        {std::string(kMaxChildInput, 'k'), std::string(kMaxChildInput - 1, 'k')}};
    for (const auto& [password, nearMiss] : cases) {
        SCOPED_TRACE(password.substr(0, 40));
        ASSERT_TRUE(EncryptFile(file, password));
        const std::string encrypted = ReadTestFile(file);
        EXPECT_EQ(encrypted.substr(0, 4), "TVBF");
        EXPECT_FALSE(std::filesystem::exists(file + ".ue"));

        EXPECT_FALSE(DecryptFile(file, nearMiss));
        EXPECT_EQ(ReadTestFile(file), encrypted);
        ASSERT_TRUE(DecryptFile(file, password));
        EXPECT_EQ(ReadTestFile(file), original);
        EXPECT_FALSE(std::filesystem::exists(file + ".ue"));
    }
    EXPECT_TRUE(host.Logged("FAIL: Decryption of " + file + " failed! (the encryption tool ended"));
    for (const std::string caption : {"update:Encrypting ...|", "update:Decrypt ...|"})
        EXPECT_TRUE(host.ShowedProgress(caption + file + "|0.000000|0.000000"));
}

TEST_F(EncryptionStep, ThePasswordTravelsOnStandardInputNeverOnTheCommandLine) {
    UseTool("#!/bin/sh\ncd '" + home.Path() + "'\ntr '\\0' ' ' </proc/$$/cmdline >cmdline\n" +
            "cat >stdin\nprintf '%s\\n' \"$@\" >args\nexit 3\n");
    EXPECT_FALSE(EncryptFile(file, "s3cret pass\n"));

    EXPECT_EQ(home.Read("stdin"), "s3cret pass\n");
    EXPECT_EQ(home.Read("args"), "/i:" + file + ".ue\n/o:" + file + "\n/P:-\n/e\n/q\n");
    EXPECT_NE(home.Read("cmdline").find("/P:- /e /q"), std::string::npos) << home.Read("cmdline");
    EXPECT_EQ(home.Read("cmdline").find("s3cret"), std::string::npos);
    EXPECT_EQ(ReadTestFile(file), original);
    EXPECT_TRUE(host.Logged("(the encryption tool ended with code 3)"));
}

TEST_F(EncryptionStep, EveryFailurePutsTheDataBackAndSaysWhy) {
    const std::string crashes = "#!/bin/sh\nfor a; do case \"$a\" in /o:*) out=\"${a#/o:}\";; "
                                "esac; done\nprintf partial > \"$out\"\nkill -9 $$\n";
    const std::string staging = home.File("staging dir/");
    const std::string tooLong(kMaxChildInput + 1, 'k');
    const std::array<std::array<std::string, 4>, 8> cases = {
        {// tool, file, password, reason
         {"", file, "pw", "the encryption tool " + tool + " cannot be started"},
         {crashes, file, "pw", "the encryption tool was ended by a signal"},
         {"#!/bin/sh\nexit 0\n", file, "pw", "the encryption tool reported success but wrote no"},
         {"#!/bin/sh\nexec sleep 30\n", file, "cancel", "cancelled"},
         {"real", file, tooLong, "the password is longer than 65536 bytes"},
         {"real", staging + "gone.txt", "pw", "the file does not exist"},
         {"real", staging + "say \"hi\".txt", "pw", "its name cannot be passed to the encryption"},
         {"real", staging + "ends in\\", "pw", "its name cannot be passed to the encryption"}}};
    for (const auto& [script, name, password, reason] : cases) {
        SCOPED_TRACE(reason);
        UseTool(script);
        const bool exists = name.find("gone") == std::string::npos;
        if (exists)
            WriteTestFile(name, "data of " + name);
        host.onYield = [cancel = password == "cancel"] { gAbort = cancel; };

        EXPECT_FALSE(EncryptFile(name, password));

        EXPECT_EQ(ReadTestFile(name), exists ? "data of " + name : "");
        EXPECT_FALSE(std::filesystem::exists(name + ".ue"));
        EXPECT_TRUE(host.Logged("FAIL: Encryption of " + name + " failed! (" + reason));
        gAbort = false;
    }
    // In the user's language, and a "%d" in a name is not spliced into.
    LoadMessageCatalogue(std::string(TIDEVAULT_SOURCE_DIR) + "/Languages/german.lng");
    EXPECT_FALSE(DecryptFile(file + "%d", "pw"));
    EXPECT_TRUE(host.Logged("FEHLER: Entschlüsselung von " + file +
                            "%d fehlgeschlagen! (die Datei ist nicht vorhanden)"));
}
