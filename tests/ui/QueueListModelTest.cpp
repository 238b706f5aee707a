#include "ui/QueueListModel.h"
#include "tests/support/QtPrinters.h"

#include <QSignalSpy>

#include <gtest/gtest.h>

#include <vector>

using namespace Qt::StringLiterals;

namespace {

using ui::QueueListModel;

struct Step {
    bool append; // else a removal
    quint64 sequence;
};

struct QueueCase {
    const char* name;
    std::vector<Step> steps;
    std::vector<quint64> shown; // sequences in the list after one apply
};

std::vector<quint64> shownSequences(const QueueListModel& model) {
    std::vector<quint64> out;
    for (int row = 0; row < model.rowCount(); ++row)
        out.push_back(model.sequenceAt(row));
    return out;
}

class QueueListModelCases : public ::testing::TestWithParam<QueueCase> {};

TEST_P(QueueListModelCases, ShowsWhatIsStillQueued) {
    QueueListModel model;
    for (const Step& step : GetParam().steps) {
        if (step.append)
            model.noteAppended(step.sequence, u"line %1"_s.arg(step.sequence));
        else
            model.noteRemoved(step.sequence);
    }
    model.apply();
    EXPECT_EQ(shownSequences(model), GetParam().shown);
    for (int row = 0; row < model.rowCount(); ++row)
        EXPECT_EQ(model.lineAt(row), u"line %1"_s.arg(model.sequenceAt(row)));
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Steps, QueueListModelCases, ::testing::Values(
    QueueCase{"InOrder", {{true, 1}, {true, 2}, {true, 3}}, {1, 2, 3}},
    QueueCase{"FrontRemoved", {{true, 1}, {true, 2}, {true, 3}, {false, 1}}, {2, 3}},
    QueueCase{"RemovalBeforeItsAppend", {{false, 1}, {true, 1}, {true, 2}}, {2}},
    // Devices are served in turn: an item may leave before older ones of other devices.
    QueueCase{"RemovalLeavesTheOthers", {{true, 1}, {true, 2}, {true, 3}, {false, 2}}, {1, 3}},
    QueueCase{"RemovalsOutOfOrder", {{true, 1}, {true, 2}, {true, 3}, {true, 4}, {false, 3}, {false, 1}}, {2, 4}},
    QueueCase{"AppendsOvertaken", {{true, 3}, {true, 1}, {true, 2}}, {1, 2, 3}},
    QueueCase{"Everything gone", {{true, 1}, {true, 2}, {false, 2}, {false, 1}}, {}}),
    [](const auto& info) {
        std::string name = info.param.name;
        std::erase(name, ' ');
        return name;
    });
// clang-format on

TEST(QueueListModel, LateAppendAndOvertakenAppendAcrossFrames) {
    QueueListModel model;
    model.noteAppended(1, u"a"_s);
    model.noteAppended(3, u"c"_s);
    model.apply();
    // Sequence 2 was announced late by its connection thread; 1 has gone meanwhile.
    model.noteRemoved(1);
    model.noteAppended(2, u"b"_s);
    model.apply();
    EXPECT_EQ(shownSequences(model), (std::vector<quint64>{2, 3}));
    // An append that arrives after its own removal, a frame later, never shows up.
    model.noteRemoved(3);
    model.noteRemoved(4);
    model.apply();
    EXPECT_EQ(shownSequences(model), (std::vector<quint64>{2}));
    model.noteAppended(4, u"d"_s);
    model.apply();
    EXPECT_EQ(shownSequences(model), (std::vector<quint64>{2}));
}

TEST(QueueListModel, BurstGoesInAsOneBlock) {
    QueueListModel model;
    QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
    QSignalSpy removed(&model, &QAbstractItemModel::rowsRemoved);
    for (quint64 s = 1; s <= 5000; ++s)
        model.noteAppended(s, u"line"_s);
    model.apply();
    for (quint64 s = 1; s <= 4000; ++s)
        model.noteRemoved(s);
    model.apply();
    EXPECT_EQ(inserted.count(), 1);
    EXPECT_EQ(removed.count(), 1);
    EXPECT_EQ(model.rowCount(), 1000);
    EXPECT_EQ(model.sequenceAt(0), 4001u);
}

TEST(QueueListModel, ShowsControlCharactersAsBlanks) {
    EXPECT_EQ(QueueListModel::displayText(u"\u0002"
                                          "10.0.0.1\t123456!X\n"_s),
              u"10.0.0.1 123456!X"_s);
}

} // namespace
