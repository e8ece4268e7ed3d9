// A stand-in for the store that records every command it receives and
// answers each with +OK, or with what a responder makes of it: the far end of
// a socket pair, served by a thread, with a store connection connected to the
// near end. The code under test goes through hiredis and the store layer
// exactly as against a real server.
#pragma once

#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "common/store.hpp"

namespace dcu::fuzz {

class RecordingStore {
public:
    // Connects `connection` to a new stand-in; it is closed again when the
    // stand-in goes.
    explicit RecordingStore(store::Connection &connection);
    RecordingStore(const RecordingStore &) = delete;
    RecordingStore &operator=(const RecordingStore &) = delete;
    ~RecordingStore();

    // The commands received since the last call, each as its arguments.
    std::vector<std::vector<std::string>> take();

    // Makes the reply to each command from its arguments: the reply's bytes
    // as the store protocol has them ("+OK\r\n", "$2\r\nab\r\n", ...), or
    // nothing to cut the connection there, as a store that stops would.
    using Responder = std::function<std::optional<std::string>(const std::vector<std::string> &)>;
    void respond_with(Responder responder);

    // Whether the connection is still up (not cut by the responder, nor
    // ended by the client).
    bool connected() const;

private:
    void serve(int fd);
    void serve_commands(int fd);

    store::Connection &connection_;
    int far_end_ = -1;
    std::thread server_;
    mutable std::mutex mutex_;
    std::vector<std::vector<std::string>> commands_;
    Responder responder_;
    bool cut_ = false;
};

}  // namespace dcu::fuzz
