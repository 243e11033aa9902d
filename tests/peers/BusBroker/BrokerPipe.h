#pragma once
// One end of a broker connection: a message-mode named pipe opened for
// overlapped I/O, so that one thread may wait for the next frame while
// others write, and a stop event ends every wait.
#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace BusBroker {

// Owns a kernel handle (a pipe or an event).
class OwnedHandle {
public:
    explicit OwnedHandle(HANDLE handle = nullptr) : m_handle(handle) {}
    ~OwnedHandle() { reset(); }
    OwnedHandle(const OwnedHandle&) = delete;
    OwnedHandle& operator=(const OwnedHandle&) = delete;
    HANDLE get() const { return m_handle; }
    bool valid() const { return m_handle && m_handle != INVALID_HANDLE_VALUE; }
    void reset(HANDLE handle = nullptr);

private:
    HANDLE m_handle;
};

class BrokerPipe {
public:
    enum class ReadResult { Frame, TooLong, Closed, Stopped };

    // "\\.\pipe\" + name.
    static std::wstring pathOf(const std::wstring& name);
    // A client end; empty when no broker listens under that name within the wait.
    static std::unique_ptr<BrokerPipe> connect(const std::wstring& name, DWORD waitMs);
    // A new server instance of the named pipe, not yet connected; `first`
    // fails when the name is already taken.
    static std::unique_ptr<BrokerPipe> listen(const std::wstring& name, bool first);

    ~BrokerPipe();
    BrokerPipe(const BrokerPipe&) = delete;
    BrokerPipe& operator=(const BrokerPipe&) = delete;

    // Server end: waits for a client; false when stopped or failed.
    bool accept(HANDLE stop);
    // One whole message into `frame` (at most kMaxFrameBytes; a longer one is
    // TooLong and not kept). Only one thread reads.
    ReadResult read(std::vector<uint8_t>& frame, HANDLE stop);
    // One whole message; false when the pipe is gone or `stop` is set.
    // Only one thread writes at a time.
    bool write(const std::vector<uint8_t>& frame, HANDLE stop);
    // Ends every wait in progress on this pipe.
    void cancel();

private:
    explicit BrokerPipe(HANDLE pipe);
    // Waits for an operation begun on `overlapped`; false when stopped (the
    // operation is then cancelled) or failed, with the error in `error`.
    bool finish(OVERLAPPED& overlapped, HANDLE stop, DWORD& transferred, DWORD& error);

    OwnedHandle m_pipe;
    OwnedHandle m_readEvent;
    OwnedHandle m_writeEvent;
    std::vector<uint8_t> m_readBuffer;
};

} // namespace BusBroker
