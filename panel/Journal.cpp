#include "Journal.h"

#include <QDir>
#include <QSaveFile>
#include <QStringEncoder>

namespace {

constexpr int CONTINUATION_INDENT = 18; // the stamp's 17 characters and the blank after it

// The first character of a date or time format that is neither a field letter, a blank
// nor a quote: the separator between its fields.
QChar SeparatorOf(const QString& format, QChar fallback) {
    for (const QChar c : format)
        if (!c.isLetterOrNumber() && !c.isSpace() && c != u'\'')
            return c;
    return fallback;
}

QString TwoDigits(int number) {
    return QStringLiteral("%1").arg(number % 100, 2, 10, QLatin1Char('0'));
}

} // namespace

QString JournalStamp(const QDateTime& when, const QLocale& locale) {
    const QChar dateSeparator = SeparatorOf(locale.dateFormat(QLocale::ShortFormat), u'/');
    const QChar timeSeparator = SeparatorOf(locale.timeFormat(QLocale::ShortFormat), u':');
    const QDate date = when.date();
    const QTime time = when.time();
    return TwoDigits(date.day()) + dateSeparator + TwoDigits(date.month()) + dateSeparator +
           TwoDigits(date.year()) + u' ' + TwoDigits(time.hour()) + timeSeparator +
           TwoDigits(time.minute()) + timeSeparator + TwoDigits(time.second());
}

QString TimeStampedLine(const QDateTime& when, const QString& message, const QLocale& locale) {
    return JournalStamp(when, locale) + u' ' + message;
}

QString ContinuationLine(const QString& text) {
    return QString(CONTINUATION_INDENT, u' ') + text;
}

void TJournalModel::Append(const QString& line) {
    beginInsertRows(QModelIndex(), 0, 0);
    AppendUtf8(line);
    fEnds.push_back(fText.size());
    endInsertRows();
}

// Encodes straight into the buffer: no copy of the line on the heap on the way.
void TJournalModel::AppendUtf8(const QString& line) {
    QStringEncoder encoder(QStringEncoder::Utf8, QStringEncoder::Flag::Stateless);
    const std::size_t begin = fText.size();
    fText.resize(begin + encoder.requiredSpace(line.size()));
    const char* end = encoder.appendToBuffer(fText.data() + begin, line);
    fText.resize(end - fText.data());
}

void TJournalModel::Clear() {
    beginResetModel();
    fText = std::string();
    fEnds = std::vector<std::size_t>();
    endResetModel();
}

int TJournalModel::Count() const {
    return static_cast<int>(fEnds.size());
}

QString TJournalModel::Line(int row) const {
    if (row < 0 || row >= Count())
        return QString();
    const std::size_t index = fEnds.size() - 1 - row;
    const std::size_t begin = index == 0 ? 0 : fEnds[index - 1];
    return QString::fromUtf8(fText.data() + begin, static_cast<qsizetype>(fEnds[index] - begin));
}

// Every write and the flush before the rename are checked: on Qt 6.4 commit() does not
// report a failed flush of the bytes still in the write buffer (a journal smaller than the
// buffer goes out only there), and would put an empty or cut file in place of the old
// one. On any failure the temporary file is dropped, so the old file stays whole and no
// new file is left behind.
bool TJournalModel::SaveTo(const QString& fileName, QString& error) const {
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly)) {
        error = QStringLiteral("Cannot create file \"%1\". %2")
                    .arg(QDir::toNativeSeparators(fileName), file.errorString());
        return false;
    }
    const auto put = [&file](const char* data, std::size_t size) {
        return file.write(data, static_cast<qint64>(size)) == static_cast<qint64>(size);
    };
    bool written = true;
    std::size_t begin = 0;
    for (const std::size_t end : fEnds) {
        if (!put(fText.data() + begin, end - begin) || !put("\r\n", 2)) {
            written = false;
            break;
        }
        begin = end;
    }
    if (!written || !file.flush()) {
        // A write or flush that got part of its bytes out leaves the system's reason
        // unset; one more flush, which gets none out, brings it.
        file.flush();
        error = QStringLiteral("Cannot write file \"%1\". %2")
                    .arg(QDir::toNativeSeparators(fileName), file.errorString());
        file.cancelWriting();
        return false;
    }
    if (!file.commit()) {
        error = QStringLiteral("Cannot write file \"%1\". %2")
                    .arg(QDir::toNativeSeparators(fileName), file.errorString());
        return false;
    }
    return true;
}

int TJournalModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : Count();
}

QVariant TJournalModel::data(const QModelIndex& index, int role) const {
    if (role != Qt::DisplayRole || !checkIndex(index, CheckIndexOption::IndexIsValid))
        return QVariant();
    return Line(index.row());
}
