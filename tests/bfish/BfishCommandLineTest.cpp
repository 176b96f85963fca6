#include "app/bfish/BfishCommandLine.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace bfish {
namespace {

using Args = std::vector<std::string>;

Options Parsed(const Args& args) {
    const ParseResult result = ParseArguments(args);
    EXPECT_TRUE(result.ok) << result.error;
    return result.options;
}

std::string Refusal(const Args& args) {
    const ParseResult result = ParseArguments(args);
    EXPECT_FALSE(result.ok);
    return result.error;
}

TEST(BfishCommandLine, ReadsTheLineTheBackupProgramBuilds) {
    const Options options =
        Parsed({"/i:/data/report.doc.ue", "/o:/data/report.doc", "/P:secret", "/e", "/q"});
    EXPECT_EQ(options.input, "/data/report.doc.ue");
    EXPECT_EQ(options.output, "/data/report.doc");
    EXPECT_EQ(options.password, "secret");
    EXPECT_EQ(options.mode, Mode::Encrypt);
    EXPECT_TRUE(options.quiet);
}

TEST(BfishCommandLine, JoinsPasswordWordsWithOneBlank) {
    EXPECT_EQ(Parsed({"/i:a", "/o:b", "/P:my", "secret", "pass", "/e"}).password, "my secret pass");
    // Words end at the next option, wherever it stands.
    EXPECT_EQ(Parsed({"/P:two", "words", "/d", "/i:a", "/o:b"}).password, "two words");
    EXPECT_EQ(Parsed({"/i:a", "/o:b", "/d", "/P:last", "one"}).password, "last one");
    // A leading blank in the password reaches us as an empty "/P:" and the first word.
    EXPECT_EQ(Parsed({"/i:a", "/o:b", "/P:", "lead", "/e"}).password, " lead");
}

TEST(BfishCommandLine, AcceptsAnEmptyPassword) {
    EXPECT_EQ(Parsed({"/i:a", "/o:b", "/P:", "/e", "/q"}).password, "");
}

TEST(BfishCommandLine, TakesOptionsInAnyOrderAndEitherCase) {
    const Options options = Parsed({"/Q", "/D", "/p:Pass", "/O:out file", "/I:in file"});
    EXPECT_EQ(options.input, "in file");
    EXPECT_EQ(options.output, "out file");
    EXPECT_EQ(options.password, "Pass");
    EXPECT_EQ(options.mode, Mode::Decrypt);
    EXPECT_TRUE(options.quiet);
    EXPECT_FALSE(Parsed({"/e", "/i:a", "/o:b", "/P:x"}).quiet);
}

TEST(BfishCommandLine, KeepsTheRestOfAPathArgumentWhole) {
    const Options options = Parsed({"/i:/a b/c:d.txt", "/o:/x/ y /z", "/P:p", "/e"});
    EXPECT_EQ(options.input, "/a b/c:d.txt");
    EXPECT_EQ(options.output, "/x/ y /z");
}

TEST(BfishCommandLine, RefusesIncompleteLines) {
    EXPECT_NE(Refusal({}).find("input"), std::string::npos);
    EXPECT_NE(Refusal({"/o:b", "/P:p", "/e"}).find("input"), std::string::npos);
    EXPECT_NE(Refusal({"/i:", "/o:b", "/P:p", "/e"}).find("input"), std::string::npos);
    EXPECT_NE(Refusal({"/i:a", "/P:p", "/e"}).find("output"), std::string::npos);
    EXPECT_NE(Refusal({"/i:a", "/o:b", "/e"}).find("password"), std::string::npos);
    EXPECT_NE(Refusal({"/i:a", "/o:b", "/P:p"}).find("/e"), std::string::npos);
    EXPECT_NE(Refusal({"/i:a", "/o:b", "/P:p", "/e", "/d"}).find("exactly one"), std::string::npos);
}

TEST(BfishCommandLine, RefusesUnknownRepeatedAndStrayArguments) {
    EXPECT_NE(Refusal({"/i:a", "/o:b", "/P:p", "/e", "/x"}).find("\"/x\""), std::string::npos);
    EXPECT_NE(Refusal({"/i:a", "/o:b", "/P:p", "/ex"}).find("unknown option"), std::string::npos);
    EXPECT_NE(Refusal({"/i:a", "/i:c", "/o:b", "/P:p", "/e"}).find("more than once"),
              std::string::npos);
    EXPECT_NE(Refusal({"/i:a", "/o:b", "/P:p", "/P:q", "/e"}).find("more than once"),
              std::string::npos);
    EXPECT_NE(Refusal({"stray", "/i:a", "/o:b", "/P:p", "/e"}).find("\"stray\""),
              std::string::npos);
    EXPECT_FALSE(ParseArguments({"/i", "/o:b", "/P:p", "/e"}).ok);
}

TEST(BfishCommandLine, NeverEchoesAPasswordWordThatLooksLikeAnOption) {
    const std::string error = Refusal({"/i:a", "/o:b", "/P:abc", "/Secret9", "/e"});
    EXPECT_EQ(error.find("Secret9"), std::string::npos) << error;
    EXPECT_NE(error.find("password"), std::string::npos) << error;
}

TEST(BfishCommandLine, UsageErrorsReturnTwoWithTheUsageText) {
    std::ostringstream err;
    EXPECT_EQ(RunTool({"/i:a", "/P:p", "/e"}, err, -1), kExitUsage);
    EXPECT_EQ(kExitUsage, 2);
    EXPECT_EQ(err.str().rfind("bfish: the output file is missing", 0), 0u) << err.str();
    EXPECT_NE(err.str().find("usage: bfish /i:INPUT /o:OUTPUT"), std::string::npos);
}

} // namespace
} // namespace bfish
