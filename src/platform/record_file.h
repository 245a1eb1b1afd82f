#pragma once

// The files in which the program keeps what must outlive its window, each held by one window alone.

#include <QByteArray>
#include <QByteArrayView>
#include <QtGlobal>

#include <utility>

namespace Platform {

// The user's own folder for the program's state, made, readable by the user alone, where missing:
// $XDG_STATE_HOME/batch-renamer (~/.local/state/batch-renamer by default) on Linux,
// %LOCALAPPDATA%\batch-renamer on Windows. Where it cannot be made, each record made in it fails,
// saying why.
QByteArray stateFolder();

// One record file, open to be read and appended to and locked for as long as it is held, so that no
// other holder, in this process or another, takes it while it is held; a holder that ends, even
// killed, lets it go.
class RecordFile final
{
public:
    RecordFile() = default;
    ~RecordFile();
    RecordFile(RecordFile&& other) noexcept
        : m_handle(std::exchange(other.m_handle, noHandle))
        , m_folder(std::move(other.m_folder))
        , m_name(std::move(other.m_name))
    {
    }
    RecordFile& operator=(RecordFile&& other) noexcept
    {
        if (this != &other) {
            const RecordFile held(std::move(*this)); // closed as it goes
            m_handle = std::exchange(other.m_handle, noHandle);
            m_folder = std::move(other.m_folder);
            m_name = std::move(other.m_name);
        }
        return *this;
    }
    Q_DISABLE_COPY(RecordFile)

    // Makes the record `name` in `folder`, which no other may name yet, with `start` in it, and
    // makes both the file and its name durable before returning: a power cut after it returns keeps
    // the record. Not open on failure, with `error` set to the errno value.
    static RecordFile create(
        const QByteArray& folder, const QByteArray& name, QByteArrayView start, int& error);
    enum class Taken { Held, HeldElsewhere, Failed };
    // The existing record `name` in `folder`, unless another holder has it.
    static RecordFile take(const QByteArray& folder, const QByteArray& name, Taken& taken);

    bool isOpen() const { return m_handle != noHandle; }
    const QByteArray& name() const { return m_name; }
    // The whole file as it is now.
    QByteArray readAll() const;
    // Adds `bytes` at the end, not waiting for them to reach the disk; 0 or the errno value.
    int append(QByteArrayView bytes);
    // Removes the record, which is then no longer held.
    void remove();
    // Gives the record a name that no reader takes ("….unreadable"), and lets it go.
    void setAside();

private:
    static constexpr qintptr noHandle = -1;
    qintptr m_handle = noHandle;
    QByteArray m_folder;
    QByteArray m_name;
};

} // namespace Platform
