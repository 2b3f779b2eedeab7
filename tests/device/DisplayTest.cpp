#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <numeric>

#include "ByteOrder.h"
#include "FakeHost.h"
#include "Qxdisplay.h"

namespace {

constexpr const char* UnitPath = "fake:unit";

// A request message as the unit sees it once its reports are put together.
struct Message {
    uint16_t Code = 0;
    std::vector<uint8_t> Payload;
};

std::vector<uint8_t> Text(const char* text)
{
    std::vector<uint8_t> bytes(text, text + std::strlen(text));
    bytes.push_back(0);
    return bytes;
}

class Display : public ::testing::Test {
protected:
    void SetUp() override
    {
        FakeInterface iface;
        iface.Ids = {VendorId, NormalProductId};
        host.AddInterface(UnitPath, iface);
        host.Responder = [this](FakeHost& h, const Report& report) {
            stream.insert(stream.end(), report.begin() + 5, report.end());
            const size_t total = GetLE16(&stream[2]);
            if (stream.size() < total)
                return;
            Message message{GetLE16(&stream[0]), {stream.begin() + 4, stream.begin() + static_cast<long>(total)}};
            stream.clear();
            // The information requests that bring the link back in step are
            // answered as the unit does, unless the test answers them itself.
            const bool info = message.Code == CMD_GET_DEVICE_INFO || message.Code == CMD_GET_BOOT_INFO;
            if (info && !TestAnswersInfo) {
                ++Barriers;
                if (OnBarrier)
                    OnBarrier(h);
                if (!MuteBarriers)
                    h.Inject(FrameReply(message.Code, std::vector<uint8_t>(InfoReplyLength, 0)));
                return;
            }
            if (Answer)
                Answer(h, message);
        };
        display.FindDevices();
        ASSERT_EQ(display.OpenByIndex(0, 0), 0u);
    }
    void Reply(uint16_t code, const std::vector<uint8_t>& payload) { host.Inject(FrameReply(code, payload)); }

    FakeHost host;
    QXDisplay display{host};
    std::vector<uint8_t> stream;
    std::function<void(FakeHost&, const Message&)> Answer;
    bool TestAnswersInfo = false;
    // Runs before the unit answers a barrier: what arrives first.
    std::function<void(FakeHost&)> OnBarrier;
    bool MuteBarriers = false;
    std::atomic<int> Barriers{0};
};

// File bytes whose 1024-byte blocks all differ: a block that repeats the one before it is
// asked again, which would add round trips to the counts the tests check.
std::vector<uint8_t> DistinctBlocks(size_t size)
{
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<uint8_t>(i * 13 + i / 256);
    return bytes;
}

std::vector<uint8_t> BlockReply(const std::vector<uint8_t>& data, uint32_t count)
{
    std::vector<uint8_t> payload = {0};
    AppendLE32(payload, count);
    payload.insert(payload.end(), data.begin(), data.end());
    return payload;
}

} // namespace

TEST_F(Display, FindsNormalAndBootUnitsByProduct)
{
    FakeInterface boot;
    boot.Ids = {VendorId, BootProductId};
    host.AddInterface("fake:boot", boot);
    display.FindDevices();
    EXPECT_EQ(display.DeviceCount(), 1);
    display.FindBootDevices();
    ASSERT_EQ(display.DeviceCount(), 1);
    EXPECT_EQ(display.DevicePaths()[0], "fake:boot");
}

// GetDeviceInfo sends one report with code 0x4000 and total length 4 and
// takes the first 52 bytes of a 53-byte reply.
TEST_F(Display, GetDeviceInfo)
{
    TestAnswersInfo = true;
    Answer = [this](FakeHost&, const Message& m) {
        std::vector<uint8_t> reply(53, 0);
        SetLE32(&reply[0], 0x01020304);
        SetLE32(&reply[4], 1);
        SetLE32(&reply[24], 2);
        SetLE32(&reply[28], 0x10008000);
        Reply(m.Code, reply);
    };
    DISPLAY_INFO info;
    ASSERT_EQ(display.GetDeviceInfo(info), 0u);
    EXPECT_EQ(info.FirmwareVersion, 0x01020304u);
    EXPECT_EQ(info.ChipId, 1u);
    EXPECT_EQ(info.AddressUnit, 2u);
    EXPECT_EQ(info.AppStart, 0x10008000u);
    const auto written = host.Written();
    ASSERT_EQ(written.size(), 1u);
    EXPECT_EQ(Report(written[0].begin(), written[0].begin() + 9),
              (Report{0, 0x55, 0xAA, 0xAA, 0x55, 0x00, 0x40, 0x04, 0x00}));
}

TEST_F(Display, InfoReplyOfOtherLengthTimesOut)
{
    TestAnswersInfo = true;
    Answer = [this](FakeHost&, const Message& m) { Reply(m.Code, std::vector<uint8_t>(52, 0)); };
    DISPLAY_INFO info;
    EXPECT_EQ(display.GetBootInfo(info), ERR_TIMEOUT);
}

// ReadDeviceIdentity reads 40 bytes at AppStart - 2048 and waits for 41.
TEST_F(Display, ReadDeviceIdentity)
{
    Answer = [this](FakeHost&, const Message& m) {
        ASSERT_EQ(m.Code, CMD_READ_DEVICE_MEMORY);
        ASSERT_EQ(m.Payload.size(), 9u);
        EXPECT_EQ(GetLE32(&m.Payload[0]), 0x10008000u - 2048);
        EXPECT_EQ(GetLE32(&m.Payload[4]), 40u);
        EXPECT_EQ(m.Payload[8], Checksum(m.Payload.data(), 8));
        std::vector<uint8_t> reply(41, 0);
        std::memcpy(reply.data(), "QX-123", 6);
        for (int i = 0; i < 8; ++i)
            reply[24 + i] = static_cast<uint8_t>(0xA0 + i);
        SetLE32(&reply[32], 0x01000500);
        Reply(m.Code, reply);
    };
    DISPLAY_IDENTITY identity;
    ASSERT_EQ(display.ReadDeviceIdentity(0x10008000, identity), 0u);
    EXPECT_EQ(identity.Serial(), "QX-123");
    EXPECT_EQ(identity.DeviceKey[7], 0xA7);
    EXPECT_EQ(identity.BootloaderVersion, 0x01000500u);
}

TEST_F(Display, SerialWithoutNulStopsAtItsField)
{
    DISPLAY_IDENTITY identity;
    std::memset(identity.SerialNumber, 'A', sizeof identity.SerialNumber);
    EXPECT_EQ(identity.Serial(), std::string(24, 'A'));
}

// Reading the first 1024 bytes of RUN1.displog in A:\Logs sends exactly this report.
TEST_F(Display, ReadFileBlockWorkedExample)
{
    std::vector<uint8_t> data(1024);
    std::iota(data.begin(), data.end(), uint8_t{0});
    Answer = [&](FakeHost&, const Message& m) { Reply(m.Code, BlockReply(data, 1024)); };
    std::vector<uint8_t> buffer(1024);
    uint32_t length = 1024;
    ASSERT_EQ(display.ReadFileBlock("A:\\Logs", "RUN1.displog", 0, length, buffer.data()), 0u);
    EXPECT_EQ(length, 1024u);
    EXPECT_EQ(buffer, data);

    const auto written = host.Written();
    ASSERT_EQ(written.size(), 1u);
    Report expected = {0x00, 0x55, 0xAA, 0xAA, 0x55, 0x13, 0x40, 0x22, 0x00};
    for (const char* text : {"A:\\Logs", "RUN1.displog"}) {
        auto bytes = Text(text);
        expected.insert(expected.end(), bytes.begin(), bytes.end());
    }
    const uint8_t tail[] = {0, 0, 0, 0, 0x00, 0x04, 0x00, 0x00, 0x49};
    expected.insert(expected.end(), std::begin(tail), std::end(tail));
    expected.resize(64, 0); // 25 zero bytes
    EXPECT_EQ(written[0], expected);
    // The full answer travels in 18 input reports.
    EXPECT_EQ(FrameReply(0x4013, BlockReply(data, 1024)).size(), 18u);
}

TEST_F(Display, ReadFileBlockMalformedReplies)
{
    std::vector<uint8_t> next;
    Answer = [&](FakeHost&, const Message& m) { Reply(m.Code, next); };
    uint8_t buffer[16] = {};
    uint32_t length = 8;
    // More bytes announced than were asked.
    next = BlockReply(std::vector<uint8_t>(9), 9);
    EXPECT_EQ(display.ReadFileBlock("A:\\Logs", "a", 0, length, buffer), ERR_READ_FAILED);
    // A count the payload does not hold.
    length = 8;
    next = BlockReply(std::vector<uint8_t>(3), 8);
    EXPECT_EQ(display.ReadFileBlock("A:\\Logs", "a", 0, length, buffer), ERR_READ_FAILED);
    // Two bytes: the unit refused with status byte 0x05.
    next = {0x05, 0x00};
    EXPECT_EQ(display.ReadFileBlock("A:\\Logs", "a", 0, length, buffer), 0x10000005u);
    next = {0x07};
    EXPECT_EQ(display.ReadFileBlock("A:\\Logs", "a", 0, length, buffer), ERR_READ_FAILED);
    // A short block lowers the length.
    next = BlockReply({1, 2, 3}, 3);
    ASSERT_EQ(display.ReadFileBlock("A:\\Logs", "a", 0, length, buffer), 0u);
    EXPECT_EQ(length, 3u);
    EXPECT_EQ(buffer[2], 3);
}

TEST_F(Display, ReadFileBlockWithoutReplyTimesOut)
{
    uint32_t length = 4;
    uint8_t buffer[4];
    EXPECT_EQ(display.ReadFileBlock("A:\\Logs", "a", 0, length, buffer), ERR_TIMEOUT);
}

namespace {
std::vector<uint32_t> progress;
void RecordProgress(const char*, const char*, uint32_t, uint32_t done) { progress.push_back(done); }
} // namespace

// A 2500-byte file reports 0, 0, 1024, 2048, 2500 and travels in blocks of
// 1024, 1024 and 452 bytes.
TEST_F(Display, GetFileInBlocks)
{
    const std::vector<uint8_t> file = DistinctBlocks(2500);
    std::vector<uint32_t> asked;
    Answer = [&](FakeHost&, const Message& m) {
        const size_t at = m.Payload.size() - 9;
        const uint32_t offset = GetLE32(&m.Payload[at]);
        const uint32_t want = GetLE32(&m.Payload[at + 4]);
        asked.push_back(want);
        Reply(m.Code, BlockReply({file.begin() + offset, file.begin() + offset + want}, want));
    };
    progress.clear();
    std::vector<uint8_t> buffer(2500);
    ASSERT_EQ(display.GetFile("A:\\Logs", "RUN1.displog", 2500, buffer.data(), RecordProgress), 0u);
    EXPECT_EQ(buffer, file);
    EXPECT_EQ(asked, (std::vector<uint32_t>{1024, 1024, 452}));
    EXPECT_EQ(progress, (std::vector<uint32_t>{0, 0, 1024, 2048, 2500}));
}

// A unit that answers a block with no bytes would be asked again forever: it
// is asked once more, then the get fails.
TEST_F(Display, GetFileEndsOnEmptyBlock)
{
    int requests = 0;
    Answer = [&](FakeHost&, const Message& m) {
        ++requests;
        Reply(m.Code, BlockReply({}, 0));
    };
    std::vector<uint8_t> buffer(100);
    EXPECT_EQ(display.GetFile("A:\\Logs", "x", 100, buffer.data(), nullptr), ERR_READ_FAILED);
    EXPECT_EQ(requests, 2);
}

// PutFile removes an existing file first, then writes blocks of 1024 with flag 0x40.
TEST_F(Display, PutFileProbesRemovesAndWrites)
{
    std::vector<Message> seen;
    Answer = [&](FakeHost&, const Message& m) {
        seen.push_back(m);
        if (m.Code == CMD_READ_FILE_BLOCK)
            Reply(m.Code, BlockReply({}, 0)); // the file is there
        else
            Reply(m.Code, {0xFF, 0});
    };
    std::vector<uint8_t> data(1500, 0x5A);
    progress.clear();
    ASSERT_EQ(display.PutFile("A:\\Maps", "m.qxm", 1500, data.data(), RecordProgress), 0u);
    ASSERT_EQ(seen.size(), 4u);
    EXPECT_EQ(seen[0].Code, CMD_READ_FILE_BLOCK);
    EXPECT_EQ(seen[1].Code, CMD_REMOVE_FILE);
    auto removal = Text("A:\\Maps");
    auto name = Text("m.qxm");
    removal.insert(removal.end(), name.begin(), name.end());
    removal.push_back(0x00);
    removal.push_back(Checksum(removal.data(), removal.size()));
    EXPECT_EQ(seen[1].Payload, removal);
    EXPECT_EQ(seen[2].Code, CMD_WRITE_FILE_BLOCK);
    // n + 12 bytes (flag, offset, length, checksum and the two NULs) plus the texts.
    EXPECT_EQ(seen[2].Payload.size(), 1024u + 12 + 7 + 5);
    const size_t flagAt = 8 + 6;
    EXPECT_EQ(seen[2].Payload[flagAt], 0x40);
    EXPECT_EQ(GetLE32(&seen[3].Payload[flagAt + 1]), 1024u);
    EXPECT_EQ(GetLE32(&seen[3].Payload[flagAt + 5]), 476u);
    EXPECT_EQ(progress, (std::vector<uint32_t>{0, 0, 1024, 1500}));
}

TEST_F(Display, PutFileStopsAtLockedCardStatus)
{
    int writes = 0;
    Answer = [&](FakeHost&, const Message& m) {
        if (m.Code == CMD_READ_FILE_BLOCK)
            Reply(m.Code, {0x02, 0}); // not there: no removal
        else if (m.Code == CMD_WRITE_FILE_BLOCK && ++writes == 2)
            Reply(m.Code, {0x04, 0});
        else
            Reply(m.Code, {0xFF, 0});
    };
    std::vector<uint8_t> data(3000, 1);
    EXPECT_EQ(display.PutFile("A:\\Maps", "m.qxm", 3000, data.data(), nullptr), 0x10000004u);
    EXPECT_EQ(writes, 2);
}

TEST_F(Display, ZeroLengthPutSendsNoBlock)
{
    std::vector<uint16_t> codes;
    Answer = [&](FakeHost&, const Message& m) {
        codes.push_back(m.Code);
        Reply(m.Code, {0x02, 0});
    };
    EXPECT_EQ(display.PutFile("A:\\Maps", "empty.qxm", 0, nullptr, nullptr), 0u);
    EXPECT_EQ(codes, (std::vector<uint16_t>{CMD_READ_FILE_BLOCK}));
}

namespace {
std::vector<std::string> listed;
void RecordEntry(const char*, const FILE_ENTRY& entry)
{
    listed.push_back(entry.Name() + (entry.IsFolder() ? "/" : "") + ":" + std::to_string(entry.Size()));
}
} // namespace

// One entry per request; the unit's 5-byte end entry ends the listing. A
// name without NUL is read only up to the payload's end.
TEST_F(Display, ListFilesUntilEndEntry)
{
    std::vector<std::vector<uint8_t>> entries;
    auto entry = [](uint8_t attributes, uint32_t size, const std::string& name, bool nul) {
        std::vector<uint8_t> bytes = {0, attributes};
        AppendLE32(bytes, size);
        bytes.insert(bytes.end(), name.begin(), name.end());
        if (nul)
            bytes.push_back(0);
        return bytes;
    };
    entries.push_back(entry(0x10, 0, "Old", true));
    entries.push_back(entry(0x20, 1234, "a.qxm", true));
    entries.push_back(entry(0x20, 7, "nonul", false));
    entries.push_back({0, 0, 0, 0, 0});
    std::vector<Message> seen;
    Answer = [&](FakeHost&, const Message& m) {
        seen.push_back(m);
        Reply(m.Code, entries[seen.size() - 1]);
    };
    listed.clear();
    EXPECT_EQ(display.ListFiles("A:\\Maps", "*.*", RecordEntry), 0u);
    EXPECT_EQ(listed, (std::vector<std::string>{"Old/:0", "a.qxm:1234", "nonul:7"}));
    EXPECT_EQ(display.ListingEnd(), 0u);
    ASSERT_EQ(seen.size(), 4u);
    auto first = Text("A:\\Maps");
    auto pattern = Text("*.*");
    first.insert(first.end(), pattern.begin(), pattern.end());
    first.push_back(Checksum(first.data(), first.size()));
    EXPECT_EQ(seen[0].Code, CMD_FILE_FIND_FIRST);
    EXPECT_EQ(seen[0].Payload, first);
    EXPECT_EQ(seen[1].Code, CMD_FILE_FIND_NEXT);
    EXPECT_TRUE(seen[1].Payload.empty());
}

TEST_F(Display, ProgramBlockPayload)
{
    std::vector<Message> seen;
    Answer = [&](FakeHost&, const Message& m) {
        seen.push_back(m);
        Reply(m.Code, {0xFF, 0});
    };
    std::vector<uint8_t> image(3072, 0xA5);
    ASSERT_EQ(display.ProgramBlock(0xC0, 0x10008000, 3072, image.data()), 0u);
    ASSERT_EQ(seen.size(), 1u);
    ASSERT_EQ(seen[0].Payload.size(), 3082u);
    EXPECT_EQ(seen[0].Payload[0], 0xC0);
    EXPECT_EQ(GetLE32(&seen[0].Payload[1]), 0x10008000u);
    EXPECT_EQ(GetLE32(&seen[0].Payload[5]), 3072u);
    EXPECT_EQ(seen[0].Payload[3081], Checksum(seen[0].Payload.data(), 3081));
    ASSERT_EQ(display.EraseSector(3, 0x10018000), 0u);
    EXPECT_EQ(seen[1].Code, CMD_ERASE_SECTOR);
    EXPECT_EQ(seen[1].Payload.size(), 9u);
    ASSERT_EQ(display.ShowText("Hi"), 0u);
    EXPECT_EQ(seen[2].Payload, (std::vector<uint8_t>{'H', 'i', 0, Checksum(reinterpret_cast<const uint8_t*>("Hi"), 3)}));
    // FinishUpdate only sends.
    ASSERT_EQ(display.FinishUpdate(), 0u);
    EXPECT_EQ(seen.size(), 4u);
    EXPECT_EQ(seen[3].Code, CMD_FINISH_UPDATE);
}

// A name too long for the 16-bit message length is refused before anything is sent.
TEST_F(Display, OverlongNameIsRefusedUnsent)
{
    const std::string name(70000, 'n');
    uint32_t length = 0;
    EXPECT_EQ(display.ReadFileBlock("A:\\Logs", name.c_str(), 0, length, nullptr), ERR_WRONG_PACKET);
    EXPECT_EQ(display.RemoveFile("A:\\Logs", name.c_str()), ERR_WRONG_PACKET);
    EXPECT_FALSE(display.FileFindFirst(name.c_str(), "*.*"));
    EXPECT_EQ(display.RemoveFile(nullptr, "x"), ERR_WRONG_PACKET);
    EXPECT_TRUE(host.Written().empty());
}

namespace {
QXDisplay* reentered = nullptr;
uint32_t nestedResult = 0;
void ReenteringProgress(const char*, const char*, uint32_t, uint32_t)
{
    // As a window pumping its events during a transfer might: start another command.
    DISPLAY_INFO info;
    nestedResult = reentered->GetDeviceInfo(info);
}
} // namespace

// A second command started from a progress callback is refused, and the
// transfer under way goes on to its end.
TEST_F(Display, CommandFromCallbackIsRefused)
{
    Answer = [&](FakeHost&, const Message& m) {
        if (m.Code == CMD_READ_FILE_BLOCK)
            Reply(m.Code, BlockReply(std::vector<uint8_t>(10, 3), 10));
    };
    reentered = &display;
    std::vector<uint8_t> buffer(10);
    EXPECT_FALSE(display.IsBusy());
    ASSERT_EQ(display.GetFile("A:\\Logs", "x", 10, buffer.data(), ReenteringProgress), 0u);
    EXPECT_EQ(nestedResult, ERR_DEVICE_IN_USE);
    EXPECT_FALSE(display.IsBusy());
    EXPECT_EQ(buffer[9], 3);
}

TEST_F(Display, CommandsOnClosedDeviceFailWithoutWaiting)
{
    display.Close();
    DISPLAY_INFO info;
    EXPECT_EQ(display.GetDeviceInfo(info), ERR_WRITE_FAILED);
    EXPECT_EQ(display.FinishUpdate(), ERR_WRITE_FAILED);
    EXPECT_FALSE(display.FileFindFirst("A:\\Maps", "*.*"));
}

// A reply that comes after its request's wait gave up is never taken as the
// answer to the next request: before the next request the link is brought
// back in step, and the late reply is discarded on the way.
TEST_F(Display, LateReplyIsNotTakenByTheNextRequest)
{
    int removes = 0;
    Answer = [&](FakeHost&, const Message& m) {
        if (++removes == 2)
            Reply(m.Code, {0x02, 0}); // the second file is not there
    };
    // The first removal's success arrives late, just before the barrier's reply.
    OnBarrier = [&](FakeHost&) { Reply(CMD_REMOVE_FILE, {0xFF, 0}); };
    EXPECT_EQ(display.RemoveFile("A:\\Maps", "Dyno.wzm"), ERR_TIMEOUT);
    EXPECT_FALSE(display.InStep());
    EXPECT_EQ(display.RemoveFile("A:\\Maps", "nosuch.qxm"), 0x10000002u);
    EXPECT_TRUE(display.InStep());
    EXPECT_EQ(Barriers, 1);
}

// A duplicated reply (a request that reached the unit twice) shifts every
// later reply by one: the get cannot tell which block it took, so it does not
// report success.
TEST_F(Display, DuplicatedReplyFailsTheGet)
{
    const std::vector<uint8_t> file = DistinctBlocks(4096);
    std::vector<uint8_t> previous;
    Answer = [&](FakeHost&, const Message& m) {
        const size_t at = m.Payload.size() - 9;
        const uint32_t offset = GetLE32(&m.Payload[at]);
        const uint32_t want = GetLE32(&m.Payload[at + 4]);
        const auto reply = BlockReply({file.begin() + offset, file.begin() + offset + want}, want);
        // The second block's reply comes twice; the copy arrives behind the next request.
        if (offset == 2048)
            Reply(m.Code, previous);
        Reply(m.Code, reply);
        previous = reply;
    };
    std::vector<uint8_t> buffer(4096);
    EXPECT_EQ(display.GetFile("A:\\Maps", "Street.qxm", 4096, buffer.data(), nullptr), ERR_VERIFY_ERR);
    // The copy taken for the third block repeats the second: that block is asked again after a
    // barrier, and the count at the end finds the reply too many (when the copy comes before or
    // after the barrier, one more may be needed).
    EXPECT_GE(Barriers, 2);
    const int before = Barriers;
    // Without the duplicate the same get succeeds, with one barrier at its end.
    Answer = [&](FakeHost&, const Message& m) {
        const size_t at = m.Payload.size() - 9;
        const uint32_t offset = GetLE32(&m.Payload[at]);
        const uint32_t want = GetLE32(&m.Payload[at + 4]);
        Reply(m.Code, BlockReply({file.begin() + offset, file.begin() + offset + want}, want));
    };
    ASSERT_EQ(display.GetFile("A:\\Maps", "Street.qxm", 4096, buffer.data(), nullptr), 0u);
    EXPECT_EQ(buffer, file);
    EXPECT_EQ(Barriers - before, 1);
}

// A block whose reply is lost is asked for once more after the barrier; a
// write is never repeated.
TEST_F(Display, TimedOutBlockReadIsRetriedOnceWritesAreNot)
{
    std::vector<uint32_t> offsets;
    Answer = [&](FakeHost&, const Message& m) {
        const size_t at = m.Payload.size() - 9;
        offsets.push_back(GetLE32(&m.Payload[at]));
        if (offsets.size() == 2)
            return; // the second block's reply is lost
        Reply(m.Code, BlockReply(std::vector<uint8_t>(GetLE32(&m.Payload[at + 4]), static_cast<uint8_t>(offsets.size())),
                                 GetLE32(&m.Payload[at + 4])));
    };
    std::vector<uint8_t> buffer(2048);
    ASSERT_EQ(display.GetFile("A:\\Logs", "RUN1.displog", 2048, buffer.data(), nullptr), 0u);
    EXPECT_EQ(offsets, (std::vector<uint32_t>{0, 1024, 1024}));
    EXPECT_EQ(Barriers, 2); // before the retry, and at the end

    int writes = 0;
    Answer = [&](FakeHost&, const Message& m) {
        if (m.Code == CMD_READ_FILE_BLOCK)
            Reply(m.Code, {0x02, 0});
        else if (++writes != 1)
            Reply(m.Code, {0xFF, 0});
    };
    std::vector<uint8_t> data(2048, 1);
    EXPECT_EQ(display.PutFile("A:\\Maps", "m.qxm", 2048, data.data(), nullptr), ERR_TIMEOUT);
    EXPECT_EQ(writes, 1);
}

// A unit that does not answer the barrier counts as gone until the command
// ends: the command's later requests fail at once, unsent.
TEST_F(Display, UnansweredBarrierEndsTheCommand)
{
    MuteBarriers = true;
    UnitCommand command(display);
    ASSERT_EQ(command.Result, 0u);
    uint32_t length = 4;
    uint8_t buffer[4];
    EXPECT_EQ(display.ReadFileBlock("A:\\Logs", "a", 0, length, buffer), ERR_TIMEOUT);
    EXPECT_FALSE(display.LinkLost());
    EXPECT_EQ(display.RemoveFile("A:\\Logs", "a"), ERR_TIMEOUT);
    EXPECT_TRUE(display.LinkLost());
    EXPECT_EQ(Barriers, BarrierAttempts);
    const size_t sent = host.Written().size();
    EXPECT_EQ(display.RemoveFile("A:\\Logs", "b"), ERR_TIMEOUT);
    EXPECT_EQ(host.Written().size(), sent);
}

// Only the unit's end entry (a payload of exactly 5 bytes) ends a listing as
// complete. A status reply (2 to 4 bytes) is a refusal with that status, a
// payload of 0 or 1 byte is no answer at all (the link is then out of step),
// and silence is a time-out. ListFiles itself returns 0 in every case.
TEST_F(Display, ListingEndSaysWhyItStopped)
{
    struct Case {
        std::vector<uint8_t> End;
        uint32_t Expected;
    };
    const std::vector<Case> cases = {
        {{0x03, 0, 0, 0, 0xFC}, 0},
        {{0x08, 0xF7}, StatusOffset + 0x08},
        {{0xFF, 0}, StatusOffset + 0xFF},
        {{0x09, 0, 0}, StatusOffset + 0x09},
        {{0x03, 0, 0, 0}, StatusOffset + 0x03},
        {{0x03}, ERR_READ_FAILED},
        {{}, ERR_READ_FAILED},
    };
    for (const Case& c : cases) {
        int requests = 0;
        Answer = [&](FakeHost&, const Message& m) {
            if (++requests == 1)
                Reply(m.Code, {0, 0x20, 1, 0, 0, 0, 'a', 0});
            else
                Reply(m.Code, c.End);
        };
        listed.clear();
        EXPECT_EQ(display.ListFiles("A:\\Maps", "*.*", RecordEntry), 0u);
        EXPECT_EQ(listed, (std::vector<std::string>{"a:1"}));
        EXPECT_EQ(display.ListingEnd(), c.Expected) << c.End.size() << " bytes";
        EXPECT_EQ(display.InStep(), c.Expected != ERR_READ_FAILED) << c.End.size() << " bytes";
    }
    // A refusal of the first request lists nothing.
    Answer = [&](FakeHost&, const Message& m) { Reply(m.Code, {0x09, 0}); };
    EXPECT_EQ(display.ListFiles("A:\\Nope", "*.*", nullptr), 0u);
    EXPECT_EQ(display.ListingEnd(), StatusOffset + 0x09);
    int requests = 0;
    Answer = [&](FakeHost&, const Message& m) {
        if (++requests == 1)
            Reply(m.Code, {0, 0x20, 1, 0, 0, 0, 'a', 0});
    };
    EXPECT_EQ(display.ListFiles("A:\\Maps", "*.*", nullptr), 0u);
    EXPECT_EQ(display.ListingEnd(), ERR_TIMEOUT);
}

namespace {

// The reports of a block reply, the report at `lost` left out (none: -1).
std::vector<Report> BlockReports(const std::vector<uint8_t>& payload, int lost = -1)
{
    auto reports = FrameReply(CMD_READ_FILE_BLOCK, payload);
    if (lost >= 0)
        reports.erase(reports.begin() + lost);
    return reports;
}

} // namespace

// Issue 21 at the level of the command set: a block request that reaches the
// unit twice and a lost report in a later reply. Without the reader noticing
// the lost report, the half-built reply is completed by the next reply's first
// report and the two faults cancel in the count of replies. The get must fail
// or be byte-identical; with the cut reply counted, it fails.
TEST_F(Display, DuplicatedRequestAndLostReportFailTheGet)
{
    const std::vector<uint8_t> file = DistinctBlocks(8192);
    for (const uint32_t lostIn : {3u, 4u, 6u}) {
        std::vector<uint8_t> previous;
        int replies = 0;
        Answer = [&](FakeHost& h, const Message& m) {
            const size_t at = m.Payload.size() - 9;
            const uint32_t offset = GetLE32(&m.Payload[at]);
            const uint32_t want = GetLE32(&m.Payload[at + 4]);
            const auto reply = BlockReply({file.begin() + offset, file.begin() + offset + want}, want);
            if (offset == 2048 && previous.size() == reply.size())
                h.Inject(BlockReports(previous)); // the request for block 1 reached the unit twice
            ++replies;
            h.Inject(BlockReports(reply, replies == static_cast<int>(lostIn) ? 5 : -1));
            previous = reply;
        };
        std::vector<uint8_t> buffer(file.size());
        const uint32_t result = display.GetFile("A:\\Logs", "RUN1.displog", 8192, buffer.data(), nullptr);
        EXPECT_TRUE(result != 0 || buffer == file) << "lost report in reply " << lostIn;
        EXPECT_TRUE(result == ERR_VERIFY_ERR || result == ERR_READ_FAILED) << result << " lost report in reply " << lostIn;
    }
}

// A lost report alone: the cut reply is taken at once as a failed block (no
// second's wait), and the block is asked for again after the link is back in step.
TEST_F(Display, ReplyCutByTheNextReplyIsRetried)
{
    const std::vector<uint8_t> file = DistinctBlocks(3072);
    std::vector<uint32_t> offsets;
    Answer = [&](FakeHost& h, const Message& m) {
        const size_t at = m.Payload.size() - 9;
        const uint32_t offset = GetLE32(&m.Payload[at]);
        const uint32_t want = GetLE32(&m.Payload[at + 4]);
        offsets.push_back(offset);
        const auto reply = BlockReply({file.begin() + offset, file.begin() + offset + want}, want);
        // The second request's reply loses a report and a copy of the same
        // reply follows at once, as after a duplicated request.
        if (offsets.size() == 2) {
            h.Inject(BlockReports(reply, 7));
            h.Inject(BlockReports(reply));
            return;
        }
        h.Inject(BlockReports(reply));
    };
    std::vector<uint8_t> buffer(file.size());
    const uint32_t result = display.GetFile("A:\\Logs", "RUN1.displog", 3072, buffer.data(), nullptr);
    // The copy is one reply more than requests: the get cannot vouch for its blocks.
    EXPECT_EQ(result, ERR_VERIFY_ERR);
    EXPECT_EQ(offsets, (std::vector<uint32_t>{0, 1024, 1024, 2048}));
}

// Reports that cannot be placed are the rest of a reply whose first report
// was lost. Before the first block that reply is counted and the block asked
// again once the link is back in step, and the file comes whole. Before a
// later block's reply they may also be the rest of a reply that the block
// handed on before swallowed, so the get fails rather than vouch for it.
TEST_F(Display, UnplacedReportMakesTheBlockSuspect)
{
    const std::vector<uint8_t> file = DistinctBlocks(3000);
    for (const size_t request : {1u, 2u}) {
        std::vector<uint32_t> offsets;
        Answer = [&](FakeHost& h, const Message& m) {
            const size_t at = m.Payload.size() - 9;
            const uint32_t offset = GetLE32(&m.Payload[at]);
            const uint32_t want = GetLE32(&m.Payload[at + 4]);
            offsets.push_back(offset);
            const auto reply = FrameReply(m.Code, BlockReply({file.begin() + offset, file.begin() + offset + want}, want));
            if (offsets.size() == request && request == 1) {
                h.Inject(std::vector<Report>(reply.begin() + 1, reply.end())); // its first report is lost
                return;
            }
            if (offsets.size() == request) {
                Report orphan(64, 0x5A); // code 0x5A5A: the unit sends no such reply
                std::copy_n(reply[0].begin(), 5, orphan.begin());
                h.Inject(orphan);
            }
            h.Inject(reply);
        };
        Barriers = 0;
        std::vector<uint8_t> buffer(file.size());
        const uint32_t before = display.UnplacedReports();
        const uint32_t result = display.GetFile("A:\\Logs", "RUN1.displog", 3000, buffer.data(), nullptr);
        if (request == 1) {
            ASSERT_EQ(result, 0u);
            EXPECT_EQ(buffer, file);
            EXPECT_EQ(display.UnplacedReports(), before + 17);
            EXPECT_EQ(offsets, (std::vector<uint32_t>{0, 0, 1024, 2048}));
            EXPECT_EQ(Barriers, 2); // before the block asked again, and at the end
        } else {
            EXPECT_EQ(result, ERR_VERIFY_ERR);
            EXPECT_EQ(display.UnplacedReports(), before + 1);
            EXPECT_EQ(offsets, (std::vector<uint32_t>{0, 1024}));
        }
    }
}

// A request for the next entry that reached the unit twice moves its cursor
// twice: one entry is skipped and the listing would look complete. The
// replies are counted, and the listing ends with ERR_VERIFY_ERR instead.
TEST_F(Display, DuplicatedFindNextFailsTheListing)
{
    const std::vector<std::vector<uint8_t>> entries = {
        {0, 0x20, 1, 0, 0, 0, 'a', 0}, {0, 0x20, 2, 0, 0, 0, 'b', 0}, {0, 0x20, 3, 0, 0, 0, 'c', 0}};
    for (const bool duplicated : {false, true}) {
        size_t cursor = 0;
        Answer = [&](FakeHost&, const Message& m) {
            if (m.Code == CMD_FILE_FIND_FIRST)
                cursor = 0;
            const int answers = duplicated && m.Code == CMD_FILE_FIND_NEXT && cursor == 1 ? 2 : 1;
            for (int i = 0; i < answers; ++i)
                Reply(m.Code, cursor < entries.size() ? entries[cursor++] : std::vector<uint8_t>{3, 0, 0, 0, 0xFC});
        };
        listed.clear();
        EXPECT_EQ(display.ListFiles("A:\\Maps", "*.*", RecordEntry), 0u);
        if (duplicated) {
            EXPECT_EQ(display.ListingEnd(), ERR_VERIFY_ERR);
        } else {
            EXPECT_EQ(display.ListingEnd(), 0u);
            EXPECT_EQ(listed, (std::vector<std::string>{"a:1", "b:2", "c:3"}));
        }
    }
}

// A request that reached the unit twice and a later one that never reached it
// cancel in the count of replies, and every block between them carries the
// one before. The get counts every CheckEveryBlocks blocks as well, so a pair
// that falls on both sides of such a count fails the get.
TEST_F(Display, DuplicatedAndLostRequestAcrossACountFailTheGet)
{
    const uint32_t size = 2 * CheckEveryBlocks * FileBlockSize;
    std::vector<uint8_t> file(size);
    for (size_t i = 0; i < file.size(); ++i)
        file[i] = static_cast<uint8_t>(i / FileBlockSize * 7 + i);
    bool lost = false;
    Answer = [&](FakeHost&, const Message& m) {
        const size_t at = m.Payload.size() - 9;
        const uint32_t offset = GetLE32(&m.Payload[at]);
        const uint32_t want = GetLE32(&m.Payload[at + 4]);
        if (offset == (CheckEveryBlocks + 4) * FileBlockSize && !lost) {
            lost = true; // this request never reached the unit
            return;
        }
        const auto reply = BlockReply({file.begin() + offset, file.begin() + offset + want}, want);
        Reply(m.Code, reply);
        if (offset == 2 * FileBlockSize)
            Reply(m.Code, reply); // this one reached it twice
    };
    std::vector<uint8_t> buffer(size);
    EXPECT_EQ(display.GetFile("A:\\Logs", "RUN1.displog", size, buffer.data(), nullptr), ERR_VERIFY_ERR);
}
