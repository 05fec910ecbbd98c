#pragma once

// The journal's lines and the list behind the window's journal view. The journal keeps
// every line for as long as the station runs, so adding a line costs the same however
// long it already is, and a line takes its UTF-8 text and two bytes more.

#include <QAbstractListModel>
#include <QDateTime>
#include <QLocale>
#include <QString>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// "dd/mm/yy hh:nn:ss" with the locale's date and time separators, 24-hour clock.
QString JournalStamp(const QDateTime& when, const QLocale& locale = QLocale());
// The stamp, one blank, then the message.
QString TimeStampedLine(const QDateTime& when, const QString& message,
                        const QLocale& locale = QLocale());
// 18 blanks, then the text: lines up under the message of a time-stamped line.
QString ContinuationLine(const QString& text);

// The journal's lines, newest first: row 0 is the line added last.
class TJournalModel : public QAbstractListModel {
    Q_OBJECT

public:
    using QAbstractListModel::QAbstractListModel;

    void Append(const QString& line);
    void Clear();
    int Count() const;
    // Row 0 is the newest line.
    QString Line(int row) const;
    // Writes every line, oldest first, each ended by CR LF, in UTF-8, replacing the file's
    // content. The old content stays in place unless the whole journal was written. On
    // failure gives false and a reason that names the file and what the system said.
    bool SaveTo(const QString& fileName, QString& error) const;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

private:
    // Lines back to back in UTF-8, oldest first, and where each begins in the block. A
    // full block is never moved or grown, so the journal never copies its text again.
    struct TBlock {
        std::unique_ptr<char[]> Text;
        std::size_t Size = 0;
        std::size_t Capacity = 0;
        int FirstLine = 0;
        std::vector<std::uint16_t> Starts;
    };

    // The line added as the index-th, counting from the oldest.
    std::string_view Utf8(int index) const;
    static std::string_view LineOf(const TBlock& block, std::size_t inBlock);
    TBlock& BlockWithRoom(std::size_t bytes);

    std::vector<TBlock> fBlocks;
    int fCount = 0;
    // The line being added, encoded; kept to spare an allocation per line.
    std::string fEncoded;
};
