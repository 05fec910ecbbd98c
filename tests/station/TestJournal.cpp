#include "FileSizeLimit.h"
#include "Journal.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <malloc.h>

namespace {

QByteArray ReadAll(const QString& fileName) {
    QFile file(fileName);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

double HeapInUse() {
    const struct mallinfo2 info = mallinfo2();
    return static_cast<double>(info.uordblks + info.hblkhd);
}

} // namespace

TEST(JournalLines, StampUsesTheLocalesSeparatorsAndLinesUpContinuations) {
    const QDateTime when(QDate(2027, 2, 1), QTime(9, 3, 7));
    const QLocale british(QLocale::English, QLocale::UnitedKingdom);
    EXPECT_EQ(TimeStampedLine(when, "Go", british), "01/02/27 09:03:07 Go");
    EXPECT_EQ(JournalStamp(when, QLocale(QLocale::German)), "01.02.27 09:03:07");
    EXPECT_EQ(JournalStamp(when, QLocale(QLocale::Finnish)), "01.02.27 09.03.07");
    EXPECT_EQ(JournalStamp(when.addSecs(14 * 3600), QLocale(QLocale::English)), "01/02/27 23:03:07")
        << "day first and a 24-hour clock in every locale";
    EXPECT_EQ(ContinuationLine("x"), QString(18, ' ') + "x");
}

TEST(JournalModel, ShowsNewestFirstSavesOldestFirstInUtf8AndClears) {
    QTemporaryDir folder;
    const QString accented = QString::fromUtf8("Température 25 °C ✓");
    TJournalModel journal;
    for (const QString& line : {QString("A"), QString("B"), accented})
        journal.Append(line);
    EXPECT_EQ(journal.data(journal.index(0)).toString(), accented);
    EXPECT_EQ(journal.Line(2), "A");

    QString error;
    ASSERT_TRUE(journal.SaveTo(folder.filePath("j.log"), error)) << error.toStdString();
    EXPECT_EQ(ReadAll(folder.filePath("j.log")), "A\r\nB\r\n" + accented.toUtf8() + "\r\n");
    journal.Clear();
    journal.Append("D");
    EXPECT_EQ(journal.rowCount(), 1);
    EXPECT_EQ(journal.Line(0), "D");
}

TEST(JournalModel, FailedSaveNamesFileAndReasonAndKeepsTheJournal) {
    QTemporaryDir folder;
    TJournalModel journal;
    journal.Append("A");
    const QString fileName = folder.filePath("missing/journal.log");
    QString error;
    EXPECT_FALSE(journal.SaveTo(fileName, error));
    EXPECT_TRUE(error.contains(fileName)) << error.toStdString();
    EXPECT_GT(error.size(), fileName.size() + 20) << error.toStdString();
    EXPECT_EQ(journal.Line(0), "A");
}

TEST(JournalModel, FullDiskFailsTheSaveAndKeepsTheOldFileAndTheJournal) {
    QTemporaryDir folder;
    const QString fileName = folder.filePath("j.log");
    TJournalModel journal;
    journal.Append("old");
    QString error;
    ASSERT_TRUE(journal.SaveTo(fileName, error)) << error.toStdString();
    for (int i = 0; i < 1000; ++i)
        journal.Append(QString("line %1 of a journal that outgrows the disk").arg(i));
    {
        const FileSizeLimit full(4096);
        EXPECT_FALSE(journal.SaveTo(fileName, error));
    }
    EXPECT_TRUE(error.contains(fileName)) << error.toStdString();
    EXPECT_EQ(ReadAll(fileName), "old\r\n") << "the old file stays whole";
    EXPECT_EQ(QDir(folder.path()).entryList(QDir::Files), QStringList{"j.log"});
    EXPECT_EQ(journal.Count(), 1001);
    ASSERT_TRUE(journal.SaveTo(fileName, error)) << "saves once there is room again";
    EXPECT_EQ(ReadAll(fileName).count("\r\n"), 1001);
}

// How fast is the benchmark's to say (control7710-bench, journal_window_append).
TEST(JournalModel, AMillionLinesReadBackRight) {
    const QString text = "01/02/27 09:03:07 [STATUS] INPUT A VIDEO SYNC: ERROR  line ";
    TJournalModel journal;
    for (int i = 0; i < 1000000; ++i)
        journal.Append(text + QString::number(i));
    EXPECT_EQ(journal.Count(), 1000000);
    EXPECT_EQ(journal.Line(0), text + "999999");
    EXPECT_EQ(journal.Line(999999), text + "0");
}

TEST(JournalModel, LinesAtBlockEdgesLongAndEmptyLinesReadAndSaveWhole) {
    QTemporaryDir folder;
    TJournalModel journal;
    std::vector<QString> added;
    const auto add = [&](const QString& line) {
        journal.Append(line);
        added.push_back(line);
    };
    // One-byte lines up to past the end of a block, then empty lines where one would
    // start at the block's very last offset.
    for (int i = 0; i < 65536; ++i)
        add("x");
    add("");
    add("");
    add(QString(100000, u'L'));
    add(QString::fromUtf8("après"));
    for (int i = 0; i < 3000; ++i)
        add(QString("line %1 of a journal that fills a few blocks").arg(i));

    ASSERT_EQ(journal.Count(), static_cast<int>(added.size()));
    for (int row = 0; row < journal.Count(); ++row)
        ASSERT_EQ(journal.Line(row), added[added.size() - 1 - row]) << "row " << row;

    QString error;
    ASSERT_TRUE(journal.SaveTo(folder.filePath("j.log"), error)) << error.toStdString();
    QByteArray expected;
    for (const QString& line : added)
        expected += line.toUtf8() + "\r\n";
    EXPECT_EQ(ReadAll(folder.filePath("j.log")), expected);
}

TEST(JournalModel, ALineTakesItsTextAndAFewBytesMore) {
    const QString text = "01/02/27 09:03:07 [STATUS] INPUT A VIDEO SYNC: ERROR";
    const int lines = 200000;
    const double before = HeapInUse();
    TJournalModel journal;
    for (int i = 0; i < lines; ++i)
        journal.Append(text);
    const double perLine = (HeapInUse() - before) / lines - text.size();
    EXPECT_LT(perLine, 4) << "bytes a line beyond the UTF-8 text";
}
