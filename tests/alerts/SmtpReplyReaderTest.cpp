#include "alerts/SmtpReplyReader.h"

#include "tests/support/QtPrinters.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace Qt::StringLiterals;
using alerts::SmtpReplyReader;

namespace {

struct ReplyCase {
    std::string name;
    std::vector<QByteArray> chunks; // as the socket hands them over
    std::vector<int> codes;         // the replies taken out, in order
    bool invalid = false;           // and then a refusal
};

void PrintTo(const ReplyCase& c, std::ostream* os) {
    *os << c.name;
}

class ReplyReading : public ::testing::TestWithParam<ReplyCase> {};

TEST_P(ReplyReading, TakesOutWholeRepliesAndRefusesWhatIsNone) {
    const ReplyCase& c = GetParam();
    SmtpReplyReader reader;
    std::vector<int> codes;
    bool invalid = false;
    for (const QByteArray& chunk : c.chunks) {
        reader.append(chunk);
        SmtpReplyReader::Reply reply;
        QString error;
        for (auto result = reader.next(reply, error); !invalid && result != SmtpReplyReader::Result::NeedMore;
             result = reader.next(reply, error)) {
            if (result == SmtpReplyReader::Result::Invalid) {
                invalid = true;
                EXPECT_FALSE(error.isEmpty());
                break;
            }
            codes.push_back(reply.code);
        }
    }
    EXPECT_EQ(codes, c.codes);
    EXPECT_EQ(invalid, c.invalid);
}

// A server that never ends its multi-line reply: each line short, the whole without bound.
QByteArray endlessReply() {
    QByteArray lines;
    while (lines.size() <= 2 * SmtpReplyReader::kMaxReplyBytes)
        lines += "250-" + QByteArray(60, 'x') + "\r\n";
    return lines;
}

INSTANTIATE_TEST_SUITE_P(
    Smtp, ReplyReading,
    ::testing::Values(
        ReplyCase{"Greeting", {"220 listo\r\n"}, {220}},
        ReplyCase{"MultiLineAcrossReads", {"250-uno\r\n250-AUTH LO", "GIN\r\n250 ", "ok\r\n"}, {250}},
        ReplyCase{"TwoRepliesInOneRead", {"250 ok\r\n354 datos\r\n"}, {250, 354}},
        ReplyCase{"BareLfAndCodeOnly", {"250\n"}, {250}}, ReplyCase{"NotNumbered", {"hola\r\n"}, {}, true},
        ReplyCase{"WrongSeparator", {"250xok\r\n"}, {}, true},
        // Found by fuzzing: the reply took the last line's code whatever the lines before said.
        ReplyCase{"CodesDifferWithinAReply", {"125-uno\r\n250 dos\r\n"}, {}, true},
        ReplyCase{"LineWithoutEnd", {QByteArray(SmtpReplyReader::kMaxReplyBytes + 1, '2')}, {}, true},
        ReplyCase{"MultiLineReplyWithoutEnd", {endlessReply()}, {}, true}),
    [](const auto& info) { return info.param.name; });

} // namespace
