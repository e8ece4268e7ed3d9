#include "tests/support/sample_unit.hpp"

#include <chrono>
#include <filesystem>

#include "tests/support/private_store.hpp"
#include "tests/support/run_program.hpp"

namespace dcu::test::sample_unit {

std::string load(const TempDir &root, std::uint16_t store_port) {
    RunOptions options;
    options.env = {{"DCU_ROOT", root.path().string()}, {"DCU_REDIS_PORT", std::to_string(store_port)}};
    options.timeout = std::chrono::minutes(5);
    const auto config = root / "/usr/tev/config/dlms_api_config.cfg";
    std::filesystem::create_directories(config.parent_path());
    std::filesystem::create_directories(root / "/usr/tev/log");
    const std::string store = "127.0.0.1:" + std::to_string(store_port);
    const std::vector<std::vector<std::string>> steps = {
        {CFGTOOL_PATH, "encode", SAMPLE_UNIT_JSON, "-o", config.string()},
        {CFGLOAD_PATH},
        {METERSIM_PATH, "--store", store, "--meters", "7", "--seed", "2024"},
    };
    for (const auto &step : steps) {
        const RunResult result = run_program(step, options);
        if (result.exit_code != 0)
            return step[0] + " exited with " + std::to_string(result.exit_code) + ": " + result.err;
    }
    return {};
}

std::string meter_serial(std::uint16_t store_port) {
    return StoreClient(store_port).hget("Port0Met1SerNum", "SER_NUM").value_or("?");
}

}  // namespace dcu::test::sample_unit
