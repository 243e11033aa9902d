#include "BrokerPipe.h"

#include "BrokerFrame.h"

#include <chrono>
#include <thread>

namespace BusBroker {

namespace {

const DWORD kPipeBufferBytes = 64 * 1024;

} // namespace

void OwnedHandle::reset(HANDLE handle)
{
    if (valid())
        CloseHandle(m_handle);
    m_handle = handle;
}

std::wstring BrokerPipe::pathOf(const std::wstring& name)
{
    return L"\\\\.\\pipe\\" + name;
}

BrokerPipe::BrokerPipe(HANDLE pipe)
    : m_pipe(pipe), m_readEvent(CreateEventW(nullptr, TRUE, FALSE, nullptr)),
      m_writeEvent(CreateEventW(nullptr, TRUE, FALSE, nullptr))
{
}

BrokerPipe::~BrokerPipe() = default;

std::unique_ptr<BrokerPipe> BrokerPipe::connect(const std::wstring& name, DWORD waitMs)
{
    const std::wstring path = pathOf(name);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    for (;;) {
        HANDLE pipe = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_OVERLAPPED, nullptr);
        if (pipe != INVALID_HANDLE_VALUE) {
            DWORD mode = PIPE_READMODE_MESSAGE;
            if (!SetNamedPipeHandleState(pipe, &mode, nullptr, nullptr)) {
                CloseHandle(pipe);
                return nullptr;
            }
            std::unique_ptr<BrokerPipe> end(new BrokerPipe(pipe));
            if (!end->m_readEvent.valid() || !end->m_writeEvent.valid())
                return nullptr;
            return end;
        }
        const DWORD error = GetLastError();
        if (error != ERROR_PIPE_BUSY && error != ERROR_FILE_NOT_FOUND)
            return nullptr;
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline)
            return nullptr;
        // Every instance is busy while the broker makes the next one; a
        // missing pipe is a broker still starting.
        if (error == ERROR_PIPE_BUSY)
            WaitNamedPipeW(path.c_str(), 50);
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

std::unique_ptr<BrokerPipe> BrokerPipe::listen(const std::wstring& name, bool first)
{
    const DWORD openMode = PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | (first ? FILE_FLAG_FIRST_PIPE_INSTANCE : 0);
    HANDLE pipe = CreateNamedPipeW(pathOf(name).c_str(), openMode,
                                   PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS,
                                   PIPE_UNLIMITED_INSTANCES, kPipeBufferBytes, kPipeBufferBytes, 0, nullptr);
    if (pipe == INVALID_HANDLE_VALUE)
        return nullptr;
    std::unique_ptr<BrokerPipe> end(new BrokerPipe(pipe));
    if (!end->m_readEvent.valid() || !end->m_writeEvent.valid())
        return nullptr;
    return end;
}

bool BrokerPipe::finish(OVERLAPPED& overlapped, HANDLE stop, DWORD& transferred, DWORD& error)
{
    const HANDLE waits[2] = {overlapped.hEvent, stop};
    const DWORD count = stop ? 2 : 1;
    const DWORD woken = WaitForMultipleObjects(count, waits, FALSE, INFINITE);
    if (woken != WAIT_OBJECT_0) {
        CancelIoEx(m_pipe.get(), &overlapped);
        GetOverlappedResult(m_pipe.get(), &overlapped, &transferred, TRUE);
        error = ERROR_OPERATION_ABORTED;
        return false;
    }
    if (!GetOverlappedResult(m_pipe.get(), &overlapped, &transferred, FALSE)) {
        error = GetLastError();
        return false;
    }
    error = ERROR_SUCCESS;
    return true;
}

bool BrokerPipe::accept(HANDLE stop)
{
    OVERLAPPED overlapped{};
    overlapped.hEvent = m_readEvent.get();
    ResetEvent(overlapped.hEvent);
    if (ConnectNamedPipe(m_pipe.get(), &overlapped))
        return true;
    DWORD error = GetLastError();
    if (error == ERROR_PIPE_CONNECTED)
        return true;
    if (error != ERROR_IO_PENDING)
        return false;
    DWORD transferred = 0;
    return finish(overlapped, stop, transferred, error);
}

BrokerPipe::ReadResult BrokerPipe::read(std::vector<uint8_t>& frame, HANDLE stop)
{
    frame.clear();
    if (m_readBuffer.size() != kMaxFrameBytes)
        m_readBuffer.resize(kMaxFrameBytes);
    OVERLAPPED overlapped{};
    overlapped.hEvent = m_readEvent.get();
    ResetEvent(overlapped.hEvent);
    DWORD transferred = 0;
    DWORD error = ERROR_SUCCESS;
    bool done = ReadFile(m_pipe.get(), m_readBuffer.data(), static_cast<DWORD>(m_readBuffer.size()), &transferred,
                         &overlapped);
    if (!done) {
        error = GetLastError();
        if (error == ERROR_IO_PENDING)
            done = finish(overlapped, stop, transferred, error);
    }
    if (!done && error == ERROR_MORE_DATA)
        return ReadResult::TooLong;
    if (!done)
        return error == ERROR_OPERATION_ABORTED ? ReadResult::Stopped : ReadResult::Closed;
    frame.assign(m_readBuffer.begin(), m_readBuffer.begin() + transferred);
    return ReadResult::Frame;
}

bool BrokerPipe::write(const std::vector<uint8_t>& frame, HANDLE stop)
{
    if (frame.empty())
        return false;
    OVERLAPPED overlapped{};
    overlapped.hEvent = m_writeEvent.get();
    ResetEvent(overlapped.hEvent);
    DWORD transferred = 0;
    if (WriteFile(m_pipe.get(), frame.data(), static_cast<DWORD>(frame.size()), &transferred, &overlapped))
        return transferred == frame.size();
    DWORD error = GetLastError();
    if (error != ERROR_IO_PENDING)
        return false;
    return finish(overlapped, stop, transferred, error) && transferred == frame.size();
}

void BrokerPipe::cancel()
{
    CancelIoEx(m_pipe.get(), nullptr);
}

} // namespace BusBroker
