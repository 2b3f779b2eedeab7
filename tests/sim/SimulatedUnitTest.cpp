#include <gtest/gtest.h>

#include "SimTestSupport.h"
#include "SimulatedUnit.h"

using namespace sim;
using simtest::Exchange;
using simtest::Payload;

namespace {

class UnitTest : public ::testing::Test {
protected:
    UnitSettings Settings()
    {
        UnitSettings settings;
        settings.CardFolder = Card.Path();
        return settings;
    }
    // The status byte of a 2-byte status reply, or -1 when the reply is something else.
    static int StatusOf(const std::vector<simtest::Message>& replies)
    {
        if (replies.size() != 1 || replies[0].Payload.size() != 2)
            return -1;
        return replies[0].Payload[0];
    }
    static uint32_t U32At(const std::vector<uint8_t>& bytes, size_t at) { return GetU32(bytes.data() + at); }

    testsupport::TempFolder Card;
};

std::vector<uint8_t> ReadRequest(const std::string& folder, const std::string& name, uint32_t offset, uint32_t length)
{
    return Payload().Text(folder).Text(name).U32(offset).U32(length).Finish();
}

std::vector<uint8_t> WriteRequest(const std::string& folder, const std::string& name, uint32_t offset,
                                  const std::vector<uint8_t>& data)
{
    return Payload().Text(folder).Text(name).U8(0x40).U32(offset).U32(static_cast<uint32_t>(data.size())).Raw(data).Finish();
}

} // namespace

// A block read: reading the first 1024 bytes of RUN1.displog in A:\Logs is one output report
// with checksum 49; the answer is 1029 payload bytes under total length 1033 in 18 input reports,
// 55 payload bytes in the first and up to 59 in each later one.
TEST_F(UnitTest, WorkedBlockReadExample)
{
    const std::vector<uint8_t> file = simtest::Pattern(3000);
    Card.Write("Logs/RUN1.displog", file);
    SimulatedUnit unit(Settings());

    const auto requests = simtest::RequestReports(0x4013, ReadRequest("A:\\Logs", "RUN1.displog", 0, 1024));
    ASSERT_EQ(requests.size(), 1u);
    const std::array<uint8_t, 64>& r = requests[0];
    const std::vector<uint8_t> head{0x00, 0x55, 0xAA, 0xAA, 0x55, 0x13, 0x40, 0x22, 0x00};
    EXPECT_TRUE(std::equal(head.begin(), head.end(), r.begin()));
    EXPECT_EQ(r[38], 0x49); // 9 header bytes + 7 + 1 + 12 + 1 + 4 + 4 before the checksum
    EXPECT_TRUE(std::all_of(r.begin() + 39, r.end(), [](uint8_t b) { return b == 0; }));

    const UnitAnswer answer = unit.ReceiveReport(r.data(), r.size(), 0);
    ASSERT_EQ(answer.Reports.size(), 18u);
    const auto& first = answer.Reports[0];
    EXPECT_EQ(first[5], 0x13);
    EXPECT_EQ(first[6], 0x40);
    EXPECT_EQ(first[7] | first[8] << 8, 1033);
    EXPECT_EQ(first[9 + 1], 0x00);  // count 00 04 00 00
    EXPECT_EQ(first[9 + 2], 0x04);
    // 5 bytes before the data in the first report leave 50 data bytes in it.
    EXPECT_TRUE(std::equal(file.begin(), file.begin() + 50, first.begin() + 14));
    // Later reports carry payload from byte 5 on: byte 5 of the second report is data byte 50.
    EXPECT_EQ(answer.Reports[1][5], file[50]);

    const auto replies = simtest::Assemble(answer.Reports);
    ASSERT_EQ(replies.size(), 1u);
    ASSERT_EQ(replies[0].Payload.size(), 1029u);
    EXPECT_EQ(U32At(replies[0].Payload, 1), 1024u);
    EXPECT_TRUE(std::equal(file.begin(), file.begin() + 1024, replies[0].Payload.begin() + 5));
}

// GetDeviceInfo: a request without payload is one report; the answer is the 53-byte info reply
// with the firmware version, chip id, address unit and AppStart at their offsets.
TEST_F(UnitTest, DeviceInfoReply)
{
    SimulatedUnit unit(Settings());
    const auto replies = Exchange(unit, 0x4000, {});
    ASSERT_EQ(replies.size(), 1u);
    ASSERT_EQ(replies[0].Payload.size(), 53u);
    EXPECT_EQ(U32At(replies[0].Payload, 0), 0x01020300u);
    EXPECT_EQ(U32At(replies[0].Payload, 4), 1u);
    EXPECT_EQ(U32At(replies[0].Payload, 24), 1u);
    EXPECT_EQ(U32At(replies[0].Payload, 28), 0x10008000u);
}

// The identity block (serial, device key, bootloader version) is readable at AppStart - 2048,
// as a reply one byte longer than asked.
TEST_F(UnitTest, IdentityInFlash)
{
    SimulatedUnit unit(Settings());
    const auto replies = Exchange(unit, 0x4001, Payload().U32(0x10008000 - 2048).U32(40).Finish());
    ASSERT_EQ(replies.size(), 1u);
    const std::vector<uint8_t>& p = replies[0].Payload;
    ASSERT_EQ(p.size(), 41u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(p.data())), "QX-SIM-000123");
    EXPECT_EQ(p[24], 0x51);
    EXPECT_EQ(U32At(p, 32), 0x01000000u);

    // Outside the flash there is no data reply.
    EXPECT_EQ(StatusOf(Exchange(unit, 0x4001, Payload().U32(0x1007FFF0).U32(40).Finish())), StatusBadAddress);
}

// A request whose checksum does not match is refused with a status, not run.
TEST_F(UnitTest, BadChecksumIsRefused)
{
    SimulatedUnit unit(Settings());
    std::vector<uint8_t> request = WriteRequest("A:\\Maps", "X.qxm", 0, {1, 2, 3});
    request.back() ^= 0x01;
    EXPECT_EQ(StatusOf(Exchange(unit, 0x4012, request)), StatusBadChecksum);
    EXPECT_FALSE(std::filesystem::exists(Card.Path() / "Maps" / "X.qxm"));
}

// A request spread over many reports is assembled up to its total length and run once.
TEST_F(UnitTest, MultiReportWrite)
{
    SimulatedUnit unit(Settings());
    const std::vector<uint8_t> data = simtest::Pattern(1024, 7);
    const auto request = WriteRequest("A:\\Maps", "Track.qxm", 0, data);
    ASSERT_EQ(simtest::RequestReports(0x4012, request).size(), 18u);
    const auto replies = Exchange(unit, 0x4012, request);
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0].Payload, (std::vector<uint8_t>{0xFF, 0x00})); // success and its checksum
    EXPECT_EQ(Card.Read("Maps/Track.qxm"), data);
}

// A half-received request is forgotten when no report follows within 100 ms, so the next request
// is understood on its own.
TEST_F(UnitTest, StaleHalfRequestIsForgotten)
{
    SimulatedUnit unit(Settings());
    const auto partial = simtest::RequestReports(0x4012, WriteRequest("A:\\Maps", "A.qxm", 0, simtest::Pattern(200)));
    EXPECT_TRUE(unit.ReceiveReport(partial[0].data(), 64, 1000).Reports.empty());
    const auto info = simtest::RequestReports(0x4000, {});
    const UnitAnswer answer = unit.ReceiveReport(info[0].data(), 64, 1200);
    ASSERT_EQ(simtest::Assemble(answer.Reports).size(), 1u);
    EXPECT_EQ(simtest::Assemble(answer.Reports)[0].Payload.size(), 53u);
}

// Writes: offset 0 creates or truncates, later blocks must continue at the end of the file.
TEST_F(UnitTest, WriteOffsets)
{
    SimulatedUnit unit(Settings());
    EXPECT_EQ(StatusOf(Exchange(unit, 0x4012, WriteRequest("A:\\Logs", "a.displog", 0, {1, 2, 3}))), StatusOk);
    EXPECT_EQ(StatusOf(Exchange(unit, 0x4012, WriteRequest("A:\\Logs", "a.displog", 3, {4}))), StatusOk);
    EXPECT_EQ(StatusOf(Exchange(unit, 0x4012, WriteRequest("A:\\Logs", "a.displog", 9, {5}))), StatusBadOffset);
    EXPECT_EQ(StatusOf(Exchange(unit, 0x4012, WriteRequest("A:\\Logs", "new.displog", 4, {5}))), StatusFileNotFound);
    EXPECT_EQ(Card.Read("Logs/a.displog"), (std::vector<uint8_t>{1, 2, 3, 4}));
    EXPECT_EQ(StatusOf(Exchange(unit, 0x4012, WriteRequest("A:\\Logs", "a.displog", 0, {9}))), StatusOk);
    EXPECT_EQ(Card.Read("Logs/a.displog"), (std::vector<uint8_t>{9}));
}

// A zero-length read is the probe: count 0 when the file exists, a refusal with "file not found"
// when it does not. Names are matched regardless of case, as on the card.
TEST_F(UnitTest, ProbeAndRefusal)
{
    Card.Write("Maps/Home.qxm", {1, 2});
    SimulatedUnit unit(Settings());
    auto replies = Exchange(unit, 0x4013, ReadRequest("A:\\Maps", "home.QXM", 0, 0));
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0].Payload, (std::vector<uint8_t>{0xFF, 0, 0, 0, 0}));
    replies = Exchange(unit, 0x4013, ReadRequest("A:\\Maps", "Gone.qxm", 0, 0));
    ASSERT_EQ(replies.size(), 1u);
    ASSERT_EQ(replies[0].Payload.size(), 2u);
    EXPECT_EQ(replies[0].Payload[0], 0x05);
    // A read past the end is refused; at the end it gets no bytes.
    EXPECT_EQ(StatusOf(Exchange(unit, 0x4013, ReadRequest("A:\\Maps", "Home.qxm", 3, 10))), StatusBadOffset);
    replies = Exchange(unit, 0x4013, ReadRequest("A:\\Maps", "Home.qxm", 2, 10));
    EXPECT_EQ(replies[0].Payload, (std::vector<uint8_t>{0xFF, 0, 0, 0, 0}));
}

// The listing sends one entry per request, folders with attribute 0x10, and ends with a reply of
// fewer than 6 bytes.
TEST_F(UnitTest, ListingOneEntryPerRequest)
{
    Card.Write("Maps/b.qxm", simtest::Pattern(300));
    Card.Write("Maps/A.wzm", {1});
    std::filesystem::create_directories(Card.Path() / "Maps" / "Old");
    SimulatedUnit unit(Settings());
    std::vector<simtest::Message> entries = Exchange(unit, 0x4010, Payload().Text("A:\\Maps").Text("*.*").Finish());
    for (int i = 0; i < 5 && entries.back().Payload.size() >= 6; ++i) {
        const auto next = Exchange(unit, 0x4011, {});
        ASSERT_EQ(next.size(), 1u);
        entries.push_back(next[0]);
    }
    ASSERT_EQ(entries.size(), 4u);
    // The end of the listing is the 5-byte end entry, not a status.
    EXPECT_EQ(entries[3].Payload.size(), 5u);
    EXPECT_EQ(entries[3].Payload[0], StatusNoMoreFiles);
    auto name = [](const simtest::Message& m) { return std::string(reinterpret_cast<const char*>(&m.Payload[6])); };
    EXPECT_EQ(name(entries[0]), "A.wzm");
    EXPECT_EQ(name(entries[1]), "b.qxm");
    EXPECT_EQ(U32At(entries[1].Payload, 2), 300u);
    EXPECT_EQ(name(entries[2]), "Old");
    EXPECT_EQ(entries[2].Payload[1] & 0x10, 0x10);
    EXPECT_EQ(entries[1].Payload[1] & 0x10, 0);

    // A pattern narrows the listing; a missing folder is refused with a status.
    entries = Exchange(unit, 0x4010, Payload().Text("A:\\Maps").Text("*.qxm").Finish());
    EXPECT_EQ(name(entries[0]), "b.qxm");
    const auto end = Exchange(unit, 0x4011, {});
    ASSERT_EQ(end.size(), 1u);
    EXPECT_EQ(end[0].Payload.size(), 5u);
    EXPECT_EQ(StatusOf(Exchange(unit, 0x4010, Payload().Text("A:\\Nope").Text("*.*").Finish())),
              StatusFolderNotFound);
}

// With the card locked, writes and removals fail with a status byte and change nothing; reads work.
TEST_F(UnitTest, LockedCard)
{
    Card.Write("Logs/keep.displog", {7});
    SimulatedUnit unit(Settings());
    unit.Card().SetLocked(true);
    EXPECT_EQ(StatusOf(Exchange(unit, 0x4012, WriteRequest("A:\\Logs", "new.displog", 0, {1}))), StatusCardLocked);
    EXPECT_EQ(StatusOf(Exchange(unit, 0x4014, Payload().Text("A:\\Logs").Text("keep.displog").U8(0).Finish())),
              StatusCardLocked);
    EXPECT_EQ(Card.Read("Logs/keep.displog"), (std::vector<uint8_t>{7}));
    EXPECT_FALSE(std::filesystem::exists(Card.Path() / "Logs" / "new.displog"));
    EXPECT_EQ(Exchange(unit, 0x4013, ReadRequest("A:\\Logs", "keep.displog", 0, 4))[0].Payload.size(), 6u);
}

// No folder text or name can reach a file outside the card's folder.
TEST_F(UnitTest, NamesCannotLeaveTheCard)
{
    SimulatedUnit unit(Settings());
    const std::filesystem::path outside = Card.Path().parent_path() / (Card.Path().filename().string() + "-escape");
    std::filesystem::remove_all(outside);
    for (const auto& [folder, name] : std::vector<std::pair<std::string, std::string>>{
             {"A:\\Maps", ".."},
             {"A:\\Maps", "../x"},
             {"A:\\Maps", "..\\x"},
             {"A:\\Maps", "a:b"},
             {"A:\\..", "x"},
             {"A:\\Maps\\..\\..", "x"},
             {"A:\\Maps\\\\", "x"},
             {"A:\\Maps", "/tmp/x"},
             {"A:\\Maps", "trailing."},
             {"A:\\Maps", std::string("bell\x07")}}) {
        const int status = StatusOf(Exchange(unit, 0x4012, WriteRequest(folder, name, 0, {1})));
        EXPECT_TRUE(status == StatusBadName || status == StatusFolderNotFound) << folder << " " << name << " " << status;
    }
#ifdef _WIN32
    GTEST_SKIP() << "mingw's C++ library makes no folder links on Windows";
#endif
    // A symbolic link planted in the card folder is not followed.
    std::filesystem::create_directories(outside);
    std::filesystem::create_directory_symlink(outside, Card.Path() / "Maps" / "link");
    EXPECT_EQ(StatusOf(Exchange(unit, 0x4012, WriteRequest("A:\\Maps\\link", "x", 0, {1}))), StatusBadName);
    EXPECT_TRUE(std::filesystem::is_empty(outside));
    std::filesystem::remove_all(outside);
}

// Removal deletes a file; a missing file or a folder is refused.
TEST_F(UnitTest, Remove)
{
    Card.Write("Maps/x.qxm", {1});
    SimulatedUnit unit(Settings());
    const auto remove = [&](const std::string& name) {
        return StatusOf(Exchange(unit, 0x4014, Payload().Text("A:\\Maps").Text(name).U8(0).Finish()));
    };
    EXPECT_EQ(remove("x.qxm"), StatusOk);
    EXPECT_FALSE(std::filesystem::exists(Card.Path() / "Maps" / "x.qxm"));
    EXPECT_EQ(remove("x.qxm"), StatusFileNotFound);
    std::filesystem::create_directories(Card.Path() / "Maps" / "Sub");
    EXPECT_EQ(remove("Sub"), StatusNotAFile);
}

// Each mode answers only its own command set.
TEST_F(UnitTest, ModesAnswerTheirOwnCodes)
{
    SimulatedUnit unit(Settings());
    EXPECT_TRUE(Exchange(unit, 0x6000, {}).empty());
    unit.PowerUp(UnitMode::Bootloader);
    EXPECT_TRUE(Exchange(unit, 0x4000, {}).empty());
    const auto info = Exchange(unit, 0x6000, {});
    ASSERT_EQ(info.size(), 1u);
    EXPECT_EQ(info[0].Payload.size(), 53u);
    EXPECT_EQ(U32At(info[0].Payload, 0), 0x01000000u); // the bootloader reports its own version
}

// Erase names a sector by index and start address of the chip's layout, at or above AppStart;
// program only writes erased bytes, at AppStart + (address - AppStart) * AddressUnit.
TEST_F(UnitTest, EraseAndProgram)
{
    SimulatedUnit unit(Settings());
    unit.PowerUp(UnitMode::Bootloader);
    const auto erase = [&](uint32_t index, uint32_t address) {
        return StatusOf(Exchange(unit, 0x6003, Payload().U32(index).U32(address).Finish()));
    };
    const auto program = [&](uint8_t flags, uint32_t address, const std::vector<uint8_t>& data) {
        return StatusOf(Exchange(unit, 0x6002,
                                 Payload().U8(flags).U32(address).U32(static_cast<uint32_t>(data.size())).Raw(data).Finish()));
    };
    EXPECT_EQ(erase(1, 0x10008000), StatusOk);
    EXPECT_EQ(erase(2, 0x10008000), StatusBadSector); // index and address disagree
    EXPECT_EQ(erase(0, 0x10000000), StatusBadSector); // the bootloader's own sector
    EXPECT_EQ(erase(19, 0x10080000), StatusBadSector);

    const std::vector<uint8_t> block = simtest::Pattern(3072);
    EXPECT_EQ(program(0xC1, 0x10008000, block), StatusOk);
    EXPECT_EQ(program(0x81, 0x10008000, block), StatusNotErased);
    EXPECT_EQ(program(0x81, 0x10010000, block), StatusOk); // sector 2 still holds 0xFF from the start
    EXPECT_EQ(program(0x00, 0x10007000, block), StatusBadAddress);
    ASSERT_EQ(unit.ProgramLog().size(), 2u);
    EXPECT_EQ(unit.ProgramLog()[0].Flags, 0xC1);
    EXPECT_EQ(unit.ProgramLog()[1].Address, 0x10010000u);
    EXPECT_TRUE(std::equal(block.begin(), block.end(), unit.Flash().begin() + 0x8000));

    // With AddressUnit 2, each address step is two bytes: AppStart + 0x8000 lands 0x10000 bytes in.
    unit.SetChip(1, 2, 0x10008000);
    EXPECT_EQ(erase(3, 0x10018000), StatusOk);
    EXPECT_EQ(program(0x00, 0x10008000 + 0x8000, block), StatusOk); // byte 0x10018000
    EXPECT_EQ(unit.Flash()[0x18000], block[0]);
    unit.SetChip(1, 0, 0x10008000);
    EXPECT_EQ(program(0x00, 0x10008000, block), StatusBadAddress);
}

// Chip id 0 has its own layout: sector 4 starts at 0x10008000; sectors below AppStart stay.
TEST_F(UnitTest, SecondChipLayout)
{
    UnitSettings settings = Settings();
    settings.ChipId = 0;
    SimulatedUnit unit(settings);
    unit.PowerUp(UnitMode::Bootloader);
    EXPECT_EQ(StatusOf(Exchange(unit, 0x6003, Payload().U32(4).U32(0x10008000).Finish())), StatusOk);
    EXPECT_EQ(StatusOf(Exchange(unit, 0x6003, Payload().U32(3).U32(0x10004000).Finish())), StatusBadSector);
    EXPECT_EQ(StatusOf(Exchange(unit, 0x6003, Payload().U32(1).U32(0x10008000).Finish())), StatusBadSector);
    EXPECT_EQ(ChipLayout(0).size(), 19u);
    EXPECT_EQ(ChipLayout(1).back().Start + ChipLayout(1).back().Size, 0x10080000u);
    EXPECT_TRUE(ChipLayout(7).empty());
}

// The screen keeps the last text; FinishUpdate gets no reply and marks the end of the update.
TEST_F(UnitTest, ShowTextAndFinish)
{
    SimulatedUnit unit(Settings());
    unit.PowerUp(UnitMode::Bootloader);
    EXPECT_EQ(StatusOf(Exchange(unit, 0x6005, Payload().Text("Program Sectors Erased.").Finish())), StatusOk);
    EXPECT_EQ(unit.ScreenText(), "Program Sectors Erased.");
    const auto finish = simtest::RequestReports(0x6004, {});
    const UnitAnswer answer = unit.ReceiveReport(finish[0].data(), 64, 0);
    EXPECT_TRUE(answer.Finished);
    EXPECT_TRUE(answer.Reports.empty());
}

// status=C:S answers requests with code C with status S; with @K only the K-th one.
TEST_F(UnitTest, StatusFaults)
{
    Card.Write("Maps/a.qxm", {1});
    SimulatedUnit unit(Settings());
    unit.SetStatusFaults({{0x4014, 0x21, 2}, {0x4000, 0x22, 0}});
    const auto remove = Payload().Text("A:\\Maps").Text("none").U8(0).Finish();
    EXPECT_EQ(StatusOf(Exchange(unit, 0x4014, remove)), StatusFileNotFound);
    EXPECT_EQ(StatusOf(Exchange(unit, 0x4014, remove)), 0x21);
    EXPECT_EQ(StatusOf(Exchange(unit, 0x4014, remove)), StatusFileNotFound);
    EXPECT_EQ(StatusOf(Exchange(unit, 0x4000, {})), 0x22);
}
