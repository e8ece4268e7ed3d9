// A stand-in for the store that records every command it receives and
// answers each with +OK: the far end of a socket pair, served by a thread,
// with p_redis_handler connected to the near end. The code under test goes
// through hiredis and the store layer exactly as against a real server.
#pragma once

#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace dcu::fuzz {

class RecordingStore {
public:
    // Connects p_redis_handler to a new stand-in.
    RecordingStore();
    RecordingStore(const RecordingStore &) = delete;
    RecordingStore &operator=(const RecordingStore &) = delete;
    ~RecordingStore();

    // The commands received since the last call, each as its arguments.
    std::vector<std::vector<std::string>> take();

private:
    void serve(int fd);

    int far_end_ = -1;
    std::thread server_;
    std::mutex mutex_;
    std::vector<std::vector<std::string>> commands_;
};

}  // namespace dcu::fuzz
