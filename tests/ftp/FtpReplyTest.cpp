#include "ftp/clsFTPAnswer.h"

#include <gtest/gtest.h>

TEST(FtpServerText, ControlCharactersBecomeQuestionMarksAndLineEndsStay) {
    const struct {
        std::string in, out;
    } cases[] = {
        {"220 ready", "220 ready"},
        {"a\x1b[31mred\x1b[0m", "a?[31mred?[0m"},     // colours, cursor moves
        {"title\x1b]0;owned\x07", "title?]0;owned?"}, // terminal title, bell
        {"over\rwrite", "over?write"},                // a lone CR rewrites the line
        {"one\r\ntwo", "one\r\ntwo"},
        {"one\ntwo", "one\r\ntwo"}, // Unix line ends of a listing
        {"tab\there\x7f", "tab?here?"},
        {std::string("nul\0byte", 8), "nul?byte"},
        {"c1 \xc2\x9b"
         "31m",
         "c1 ?31m"}, // CSI written in UTF-8
        {"Gr\xc3\xbc\xc3\x9f"
         "e \xc2\xa0",
         "Gr\xc3\xbc\xc3\x9f"
         "e \xc2\xa0"}, // text stays
        {"cut \xc2", "cut \xc2"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(PrintableServerText(c.in), c.out) << c.in;
}

TEST(FtpReplyReader, HandsOutEachReplyOnceItsFinalLineIsIn) {
    const struct {
        std::vector<std::string> chunks;
        std::vector<std::pair<int, std::string>> replies; // code, lines joined by "|"
        std::string pending;
    } cases[] = {
        {{"220 ready\r\n"}, {{220, "220 ready"}}, ""},
        {{"150 go\r\n226 done\r\n"}, {{150, "150 go"}, {226, "226 done"}}, ""},
        {{"331 Pass", "word\r", "\n"}, {{331, "331 Password"}}, ""},
        {{"230 in\r\n250 O"}, {{230, "230 in"}}, "250 O"},
        // Inside a multi-line reply only "ddd " with its own code ends it.
        {{"220-Welcome\r\n220-", "second\r\n330 not the end\r\n220x\r\n", "220 ready\r\n"},
         {{220, "220-Welcome|220-second|330 not the end|220x|220 ready"}},
         ""},
        {{"220-open\r\n220-still open\r\n"}, {}, "220-open\r\n220-still open\r\n"},
        {{"200\r\n"}, {{200, "200"}}, ""},
        {{"220 unix\n331 lf only\n"}, {{220, "220 unix"}, {331, "331 lf only"}}, ""},
        // Lines that are no reply come out alone, with code 0.
        {{"hello\r\n\r\n250 OK\r\n"}, {{0, "hello"}, {0, ""}, {250, "250 OK"}}, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.chunks.front());
        FtpReplyReader reader;
        std::vector<std::pair<int, std::string>> replies;
        for (const std::string& chunk : c.chunks) {
            reader.Add(chunk);
            while (std::optional<FtpReply> reply = reader.Next()) {
                std::string joined;
                for (const std::string& line : reply->lines)
                    joined += (joined.empty() ? "" : "|") + line;
                replies.emplace_back(reply->code, joined);
            }
        }
        EXPECT_EQ(replies, c.replies);
        EXPECT_EQ(reader.Pending(), c.pending);
    }
}

TEST(FtpReplyReader, TellsAnOpenMultiLineReplyFromAnOpenLine) {
    FtpReplyReader reader;
    reader.Add("220 wel");
    EXPECT_FALSE(reader.OpensMultiLineReply());
    reader.Clear();
    reader.Add("220-wel");
    EXPECT_TRUE(reader.OpensMultiLineReply());
}
