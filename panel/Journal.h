#pragma once

// The journal's lines and the list behind the window's journal view. The journal keeps
// every line for as long as the station runs, so adding a line costs the same however
// long it already is.

#include <QAbstractListModel>
#include <QDateTime>
#include <QLocale>
#include <QString>
#include <string>
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
    void AppendUtf8(const QString& line);

    // Every line's UTF-8 text back to back, oldest first, and where each line ends.
    std::string fText;
    std::vector<std::size_t> fEnds;
};
