// Power cuts over real journal traffic: the page cache model keeps, of what was written since the
// last flush, any subset of its pages, or only a prefix of its writes. Whatever it keeps, the next
// opening finds every record that was flushed, none twice, none damaged, and nothing confirmed or
// done that was not.

#include "station/IntakeJournal.h"
#include "storage/RowOutbox.h"
#include "tests/support/PageCacheModel.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <random>
#include <set>

using namespace Qt::StringLiterals;
using storage::PendingRow;
using storage::RowOutbox;
using tests::PageCacheModel;

namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr int kCuts = 150;
#else
constexpr int kCuts = 2000;
#endif

// Rows and lines of every length from a few bytes to over a page, so that records straddle pages.
QString filler(int i) {
    return QString((i * 337) % 5000, QChar(u'a' + i % 26));
}

PendingRow row(int i) {
    return {u"L%1"_s.arg(i),
            QDateTime(QDate(2024, 3, 9), QTime(10, 42, 7)).addMSecs(i),
            {u"P01"_s, filler(i), 12.5}};
}

void emptyFolder(const QString& path) {
    QDir dir(path);
    for (const QString& name : dir.entryList(QDir::Files | QDir::Hidden))
        dir.remove(name);
}

class JournalPowerCut : public ::testing::TestWithParam<PageCacheModel::Cut> {
protected:
    QTemporaryDir m_dir;
};

} // namespace

TEST_P(JournalPowerCut, RowOutboxKeepsEveryFlushedRowOnceAndConfirmsNothingMore) {
    const QString path = m_dir.filePath(RowOutbox::kFileName.toString());
    std::mt19937 random(7);
    for (int cut = 0; cut < kCuts; ++cut) {
        emptyFolder(m_dir.path());
        PageCacheModel disk;
        int appended = 0;
        int confirmed = 0;        // rows 0..confirmed-1 are in the database
        int flushed = 0;          // rows 0..flushed-1 were on the disk at the last flush
        int confirmedFlushed = 0; // what was confirmed at the last flush
        {
            RowOutbox outbox(path, disk);
            const int steps = std::uniform_int_distribution(1, 40)(random);
            for (int step = 0; step < steps; ++step) {
                const int what = std::uniform_int_distribution(0, 9)(random);
                if (what < 5) {
                    for (int n = std::uniform_int_distribution(1, 4)(random); n > 0; --n)
                        outbox.append(row(appended++));
                } else if (what < 7) {
                    outbox.sync();
                    flushed = appended;
                    confirmedFlushed = confirmed;
                } else {
                    // Some rows confirmed, or all of them (the file is then cut back).
                    const qsizetype most = what == 9 ? appended : std::uniform_int_distribution(1, 5)(random);
                    const std::vector<RowOutbox::Entry> sent = outbox.read(outbox.confirmedPosition(), most);
                    if (!sent.empty()) {
                        outbox.confirm(sent.back().end);
                        confirmed += int(sent.size());
                    }
                }
            }
            ASSERT_FALSE(outbox.blocked());
        }
        disk.cut(GetParam(), random);

        const RowOutbox outbox(path);
        ASSERT_FALSE(outbox.blocked()) << outbox.blockedReason().toStdString();
        std::vector<int> found;
        for (qint64 from = outbox.confirmedPosition();;) {
            const std::vector<RowOutbox::Entry> batch = outbox.read(from, 64);
            if (batch.empty())
                break;
            for (const RowOutbox::Entry& entry : batch) {
                const int i = entry.row.lectura.mid(1).toInt();
                ASSERT_EQ(entry.row, row(i)) << "cut " << cut;
                found.push_back(i);
            }
            from = batch.back().end;
        }
        ASSERT_TRUE(std::is_sorted(found.begin(), found.end()) &&
                    std::adjacent_find(found.begin(), found.end()) == found.end())
            << "cut " << cut << ": rows out of order or twice";
        const std::set<int> back(found.begin(), found.end());
        for (int i = confirmed; i < flushed; ++i)
            ASSERT_TRUE(back.contains(i)) << "cut " << cut << ": flushed row " << i << " lost";
        for (int i = 0; i < confirmedFlushed; ++i)
            ASSERT_FALSE(back.contains(i)) << "cut " << cut << ": confirmed row " << i << " came back";
        ASSERT_TRUE(found.empty() || found.back() < appended);
    }
}

TEST_P(JournalPowerCut, IntakeJournalKeepsEveryFlushedLineOnceAndMarksNothingMoreDone) {
    const QString path = m_dir.filePath(station::IntakeJournal::kFileName.toString());
    std::mt19937 random(11);
    const auto text = [](quint64 sequence) { return u"linea %1 "_s.arg(sequence) + filler(int(sequence)); };
    for (int cut = 0; cut < kCuts; ++cut) {
        emptyFolder(m_dir.path());
        PageCacheModel disk;
        quint64 appended = 0;
        std::set<quint64> undone;
        quint64 flushed = 0; // lines 0..flushed-1 were on the disk at the last flush
        std::set<quint64> doneFlushed;
        {
            station::IntakeJournal journal(path, disk);
            ASSERT_TRUE(journal.recover().lines.empty());
            const int steps = std::uniform_int_distribution(1, 40)(random);
            for (int step = 0; step < steps; ++step) {
                const int what = std::uniform_int_distribution(0, 9)(random);
                if (what < 5) {
                    std::vector<station::JournaledLine> lines;
                    for (int n = std::uniform_int_distribution(1, 4)(random); n > 0; --n, ++appended) {
                        lines.push_back({{1, appended}, 3, text(appended)});
                        undone.insert(appended);
                    }
                    journal.append(lines);
                } else if (what < 7) {
                    // Lines worked, in any order; sometimes all of them (the file is then cut back).
                    for (auto it = undone.begin(); it != undone.end();) {
                        if (std::bernoulli_distribution(what == 6 ? 1.0 : 0.4)(random)) {
                            journal.markDone({1, *it});
                            it = undone.erase(it);
                        } else {
                            ++it;
                        }
                    }
                } else {
                    // The group commit: the marks taken are written and everything is flushed.
                    const std::vector<base::LineId> marks = journal.takeDoneMarks();
                    for (const base::LineId& id : marks)
                        doneFlushed.insert(id.sequence);
                    journal.writeDoneMarks(marks);
                    flushed = appended;
                }
            }
            ASSERT_FALSE(journal.blocked());
        }
        disk.cut(GetParam(), random);

        station::IntakeJournal journal(path);
        const station::IntakeJournal::Recovered recovered = journal.recover();
        std::vector<quint64> found;
        for (const station::JournaledLine& line : recovered.lines) {
            ASSERT_EQ(line.text, text(line.id.sequence)) << "cut " << cut;
            found.push_back(line.id.sequence);
        }
        ASSERT_TRUE(std::is_sorted(found.begin(), found.end()) &&
                    std::adjacent_find(found.begin(), found.end()) == found.end())
            << "cut " << cut << ": lines out of order or twice";
        const std::set<quint64> back(found.begin(), found.end());
        for (quint64 s = 0; s < flushed; ++s) {
            if (doneFlushed.contains(s))
                ASSERT_FALSE(back.contains(s)) << "cut " << cut << ": line " << s << " done and back";
            else
                ASSERT_TRUE(back.contains(s)) << "cut " << cut << ": flushed line " << s << " lost";
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Disk, JournalPowerCut,
                         ::testing::Values(PageCacheModel::Cut::AnySubsetOfPages,
                                           PageCacheModel::Cut::PrefixOfWrites),
                         [](const auto& info) {
                             return info.param == PageCacheModel::Cut::AnySubsetOfPages ? "AnySubsetOfPages"
                                                                                        : "PrefixOfWrites";
                         });
