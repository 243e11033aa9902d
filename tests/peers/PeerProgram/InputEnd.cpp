#include "InputEnd.h"

#include <windows.h>

#include <thread>

namespace PeerProgram {

InputEnd::InputEnd()
{
    const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    // Detached: the read may still block when the program ends for another reason.
    std::thread([ended = m_ended, input]() {
        char buffer[256];
        DWORD read = 0;
        if (input && input != INVALID_HANDLE_VALUE) {
            while (ReadFile(input, buffer, sizeof(buffer), &read, nullptr) && read > 0) {
            }
        }
        ended->store(true);
    }).detach();
}

void InputEnd::wait() const
{
    while (!m_ended->load())
        Sleep(50);
}

} // namespace PeerProgram
