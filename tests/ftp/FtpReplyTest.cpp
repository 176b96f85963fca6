#include "ftp/clsFTPAnswer.h"

#include <gtest/gtest.h>

TEST(FtpServerText, ControlCharactersBecomeQuestionMarksAndLineEndsStay) {
    const std::pair<std::string, std::string> cases[] = {
        {"220 ready", "220 ready"},
        {"a\x1b[31mred\x1b[0m", "a?[31mred?[0m"},     // colours, cursor moves
        {"title\x1b]0;owned\x07", "title?]0;owned?"}, // terminal title, bell
        {"over\rwrite", "over?write"},                // a lone CR rewrites the line
        {"one\r\ntwo", "one\r\ntwo"},
        {"one\ntwo", "one\r\ntwo"}, // Unix line ends of a listing
        {"tab\there\x7f", "tab?here?"},
        {std::string("nul\0byte", 8), "nul?byte"},
        {"c1 \u009b31m", "c1 ?31m"}, // CSI written in UTF-8
        {"Gr\u00fc\u00dfe\u00a0", "Gr\u00fc\u00dfe\u00a0"},
        {"cut \xc2", "cut \xc2"},
    };
    for (const auto& [in, out] : cases)
        EXPECT_EQ(PrintableServerText(in), out) << in;
}

TEST(FtpReplyReader, HandsOutEachReplyOnceItsFinalLineIsIn) {
    // Chunks as they arrive; the replies as "code:line|line" with ";" between.
    const std::tuple<std::vector<std::string>, std::string, std::string> cases[] = {
        {{"220 ready\r\n"}, "220:220 ready", ""},
        {{"150 go\r\n226 done\r\n"}, "150:150 go;226:226 done", ""},
        {{"331 Pass", "word\r", "\n"}, "331:331 Password", ""},
        {{"230 in\r\n250 O"}, "230:230 in", "250 O"},
        // Inside a multi-line reply only "ddd " with its own code ends it.
        {{"220-Welcome\r\n220-", "second\r\n330 not the end\r\n220x\r\n", "220 ready\r\n"},
         "220:220-Welcome|220-second|330 not the end|220x|220 ready",
         ""},
        {{"220-open\r\n220-still open\r\n"}, "", "220-open\r\n220-still open\r\n"},
        {{"200\r\n"}, "200:200", ""},
        {{"220 unix\n331 lf only\n"}, "220:220 unix;331:331 lf only", ""},
        // Lines that are no reply come out alone, with code 0.
        {{"hello\r\n\r\n250 OK\r\n"}, "0:hello;0:;250:250 OK", ""},
    };
    for (const auto& [chunks, replies, pending] : cases) {
        FtpReplyReader reader;
        std::string seen;
        for (const std::string& chunk : chunks) {
            reader.Add(chunk);
            while (std::optional<FtpReply> reply = reader.Next()) {
                seen += (seen.empty() ? "" : ";") + std::to_string(reply->code) + ":";
                for (std::size_t i = 0; i < reply->lines.size(); ++i)
                    seen += (i > 0 ? "|" : "") + reply->lines[i];
            }
        }
        EXPECT_EQ(seen, replies) << chunks.front();
        EXPECT_EQ(reader.Pending(), pending) << chunks.front();
    }
}
