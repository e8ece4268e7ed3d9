// Serial-number lookup against a private store, and directory-name parsing.
#include <gtest/gtest.h>

#include "tests/reqhandlers/support/host_fixture.hpp"

namespace {

using dcu::test::host;

class FindSerNum : public dcu::test::HandlerTest {};

// A text that is some meter's whole serial number names that meter; any
// other text names the first meter (port, then meter order) whose serial
// number contains it; the empty text names none.
TEST_F(FindSerNum, ExactMatchFirstThenSubstringNeverTheEmptyText) {
    serial(0, 0, "");  // a position without a number is skipped
    serial(0, 1, "SN10");
    serial(1, 2, "AB123CD");
    serial(1, 4, "XX123");
    serial(2, 0, "12");
    serial(2, 1, "SN1");
    struct Case {
        const char *wanted;
        int16_t packed;
    };
    for (Case c : {Case{"123", 0x0102}, Case{"AB123CD", 0x0102}, Case{"X", 0x0104}, Case{"", -1},
                   Case{"1234", -1}, Case{"12", 0x0200}, Case{"SN1", 0x0201}, Case{"SN", 0x0001},
                   Case{"N10", 0x0001}}) {
        EXPECT_EQ(find_ser_num(c.wanted), c.packed) << c.wanted;
    }
    EXPECT_EQ(host().log[0], "0 find_ser_num()       : Both meter ser num are same, Val : 102\n");
    EXPECT_EQ(host().log[3], "4 find_ser_num()            : Recv MeterSerNum :  Not Found\n");
    EXPECT_EQ(host().log[4], "4 find_ser_num()            : Recv MeterSerNum : 1234 Not Found\n");
    EXPECT_EQ(std::string(g_meter_ser_num_info[1][2]), "AB123CD");
}

TEST_F(FindSerNum, SendsTwentyReadsInPortMajorOrderEveryCall) {
    dcu::test::Monitor monitor(store().port());
    find_ser_num("x");
    find_ser_num("y");
    auto seen = monitor.take();
    ASSERT_EQ(seen.size(), 40u);
    for (int i = 0; i < 40; ++i) {
        const int position = i % 20;
        EXPECT_EQ(seen[static_cast<std::size_t>(i)],
                  (std::vector<std::string>{"HMGET",
                                            "Port" + std::to_string(position / 5) + "Met" +
                                                std::to_string(position % 5) + "SerNum",
                                            "SER_NUM"}));
    }
}

TEST_F(FindSerNum, ARemovedSerialNumberIsStillFoundUntilReplaced) {
    serial(3, 4, "OLD-1");
    EXPECT_EQ(find_ser_num("OLD"), 0x0304);
    client().del("Port3Met4SerNum");
    EXPECT_EQ(find_ser_num("OLD"), 0x0304);
    serial(3, 4, "NEW-1");
    EXPECT_EQ(find_ser_num("OLD"), -1);
}

TEST_F(FindSerNum, WrongTypeOrMissingStoreKeepsTheTable) {
    serial(0, 1, "KEEP");
    EXPECT_EQ(find_ser_num("KEEP"), 0x0001);
    client().del("Port0Met1SerNum");
    client().run({"SET", "Port0Met1SerNum", "a string, not a hash"});
    EXPECT_EQ(find_ser_num("KEEP"), 0x0001);
    store().stop();
    EXPECT_EQ(find_ser_num("KEEP"), 0x0001);
    store().start();
}

TEST_F(FindSerNum, LongSerialNumbersAreFoundWholeAndMirroredCut) {
    const std::string long_serial = "METER-0123456789-0123456789-0123456789";
    serial(2, 3, long_serial);
    EXPECT_EQ(find_ser_num(long_serial.c_str()), 0x0203);
    EXPECT_EQ(std::string(g_meter_ser_num_info[2][3]), long_serial.substr(0, 31));
}

TEST_F(FindSerNum, NullTextMatchesNothing) {
    serial(0, 0, "A1");
    EXPECT_EQ(find_ser_num(nullptr), -1);
}

TEST(GetPortMetDet, NamesCountFromOne) {
    struct Case {
        const char *name;
        int16_t packed;
    };
    for (Case c : {Case{"meter_id_0", 0x00FF}, Case{"meter_id_1", 0x0000}, Case{"meter_id_5", 0x0004},
                   Case{"meter_id_6", 0x0100}, Case{"meter_id_20", 0x0304}, Case{"meter_id_21", 0x0400},
                   Case{"meter_id_261", 0x0004}, Case{"meter_id_x", 0x00FF}, Case{"short", 0x00FF},
                   Case{"meter_id_99999999999999999999", 0x3204}}) {
        EXPECT_EQ(get_port_met_det(c.name), c.packed) << c.name;
    }
}

}  // namespace
