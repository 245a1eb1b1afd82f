#include "execute_record.h"

#include "file_list/file_list_model.h"
#include "row_folders.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QRandomGenerator>
#include <QtEndian>

namespace {

// The form written; a record of a higher one is left to the version that wrote it.
constexpr quint32 recordVersion = 1;
constexpr QByteArrayView magic = "batch-renamer record\n";
// Rows are written in entries of about this many bytes, so that no entry needs the whole plan.
constexpr qsizetype rowsEntryBytes = 1 << 16;

// An entry: its length and checksum, then its kind and what it holds.
enum Kind : char {
    Header = 'H',
    FolderText = 'G',
    Rows = 'R',
    FolderOpened = 'D',
    AboutToMove = 'B',
    TemporaryName = 'T',
    Moved = 'M',
    Failed = 'F',
    PlacedElsewhere = 'P',
    TakenBack = 'U',
    Complete = 'C',
};

quint32 checksum(QByteArrayView bytes)
{
    const QByteArray hash = QCryptographicHash::hash(bytes, QCryptographicHash::Md5);
    return qFromLittleEndian<quint32>(hash.constData());
}

// Little-endian numbers and sized byte strings, written and read with every bound checked.
struct Writer
{
    QByteArray bytes;
    template <typename T> Writer& number(T value)
    {
        const T little = qToLittleEndian(value);
        bytes.append(reinterpret_cast<const char*>(&little), sizeof little);
        return *this;
    }
    Writer& text(QByteArrayView value)
    {
        number(quint32(value.size()));
        bytes.append(value);
        return *this;
    }
    Writer& folder(const Platform::FolderIdentity& id)
    {
        return number(id.volume).number(id.index).number(id.indexHigh).number(id.born).number(quint8(id.fat));
    }
    Writer& file(const Platform::FileIdentity& id)
    {
        return number(id.volume)
            .number(id.index)
            .number(id.indexHigh)
            .number(id.born)
            .number(id.size)
            .number(quint8(id.fat));
    }
};

struct Reader
{
    QByteArrayView bytes;
    bool ok = true;
    template <typename T> T number()
    {
        if (bytes.size() < qsizetype(sizeof(T))) {
            ok = false;
            return T {};
        }
        const T value = qFromLittleEndian<T>(bytes.data());
        bytes = bytes.sliced(sizeof(T));
        return value;
    }
    QByteArray text()
    {
        const quint32 size = number<quint32>();
        if (!ok || bytes.size() < qsizetype(size)) {
            ok = false;
            return {};
        }
        const QByteArray value = bytes.first(size).toByteArray();
        bytes = bytes.sliced(size);
        return value;
    }
    Platform::FolderIdentity folder()
    {
        Platform::FolderIdentity id;
        id.volume = number<quint64>();
        id.index = number<quint64>();
        id.indexHigh = number<quint64>();
        id.born = number<quint64>();
        id.fat = number<quint8>() != 0;
        return id;
    }
    Platform::FileIdentity file()
    {
        Platform::FileIdentity id;
        id.volume = number<quint64>();
        id.index = number<quint64>();
        id.indexHigh = number<quint64>();
        id.born = number<quint64>();
        id.size = number<quint64>();
        id.fat = number<quint8>() != 0;
        return id;
    }
};

QByteArray entry(char kind, const QByteArray& payload)
{
    QByteArray body;
    body.reserve(payload.size() + 1);
    body.append(kind);
    body.append(payload);
    return Writer().number(quint32(body.size())).number(checksum(body)).bytes + body;
}

// Whether `text` is a folder beneath the searched one as the scan writes it: plain names, each
// followed by the separator, or nothing for the searched folder itself.
bool isFolderBeneath(QByteArrayView text)
{
    if (text.isEmpty())
        return true;
    if (!Platform::isSeparator(text.back()))
        return false;
    qsizetype start = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (!Platform::isSeparator(text[i]))
            continue;
        if (!isPlainFileName(text.sliced(start, i - start)))
            return false;
        start = i + 1;
    }
    return true;
}

// Reads the header and the plan's rows: false when what they say could lead outside the searched
// folder or name anything but a plain name.
bool readPlanEntry(char kind, Reader& in, ReadRecord& record)
{
    if (kind == FolderText) {
        const quint32 index = in.number<quint32>();
        QByteArray text = in.text();
        if (!in.ok || record.folders.contains(index) || !isFolderBeneath(text))
            return false;
        record.folders.insert(index, { std::move(text), std::nullopt });
        return true;
    }
    while (in.ok && !in.bytes.isEmpty()) {
        ReadRecord::Row row;
        row.folder = in.number<quint32>();
        row.base = in.text();
        row.ext = in.text();
        if (!in.ok || !record.folders.contains(row.folder) || !isPlainFileName(row.base + row.ext)
            || !isPlainFileName(record.newName(row)))
            return false;
        record.rows.push_back(std::move(row));
    }
    return in.ok;
}

// Reads an entry of what happened: false when it names a row or folder the plan does not have.
bool readEventEntry(char kind, Reader& in, ReadRecord& record)
{
    if (kind == Complete) {
        record.complete = true;
        return true;
    }
    const quint32 index = in.number<quint32>();
    if (!in.ok || (kind == FolderOpened ? !record.folders.contains(index) : index >= record.rows.size()))
        return false;
    switch (kind) {
    case FolderOpened:
        record.folders[index].identity = in.folder();
        break;
    case AboutToMove:
        record.aboutToMove.insert(index, in.file());
        break;
    case Moved:
        record.moved.insert(index, in.file());
        break;
    case TemporaryName: {
        const QByteArray name = in.text();
        if (!isPlainFileName(name))
            return false;
        record.temporaryNames[index].append(name);
        break;
    }
    case Failed:
        record.failed.insert(index);
        break;
    case PlacedElsewhere: {
        QByteArray path = in.text();
        const Platform::FileIdentity file = in.file();
        // Outside the searched folder, but only ever a file's path, whose file must still be the
        // recorded one before anything moves it.
        if (!isPlainFileName(entryNameOf(path)))
            return false;
        record.placedElsewhere.insert(index, { std::move(path), file });
        break;
    }
    case TakenBack:
        record.takenBack.insert(index);
        break;
    default:
        return false;
    }
    return in.ok && in.bytes.isEmpty();
}

} // namespace

ExecuteRecord ExecuteRecord::start(const QByteArray& folder, const FileListModel& list,
    const std::vector<int>& rows, const QByteArray& value, NameMode mode, int& error)
{
    QByteArray plan = magic.toByteArray();
    Writer header;
    header.number(recordVersion)
        .number(quint8(mode))
        .text(value)
        .text(list.searchedFolder())
        .folder(list.searchedIdentity());
    plan += entry(Header, header.bytes);
    // The folders by the list's numbers, each written before the first row in it.
    QSet<quint32> written;
    Writer chunk;
    for (const int row : rows) {
        const quint32 folder = list.folderId(row);
        if (!written.contains(folder)) {
            written.insert(folder);
            // Beneath the searched folder, which every row's folder begins with.
            const QByteArray text = list.folder(row);
            plan += entry(FolderText,
                Writer()
                    .number(folder)
                    .text(QByteArrayView(text).sliced(list.searchedFolder().size()))
                    .bytes);
        }
        chunk.number(folder).text(list.base(row)).text(list.ext(row));
        if (chunk.bytes.size() >= rowsEntryBytes) {
            plan += entry(Rows, chunk.bytes);
            chunk.bytes.clear();
        }
    }
    if (!chunk.bytes.isEmpty())
        plan += entry(Rows, chunk.bytes);
    // Named by the time it began, so that the names sort as the executes were made.
    const QByteArray name = QByteArray::number(QDateTime::currentMSecsSinceEpoch()).rightJustified(16, '0')
        + '-' + QByteArray::number(QRandomGenerator::global()->generate64(), 16) + ".record";
    return ExecuteRecord(Platform::RecordFile::create(folder, name, plan, error));
}

void ExecuteRecord::add(char kind, const QByteArray& payload)
{
    if (!isKept())
        return;
    const QByteArray bytes = entry(kind, payload);
    const std::lock_guard lock(*m_appending);
    if (!m_failing)
        m_failing = m_file.append(bytes) != 0;
}

void ExecuteRecord::folderOpened(quint32 folder, const Platform::FolderIdentity& identity)
{
    add(FolderOpened, Writer().number(folder).folder(identity).bytes);
}

void ExecuteRecord::aboutToMove(quint32 row, const Platform::FileIdentity& file)
{
    add(AboutToMove, Writer().number(row).file(file).bytes);
}

void ExecuteRecord::temporaryName(quint32 row, const QByteArray& temporary)
{
    add(TemporaryName, Writer().number(row).text(temporary).bytes);
}

void ExecuteRecord::moved(quint32 row, const Platform::FileIdentity& file)
{
    add(Moved, Writer().number(row).file(file).bytes);
}

void ExecuteRecord::placedElsewhere(quint32 row, const QByteArray& path, const Platform::FileIdentity& file)
{
    add(PlacedElsewhere, Writer().number(row).text(path).file(file).bytes);
}

void ExecuteRecord::failed(quint32 row)
{
    add(Failed, Writer().number(row).bytes);
}

void ExecuteRecord::takenBack(quint32 row)
{
    add(TakenBack, Writer().number(row).bytes);
}

void ExecuteRecord::complete()
{
    add(Complete, {});
}

void ExecuteRecord::release(bool whole)
{
    if (whole)
        m_file.remove();
    m_file = {};
}

std::optional<ReadRecord> readRecord(const QByteArray& bytes)
{
    if (!bytes.startsWith(magic))
        return std::nullopt;
    Reader in { QByteArrayView(bytes).sliced(magic.size()) };
    ReadRecord record;
    bool headerRead = false;
    bool rowsRead = false; // the plan ends where the first entry of what happened begins
    while (!in.bytes.isEmpty()) {
        const quint32 size = in.number<quint32>();
        const quint32 sum = in.number<quint32>();
        if (!in.ok || size == 0 || in.bytes.size() < qsizetype(size) || checksum(in.bytes.first(size)) != sum)
            break; // torn or corrupt: what follows cannot be trusted to be what was written
        const char kind = in.bytes.front();
        Reader body { in.bytes.sliced(1, size - 1) };
        in.bytes = in.bytes.sliced(size);
        if (!headerRead) {
            if (kind != Header)
                return std::nullopt;
            const quint32 version = body.number<quint32>();
            const quint8 mode = body.number<quint8>();
            record.value = body.text();
            record.searchedFolder = body.text();
            record.searchedIdentity = body.folder();
            if (!body.ok || version != recordVersion || mode > quint8(NameMode::NewExtension)
                || record.searchedFolder.isEmpty())
                return std::nullopt;
            record.mode = NameMode(mode);
            headerRead = true;
            continue;
        }
        const bool planEntry = kind == FolderText || kind == Rows;
        if (planEntry && rowsRead)
            return std::nullopt;
        rowsRead = rowsRead || !planEntry;
        if (!(planEntry ? readPlanEntry(kind, body, record) : readEventEntry(kind, body, record)))
            return std::nullopt;
    }
    if (!headerRead)
        return std::nullopt;
    return record;
}
