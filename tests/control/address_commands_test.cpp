#include "control/daemon_fixture.h"

namespace velkor::testing {

namespace {

bytes set_primary(std::uint8_t address)
{
    char body[48];
    std::snprintf(body, sizeof body, "53 FD 51 01 7A %02X", address);
    return long_frame(body);
}

struct addressing : daemon_fixture {
    addressing() { d.config.primary_start = 10; }
    int listed(const std::string& name = "12345678-AAA-1-7") { return control::list_lookup(d.addresses, name); }
};

} // namespace

TEST_F(addressing, SetPrimaryAddressTakesTheFirstFreeSlotFromPrimaryStart)
{
    bus.expect(select_slave, ack).expect(set_primary(10), ack);
    run("SET_PRIMARY_ADDRESS", 6);
    EXPECT_EQ(10, listed());
    EXPECT_EQ(strings{"SET_PRIMARY_ADDRESS: set slave 12345678-AAA-1-7 to address 10"}, main_log());
    EXPECT_FALSE(has_result(6));

    // Again: already listed, nothing but the selection is sent.
    bus.expect(select_slave, ack);
    run("SET_PRIMARY_ADDRESS");
    EXPECT_EQ(3u, bus.sent.size());
    EXPECT_EQ("SET_PRIMARY_ADDRESS: primary address for slave 12345678-AAA-1-7 is already existing", dev_log().back());
    EXPECT_EQ(1u, main_log().size());
}

TEST_F(addressing, SecondaryAddressFillingItsWholeFieldIsFoundAgain)
{
    const std::string full(32, '7');
    EXPECT_EQ(10, control::list_assign(d.addresses, full, 10));
    EXPECT_EQ(0, control::list_assign(d.addresses, full, 10));
    EXPECT_EQ(10, listed(full));
    EXPECT_TRUE(control::list_remove(d.addresses, full));
}

TEST_F(addressing, SlaveThatDoesNotAnswerLosesItsEntry)
{
    control::list_assign(d.addresses, "12345678-AAA-1-7", 10);
    bus.expect(select_slave);
    run("SET_PRIMARY_ADDRESS");
    EXPECT_EQ(-1, listed());
    EXPECT_EQ(strings{"SET_PRIMARY_ADDRESS: slave 12345678-AAA-1-7 unavailable"}, main_log());

    bus.expect(select_slave, ack).expect(set_primary(10), {});
    run("SET_PRIMARY_ADDRESS");
    EXPECT_EQ(-1, listed());
    EXPECT_EQ("SET_PRIMARY_ADDRESS: could not set slave 12345678-AAA-1-7 to primary address", main_log().back());
}

TEST_F(addressing, FullListCannotTakeAnotherSlave)
{
    d.config.primary_start = 249;
    control::list_assign(d.addresses, "other", 249);
    bus.expect(select_slave, ack);
    run("SET_PRIMARY_ADDRESS");
    EXPECT_EQ("SET_PRIMARY_ADDRESS: could not add address to list", main_log().back());

    d.config.primary_start = 400;  // no slot assignable, and none indexed
    bus.expect(select_slave, ack);
    run("SET_PRIMARY_ADDRESS");
    EXPECT_EQ("SET_PRIMARY_ADDRESS: could not add address to list", main_log().back());
}

TEST_F(addressing, PrimaryStartBelowOneStartsAtSlotOne)
{
    for (int start : {0, -5}) {
        control::list_clear(d.addresses);
        d.config.primary_start = start;
        bus.expect(select_slave, ack).expect(set_primary(1), ack);
        run("SET_PRIMARY_ADDRESS");
        EXPECT_EQ(1, listed());
    }
}

TEST_F(addressing, ManualAddress)
{
    d.config.primary_reset = 0xFE;
    struct row {
        int param;
        bytes frame;  // empty: nothing sent after the selection
        int listed;
        const char* message;
        std::size_t main_entries;
    };
    const row rows[] = {
        {300, set_primary(44), 44, "SET_PRIMARY_ADDRESS: set slave 12345678-AAA-1-7 to address 44", 1},
        {0xFE, {}, -1, "SET_PRIMARY_ADDRESS: primary address for slave 12345678-AAA-1-7 is already existing", 0},
        {256, {}, -1, "SET_PRIMARY_ADDRESS: primary address for slave 12345678-AAA-1-7 is already existing", 0},
    };
    for (const row& r : rows) {
        const std::size_t before = main_log().size();
        bus.expect(select_slave, ack);
        if (!r.frame.empty())
            bus.expect(r.frame, ack);
        run("SET_PRIMARY_ADDRESS_MANUAL", 0, r.param);
        EXPECT_TRUE(bus.script.empty());
        EXPECT_EQ(r.listed, listed()) << r.param;
        EXPECT_EQ(r.message, dev_log().back());
        EXPECT_EQ(before + r.main_entries, main_log().size());
        control::list_clear(d.addresses);
    }
    // Success and failures go to both logs, then once more to the developer log.
    bus.expect(select_slave);
    run("SET_PRIMARY_ADDRESS_MANUAL", 0, 5);
    const auto dev = dev_log();
    EXPECT_EQ(dev[dev.size() - 1], dev[dev.size() - 2]);
}

TEST_F(addressing, NoAddressTwiceAndNoneReserved)
{
    control::list_assign_manual(d.addresses, "other", 2, 10);  // slot 10, address 2
    control::list_assign_manual(d.addresses, "12345678-AAA-1-7", 7, 10);
    for (int param : {2, 2 + 256, 251, 253, 254, 255}) {
        run("SET_PRIMARY_ADDRESS_MANUAL", 0, param);
        EXPECT_TRUE(bus.sent.empty()) << param;
        EXPECT_EQ("SET_PRIMARY_ADDRESS: could not add address to list", main_log().back());
        EXPECT_EQ(7, listed()) << param;
    }
    // Its own address again is no conflict.
    bus.expect(select_slave, ack).expect(set_primary(7), ack);
    run("SET_PRIMARY_ADDRESS_MANUAL", 0, 7);
    EXPECT_TRUE(bus.script.empty());

    // The next free slot is skipped while another slave holds its number.
    control::list_clear(d.addresses);
    control::list_assign_manual(d.addresses, "other", 11, 10);
    bus.expect(select_slave, ack).expect(set_primary(12), ack);
    run("SET_PRIMARY_ADDRESS");
    EXPECT_EQ(12, listed());
}

TEST_F(addressing, ResetPrimaryAddress)
{
    d.config.primary_reset = 0;
    control::list_assign(d.addresses, "12345678-AAA-1-7", 10);
    bus.expect(select_slave, ack).expect(set_primary(0), ack);
    run("RESET_PRIMARY_ADDRESS");
    EXPECT_EQ(-1, listed());
    EXPECT_EQ("RESET_PRIMARY_ADDRESS: reset primary address for slave 12345678-AAA-1-7", dev_log().back());
    EXPECT_TRUE(main_log().empty());

    bus.expect(select_slave, ack).expect(set_primary(0), ack);
    run("RESET_PRIMARY_ADDRESS");
    EXPECT_EQ("RESET_PRIMARY_ADDRESS: address for slave 12345678-AAA-1-7 unavailable in list", main_log().back());

    d.config.primary_reset = 7;
    bus.expect(select_slave, ack).expect(set_primary(7));
    run("RESET_PRIMARY_ADDRESS");
    EXPECT_EQ("RESET_PRIMARY_ADDRESS: could not set slave 12345678-AAA-1-7 to reset address 7", main_log().back());

    bus.expect(select_slave);
    run("RESET_PRIMARY_ADDRESS");
    EXPECT_EQ("RESET_PRIMARY_ADDRESS: slave 12345678-AAA-1-7 unavailable", main_log().back());
}

TEST_F(addressing, AddressListDocument)
{
    run("GET_ADDRESS_LIST", 3);
    EXPECT_EQ("{\n\t\"slaves\":\n\t[\n\t],\n\t\"progress\":\"\",\n\t\"state\":\"end\"\n}", result(3));

    control::list_assign(d.addresses, "12345678-AAA-1-7", 10);
    control::list_assign(d.addresses, "8765\"4321", 10);
    control::list_assign_manual(d.addresses, "below-start", 3, 1);  // slot 1: not reported
    run("GET_ADDRESS_LIST", 3);
    EXPECT_EQ("{\n\t\"slaves\":\n\t[\n"
              "\t\t{\"cnt\":\"1\", \"sec_address\":\"12345678-AAA-1-7\", \"prim_address\":\"10\"},\n"
              "\t\t{\"cnt\":\"2\", \"sec_address\":\"8765\\\"4321\", \"prim_address\":\"11\"}\n"
              "\t],\n\t\"progress\":\"\",\n\t\"state\":\"end\"\n}",
              result(3));
    EXPECT_TRUE(bus.sent.empty());
    EXPECT_TRUE(dev_log().empty());
}

TEST_F(addressing, ResetAddressListEmptiesTheListOnADeadBus)
{
    control::list_assign(d.addresses, "12345678-AAA-1-7", 10);
    run("RESET_ADDRESS_LIST", 1);
    EXPECT_EQ(strings{to_hex(long_frame("53 FF 51 01 7A 00"))}, sent_frames());
    EXPECT_EQ(-1, listed());
    EXPECT_FALSE(has_result(1));
    EXPECT_TRUE(dev_log().empty());

    // A lost line may have kept the reset from the slaves: their addresses stay listed.
    control::list_assign(d.addresses, "12345678-AAA-1-7", 10);
    bus.lose_line();
    run("RESET_ADDRESS_LIST", 1);
    EXPECT_EQ(10, listed());
    EXPECT_EQ(strings{"RESET_ADDRESS_LIST: the line was lost, address list kept"}, main_log());
}

TEST_F(addressing, CheckSecondaryAddress)
{
    bus.expect(select_slave, ack);
    run("CHECK_SEC_ADDRESS", 8);
    EXPECT_EQ(R"({"ack_response":"OK","primAdr":"NO"})", result(8));
    EXPECT_EQ(strings{"CHECK_SEC_ADDRESS: response = OK"}, dev_log());

    bus.expect(select_slave);
    run("CHECK_SEC_ADDRESS", 8);
    EXPECT_EQ(R"({"ack_response":"No Answer","primAdr":"NO"})", result(8));
    EXPECT_EQ(strings{"CHECK_SEC_ADDRESS: response = No Answer"}, main_log());
}

TEST_F(addressing, NewSecondaryAddressByContainment)
{
    const bytes new_address = long_frame("53 FD 51 07 79 21 43 65 87 42 08 02 04");
    bus.expect(select_slave, ack).expect(new_address, ack);
    run("SETSECADR_87654321-BBB-2-4");
    EXPECT_EQ(strings{"SET_SECONDARY_ADDRESS: set slave 12345678-AAA-1-7 to address 87654321-BBB-2-4"}, dev_log());
    EXPECT_TRUE(main_log().empty());

    bus.expect(select_slave, ack).expect(new_address);
    run("SETSECADR_87654321-BBB-2-4");
    EXPECT_EQ("SET_SECONDARY_ADDRESS: could not set slave 12345678-AAA-1-7 to new secondary address", main_log().back());
    bus.expect(select_slave);
    run("SETSECADR_87654321-BBB-2-4");
    EXPECT_EQ("SET_SECONDARY_ADDRESS: slave 12345678-AAA-1-7 unavailable", main_log().back());
    EXPECT_EQ(main_log().back(), dev_log().back());
}

} // namespace velkor::testing
