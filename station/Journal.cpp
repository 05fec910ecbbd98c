#include "Journal.h"

#include <QDir>
#include <QSaveFile>
#include <QStringEncoder>
#include <algorithm>
#include <cstring>
#include <iterator>

namespace {

constexpr int CONTINUATION_INDENT = 18; // the stamp's 17 characters and the blank after it
// What 16-bit offsets can reach: about 1,400 lines of the station's own.
constexpr std::size_t BLOCK_BYTES = 65536;

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
    QStringEncoder encoder(QStringEncoder::Utf8, QStringEncoder::Flag::Stateless);
    fEncoded.resize(encoder.requiredSpace(line.size()));
    const char* end = encoder.appendToBuffer(fEncoded.data(), line);
    const auto bytes = static_cast<std::size_t>(end - fEncoded.data());

    beginInsertRows(QModelIndex(), 0, 0);
    TBlock& block = BlockWithRoom(bytes);
    block.Starts.push_back(static_cast<std::uint16_t>(block.Size));
    std::memcpy(block.Text.get() + block.Size, fEncoded.data(), bytes);
    block.Size += bytes;
    ++fCount;
    endInsertRows();
}

// A line starts in a block only where its start fits in the block's 16-bit offsets; a
// line longer than a block gets a block of its own.
TJournalModel::TBlock& TJournalModel::BlockWithRoom(std::size_t bytes) {
    if (!fBlocks.empty() && fBlocks.back().Size + bytes < fBlocks.back().Capacity)
        return fBlocks.back();
    if (!fBlocks.empty())
        fBlocks.back().Starts.shrink_to_fit();
    TBlock& block = fBlocks.emplace_back();
    block.Capacity = std::max(BLOCK_BYTES, bytes + 1);
    block.Text = std::make_unique_for_overwrite<char[]>(block.Capacity);
    block.FirstLine = fCount;
    return block;
}

void TJournalModel::Clear() {
    beginResetModel();
    fBlocks = std::vector<TBlock>();
    fCount = 0;
    endResetModel();
}

int TJournalModel::Count() const {
    return fCount;
}

std::string_view TJournalModel::Utf8(int index) const {
    const auto after =
        std::upper_bound(fBlocks.begin(), fBlocks.end(), index,
                         [](int line, const TBlock& block) { return line < block.FirstLine; });
    const TBlock& block = *std::prev(after);
    return LineOf(block, static_cast<std::size_t>(index - block.FirstLine));
}

// The line ends where the next one in the block begins, the block's last at its size.
std::string_view TJournalModel::LineOf(const TBlock& block, std::size_t inBlock) {
    const std::size_t begin = block.Starts[inBlock];
    const std::size_t end =
        inBlock + 1 < block.Starts.size() ? block.Starts[inBlock + 1] : block.Size;
    return {block.Text.get() + begin, end - begin};
}

QString TJournalModel::Line(int row) const {
    if (row < 0 || row >= fCount)
        return QString();
    const std::string_view text = Utf8(fCount - 1 - row);
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
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
    const auto put = [&file](std::string_view data) {
        return file.write(data.data(), static_cast<qint64>(data.size())) ==
               static_cast<qint64>(data.size());
    };
    bool written = true;
    for (const TBlock& block : fBlocks) {
        for (std::size_t inBlock = 0; written && inBlock < block.Starts.size(); ++inBlock)
            written = put(LineOf(block, inBlock)) && put("\r\n");
        if (!written)
            break;
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
