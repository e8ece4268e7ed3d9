// cfgload: publishes the unit's binary configuration file into the store.
//
// Connects to the store, reads and validates the record, runs the fourteen
// publishing steps, closes the connection and exits 0. A failure before
// publishing writes nothing to the store and exits -1 (255); so does a store
// that goes away or stops answering while the record is published (each
// command waits at most the store layer's time-out), after logging the key
// and field it reached.
#include <cstdio>
#include <cstring>
#include <string>

#include "common/paths.hpp"
#include "loader/c_interface.hpp"
#include "loader/publisher.hpp"

int main() {
    static constexpr const char *fun_name = "main()";

    // The unit's own path; the log service puts DCU_ROOT in front when it
    // opens the file, so the name fits its 64 bytes whatever the root.
    std::memset(debug_file_name, 0, sizeof debug_file_name);
    const std::string log_dir(dcu::paths::kLogDir);
    const std::string log_name(dcu::paths::kLoaderLogName);
    std::snprintf(debug_file_name, sizeof debug_file_name, "%s/%s", log_dir.c_str(), log_name.c_str());

    const std::string server(dcu::paths::kStoreAddress);
    if (redis_init(server.c_str(), dcu::paths::store_port()) != RET_SUCCESS) {
        dbg_log(0, "%-20s : Failed to initilised Redis Server\n", fun_name);
        return -1;
    }

    const std::string config_file = dcu::paths::on_unit(dcu::paths::kConfigFile);
    if (read_bin_cfg(config_file.c_str()) != RET_SUCCESS) {
        dbg_log(0, "%-20s : Failed to read binary configuration\n", fun_name);
        return -1;  // the connection goes with the process; nothing was sent
    }

    for (const dcu::loader::PublishingStep &step : dcu::loader::kPublishingSequence) {
        dbg_log(0, "%-20s : Generating %.*s from bin to redis\n", fun_name, static_cast<int>(step.name.size()),
                step.name.data());
        // A store that went away or hangs part-way leaves the configuration
        // incomplete: that must not pass for a loaded one.
        if (const auto *stopped_at = dcu::loader::publish_step(dcu::loader::loader_store(), dlms_dcu_config, step.step,
                                                               dcu::loader::OnNoReply::stop)) {
            dbg_log(0, "%-20s : Publishing stopped at %s %s: %s\n", fun_name, stopped_at->key.c_str(),
                    stopped_at->field.c_str(), p_redis_handler != nullptr ? p_redis_handler->errstr : "no connection");
            redisFree(p_redis_handler);
            p_redis_handler = nullptr;
            return -1;
        }
    }

    dbg_log(0, "%-20s : All Config generated, need to free redis hanfler\n", fun_name);
    redisFree(p_redis_handler);
    p_redis_handler = nullptr;
    return RET_SUCCESS;
}
