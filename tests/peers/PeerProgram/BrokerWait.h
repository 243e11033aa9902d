#pragma once

namespace PeerProgram {

// A program started right after the broker may come before the broker
// listens: while ONDREL_BROKER_PIPE names a pipe, waits (up to 20 s) until a
// connection to it succeeds. True when there is no broker to wait for or it
// listens.
bool waitForBroker();

} // namespace PeerProgram
