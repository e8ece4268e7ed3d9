// Counts the round trips a handler makes to the store.
//
// The store counts every read it makes from its clients (INFO stats,
// total_reads_processed). A pipelined phase is written by the client in one
// piece and arrives in one read, so the growth of that figure over a call,
// less the read of the closing INFO itself, is the number of round trips the
// call made. Nothing else may talk to the store meanwhile (no Monitor).
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "tests/support/private_store.hpp"

namespace dcu::test {

class RoundTrips {
public:
    explicit RoundTrips(StoreClient &client) : client_(client), start_(reads()) {}
    long long count() { return reads() - start_ - 1; }

private:
    long long reads() {
        auto reply = client_.run({"INFO", "stats"});
        const std::string info(reply->str, reply->len);
        const std::string field = "total_reads_processed:";
        const auto at = info.find(field);
        EXPECT_NE(at, std::string::npos) << "the store does not count its reads";
        return at == std::string::npos ? 0 : std::stoll(info.substr(at + field.size()));
    }

    StoreClient &client_;
    long long start_;
};

}  // namespace dcu::test
