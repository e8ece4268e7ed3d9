#include "tests/reqhandlers/support/host_fixture.hpp"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "reqhandlers/meter_lookup.hpp"
#include "tests/support/strict_json.hpp"

// What a host process defines for the library.
redisContext *p_redis_handler = nullptr;
redisReply *p_redis_reply = nullptr;
dcu_config_record dlms_dcu_config;
char debug_file_name[DCU_DEBUG_FILE_NAME_SIZE];

extern "C" void dbg_log(int level, const char *format, ...) {
    va_list args;
    va_start(args, format);
    va_list measure;
    va_copy(measure, args);
    int length = std::vsnprintf(nullptr, 0, format, measure);
    va_end(measure);
    std::string line(static_cast<std::size_t>(length > 0 ? length : 0), '\0');
    std::vsnprintf(line.data(), line.size() + 1, format, args);
    va_end(args);
    dcu::test::host().log.push_back(std::to_string(level) + " " + line);
}

namespace {

// With DCU_ANSWER_DUMP_DIR set (CTest sets it for the handler suites), every
// answer sent is also written there, one file each, so that the contract
// test checks the answers of every fixture against the answer schemas. The
// directory holds this run's answers only.
void dump_answer(const char *text) {
    const char *dir = std::getenv("DCU_ANSWER_DUMP_DIR");
    if (dir == nullptr || *dir == '\0') return;
    static bool emptied = false;
    static unsigned long count = 0;
    if (!emptied) {
        std::filesystem::remove_all(dir);
        std::filesystem::create_directories(dir);
        emptied = true;
    }
    std::string name = "answer";
    if (const auto *test = ::testing::UnitTest::GetInstance()->current_test_info())
        name = std::string(test->test_suite_name()) + "." + test->name();
    for (char &c : name)
        if (c == '/') c = '_';
    std::ofstream(std::filesystem::path(dir) / (name + "." + std::to_string(++count) + ".json"), std::ios::binary)
        << text;
}

}  // namespace

extern "C" int send_msg(const char *text) {
    dcu::test::host().sent.emplace_back(text);
    dump_answer(text);
    return dcu::test::host().send_result;
}

namespace dcu::test {

HostRecord &host() {
    static HostRecord record;
    return record;
}

void forget_known_serial_numbers() { dcu::meters::forget_known_serial_numbers(); }

void HandlerTest::TearDownTestSuite() {
    if (p_redis_handler) redisFree(p_redis_handler);
    p_redis_handler = nullptr;
    StoreSuite::TearDownTestSuite();
}

void HandlerTest::SetUp() {
    if (!store().running()) store().start();
    client_ = std::make_unique<StoreClient>(store().port());
    client_->flushall();
    ASSERT_EQ(redis_init("127.0.0.1", store().port()), 0);
    root_ = std::make_unique<TempDir>();
    ::setenv("DCU_ROOT", root_->path().c_str(), 1);
    host() = HostRecord{};
    forget_known_serial_numbers();
    std::memset(&dlms_dcu_config, 0, sizeof dlms_dcu_config);
}

void HandlerTest::TearDown() {
    ::unsetenv("DCU_ROOT");
    EXPECT_EQ(p_redis_reply, nullptr) << "a reply was left in p_redis_reply";
}

void HandlerTest::unit_file(std::string_view unit_path, std::string_view content) const {
    write_file((*root_) / unit_path, content);
}

std::string HandlerTest::stdout_of(const std::function<void()> &fn) {
    std::fflush(stdout);
    ::testing::internal::CaptureStdout();
    fn();
    std::fflush(stdout);
    return ::testing::internal::GetCapturedStdout();
}

std::string HandlerTest::sent_text() const {
    EXPECT_EQ(host().sent.size(), 1u);
    return host().sent.empty() ? std::string() : host().sent.back();
}

void HandlerTest::serial(int port, int meter, const std::string &serial_number) {
    client_->hset("Port" + std::to_string(port) + "Met" + std::to_string(meter) + "SerNum", "SER_NUM", serial_number);
}

}  // namespace dcu::test
