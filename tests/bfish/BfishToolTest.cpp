#include "app/bfish/BfishCommandLine.h"
#include "support/TempHome.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sstream>
#include <unistd.h>

namespace bfish {
namespace {

using Args = std::vector<std::string>;

std::string Described(const Args& args) {
    const ParseResult r = ParseArguments(args);
    if (!r.ok)
        return "refused: " + r.error;
    const Options& o = r.options;
    return "i=" + o.input + " o=" + o.output + " p=[" + o.password + "]" +
           (o.passwordFromInput ? " stdin" : "") + (o.mode == Mode::Encrypt ? " e" : " d") +
           (o.quiet ? " q" : "");
}

TEST(BfishCommandLine, ReadsEveryAcceptedFormRefusesTheRestAndTakesStandardInputExactly) {
    const std::pair<Args, const char*> cases[] = {
        // As the backup program builds it: the password comes on standard input.
        {{"/i:/d/r.ue", "/o:/d/r", "/P:-", "/e", "/q"}, "i=/d/r.ue o=/d/r p=[-] stdin e q"},
        // Typed: the words up to the next option, wherever it stands, joined with one blank.
        {{"/i:a", "/o:b", "/P:my", "secret", "pass", "/e"}, "i=a o=b p=[my secret pass] e"},
        {{"/P:two", "words", "/d", "/i:a", "/o:b"}, "i=a o=b p=[two words] d"},
        {{"/i:a", "/o:b", "/d", "/P:last", "one"}, "i=a o=b p=[last one] d"},
        // A leading blank arrives as an empty "/P:" and the first word.
        {{"/i:a", "/o:b", "/P:", "lead", "/e"}, "i=a o=b p=[ lead] e"},
        {{"/i:a", "/o:b", "/P:", "/e", "/q"}, "i=a o=b p=[] e q"},
        {{"/i:a", "/o:b", "/P:-", "x", "/e"}, "i=a o=b p=[- x] e"},
        // Either letter case, any order; the rest of a path argument stays whole.
        {{"/Q", "/D", "/p:Pass", "/O:/x/ y /z", "/I:/a b/c:d"},
         "i=/a b/c:d o=/x/ y /z p=[Pass] d q"}};
    for (const auto& [args, expected] : cases)
        EXPECT_EQ(Described(args), expected);
    // Incomplete, unknown, repeated and stray arguments are refused.
    // clang-format off
    const std::pair<Args, const char*> refused[] = {
        {{}, "input"}, {{"/o:b", "/P:p", "/e"}, "input"}, {{"/i:", "/o:b", "/P:p", "/e"}, "input"},
        {{"/i:a", "/P:p", "/e"}, "output"}, {{"/i:a", "/o:b", "/e"}, "password"},
        {{"/i:a", "/o:b", "/P:p"}, "/e"}, {{"/i:a", "/o:b", "/P:p", "/e", "/d"}, "exactly one"},
        {{"/i:a", "/o:b", "/P:p", "/e", "/x"}, "\"/x\""},
        {{"/i:a", "/o:b", "/P:p", "/ex"}, "unknown option"},
        {{"/i", "/o:b", "/P:p", "/e"}, "unknown option"},
        {{"stray", "/i:a", "/o:b", "/P:p", "/e"}, "\"stray\""},
        {{"/i:a", "/i:c", "/o:b", "/P:p", "/e"}, "more than once"},
        {{"/i:a", "/o:b", "/P:p", "/P:q", "/e"}, "more than once"},
        // A password word that looks like an option is never echoed.
        {{"/i:a", "/o:b", "/P:abc", "/Secret9", "/e"}, "a password word cannot begin"}};
    // clang-format on
    for (const auto& [args, fragment] : refused) {
        const std::string text = Described(args);
        EXPECT_EQ(text.rfind("refused: ", 0), 0u) << text;
        EXPECT_NE(text.find(fragment), std::string::npos) << text;
        EXPECT_EQ(text.find("Secret9"), std::string::npos) << text;
    }
    // "/P:-" takes standard input as the password, byte for byte; a usage error exits with 2.
    std::ostringstream err;
    EXPECT_EQ(RunTool({"/i:a", "/P:p", "/e"}, err, -1), 2);
    EXPECT_EQ(err.str().rfind("bfish: the output file is missing", 0), 0u) << err.str();
    EXPECT_NE(err.str().find("usage: bfish /i:INPUT /o:OUTPUT"), std::string::npos);

    TempHome home;
    const auto run = [&](const char* mode, const char* in, const char* out,
                         const std::string& password, const std::string& input) {
        home.Write("stdin", input);
        const int fd = ::open(home.File("stdin").c_str(), O_RDONLY | O_CLOEXEC);
        std::ostringstream err;
        const int code = RunTool(
            {"/i:" + home.File(in), "/o:" + home.File(out), "/P:" + password, mode}, err, fd);
        ::close(fd);
        return std::to_string(code) + " " + err.str();
    };
    home.Write("plain", "payload");
    EXPECT_EQ(run("/e", "plain", "sealed", "-", "a b\n"), "0 ");
    home.Write("out", "previous");
    // The final newline is part of the password: without it the key differs.
    EXPECT_EQ(run("/d", "sealed", "out", "a b", ""),
              "1 bfish: wrong password, or '" + home.File("sealed") + "' is damaged\n");
    EXPECT_EQ(home.Read("out"), "previous");
    EXPECT_EQ(run("/d", "sealed", "out", "-", "a b\n"), "0 ");
    EXPECT_EQ(home.Read("out"), "payload");
    EXPECT_EQ(run("/e", "plain", "out", "-", std::string(65537, 'p')),
              "1 bfish: the password on standard input is longer than 65536 bytes\n");
    EXPECT_EQ(home.Read("out"), "payload");
}

} // namespace
} // namespace bfish
