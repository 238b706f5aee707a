#include "station/LineSplitter.h"
#include "tests/support/QtPrinters.h"

#include <QStringList>

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace Qt::StringLiterals;
using station::LineSplitter;
using Result = LineSplitter::Result;

namespace {

struct SplitCase {
    std::string name;
    std::vector<QByteArray> chunks;
    QStringList lines;
    Result result = Result::Ok;
    qsizetype pending = 0;
};

void PrintTo(const SplitCase& c, std::ostream* os) {
    *os << c.name;
}

QByteArray bytes(qsizetype count, char byte = 'x') {
    return QByteArray(count, byte);
}

struct Outcome {
    QStringList lines;
    Result result = Result::Ok;
    qsizetype pending = 0;
};

Outcome split(const std::vector<QByteArray>& chunks, bool byteByByte) {
    LineSplitter splitter;
    Outcome outcome;
    const auto onLine = [&](QByteArrayView line) { outcome.lines << LineSplitter::decode(line); };
    const auto feed = [&](QByteArrayView bytes) {
        if (splitter.feed(bytes, onLine) == Result::LineCut)
            outcome.result = Result::LineCut;
    };
    for (const QByteArray& chunk : chunks) {
        if (byteByByte) {
            for (qsizetype i = 0; i < chunk.size(); ++i)
                feed(QByteArrayView(chunk).sliced(i, 1));
        } else {
            feed(chunk);
        }
    }
    outcome.pending = splitter.pendingSize();
    return outcome;
}

class LineSplitterCase : public ::testing::TestWithParam<SplitCase> {};

// However the bytes are cut into segments, the lines come out the same.
TEST_P(LineSplitterCase, GivesTheSameLinesWholeAndByteByByte) {
    const SplitCase& c = GetParam();
    for (const bool byteByByte : {false, true}) {
        SCOPED_TRACE(byteByByte ? "byte by byte" : "whole chunks");
        const Outcome outcome = split(c.chunks, byteByByte);
        EXPECT_EQ(outcome.lines, c.lines);
        EXPECT_EQ(outcome.result, c.result);
        EXPECT_EQ(outcome.pending, c.pending);
    }
}

const QString kFffd(QChar::ReplacementCharacter);

INSTANTIATE_TEST_SUITE_P(
    Lines, LineSplitterCase,
    ::testing::Values(
        SplitCase{"CrLfThenLfInOneSegment", {"A\r\nB\n"}, {u"A"_s, u"B"_s}},
        SplitCase{"OnlyTheLastCrGoes", {"A\r\r\n"}, {u"A\r"_s}},
        SplitCase{"InnerCrStays", {"A\rB\n"}, {u"A\rB"_s}}, SplitCase{"EmptyLine", {"\n"}, {QString()}},
        SplitCase{"LoneCrIsNoLine", {"A\r"}, {}, Result::Ok, 2},
        SplitCase{"LineAcrossSegmentsAndARest", {"AB", "C\r", "\nD"}, {u"ABC"_s}, Result::Ok, 1},
        SplitCase{"HighBytesBecomeReplacementCharacters",
                  {QByteArray("A\xC3\xA9\x00\x7F\x80\xFF\n", 8)},
                  {u"A"_s + kFffd + kFffd + QChar(0) + QChar(0x7F) + kFffd + kFffd}},
        SplitCase{"LongestLine", {bytes(16384) + '\n'}, {QString(16384, u'x')}},
        SplitCase{"LongestLineWithItsCr", {bytes(16383) + "\r\n"}, {QString(16383, u'x')}},
        SplitCase{"OneByteTooLongIsCut", {bytes(16385) + '\n'}, {QString(16384, u'x')}, Result::LineCut},
        SplitCase{
            "CrCountsTowardsTheLimit", {bytes(16384) + "\r\n"}, {QString(16384, u'x')}, Result::LineCut},
        SplitCase{"LongestPartialIsKept", {bytes(16384)}, {}, Result::Ok, 16384},
        // Without an LF the line is cut at once and its rest dropped as it comes: memory stays
        // bounded however long the device goes on.
        SplitCase{"TooLongWithoutLf", {bytes(16385), bytes(70000)}, {QString(16384, u'x')}, Result::LineCut},
        SplitCase{"TheLinesAroundACutOneAreKept",
                  {"A\n" + bytes(20000, 'y'), bytes(5000) + "\r\nB", "\n"},
                  {u"A"_s, QString(16384, u'y'), u"B"_s},
                  Result::LineCut}),
    [](const auto& info) { return info.param.name; });

} // namespace
