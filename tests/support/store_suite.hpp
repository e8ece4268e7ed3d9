// A test suite with a private store of its own: started before the suite's
// first test, stopped after its last.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "tests/support/private_store.hpp"

namespace dcu::test {

class StoreSuite : public ::testing::Test {
protected:
    static void SetUpTestSuite() { store().start(); }
    static void TearDownTestSuite() { store().stop(); }
    static PrivateStore &store() {
        static PrivateStore instance;
        return instance;
    }
    // "127.0.0.1:<port>", as the programs' --store option takes it.
    static std::string store_address() { return "127.0.0.1:" + std::to_string(store().port()); }
};

}  // namespace dcu::test
