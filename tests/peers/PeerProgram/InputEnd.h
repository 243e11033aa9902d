#pragma once
#include <atomic>
#include <memory>

namespace PeerProgram {

// Whoever started the program ends it by closing its standard input: a
// background thread reads the input to its end and then sets the flag.
// Lines typed on a console are read and ignored.
class InputEnd {
public:
    InputEnd();
    InputEnd(const InputEnd&) = delete;
    InputEnd& operator=(const InputEnd&) = delete;

    bool ended() const { return m_ended->load(); }
    // Blocks until the input has ended.
    void wait() const;

private:
    // Shared with the reading thread, which may outlive this object.
    std::shared_ptr<std::atomic<bool>> m_ended = std::make_shared<std::atomic<bool>>(false);
};

} // namespace PeerProgram
