// The pedometer module as the program sees it: the built plug-in loaded by name, its
// exports bound, talking to the simulated pedometer through the transport hook.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "SimPedometerFixture.h"
#include "StridexModule.h"
#include "stridex-4473/PedoBcd.h"

namespace {

constexpr SimReport kReadId{0, 0, 0, 0, 0, 0, 0, 5};
constexpr SimReport kStart{0, 0, 0, 0, 0, 0x41, 1, 3};

SimReport BlockRequest(int block) { return {0, 0, 0, 0, 0, static_cast<BYTE>(block), 1, 3}; }

// Day d: 5190 + 10d steps, 45600 + d energy; so 16 January (d = 4) has 5230 steps.
SimPedometerValues SampleDays() {
    SimPedometerValues values;
    for (int d = 0; d <= 30; ++d) values.days[d] = {5190 + 10 * d, 45600 + d};
    return values;
}

std::string HistoryRow(int year, int month, int day, int value) {
    char row[128];
    std::snprintf(row, sizeof(row), "%d-%02d-%02d|%d|%d-%02d-%02d|`", year, month, day, value, year, month, day);
    return row;
}

// The 30 rows of a history without a limit: today's steps 5190, ending on 20 January 2013.
std::string ThirtyDays() {
    std::string rows;
    for (int d = 29; d >= 20; --d) rows += HistoryRow(2012, 12, 51 - d, 5190 + 10 * d);
    for (int d = 19; d >= 0; --d) rows += HistoryRow(2013, 1, 20 - d, 5190 + 10 * d);
    return rows;
}

class StridexModuleTest : public SimPedometerFixture {
protected:
    StridexModuleTest() : module_(StridexModule::FreshCopy(dir_.Path())), fn_(module_->fn) {
        device_->SetValues(SampleDays());
    }

    std::string OrigText() {
        char* text = nullptr;
        const int length = fn_.GetModuleOrigData(&text);
        return length > 0 ? std::string(text, static_cast<std::size_t>(length)) : std::string(text);
    }

    std::string History(const char* name, const char* since, std::uint32_t size, int* rows = nullptr) {
        std::vector<char> out(size + 1, 'x');
        const int written = fn_.ReadModuleHisData(name, since, out.data(), size);
        if (rows != nullptr) *rows = written;
        EXPECT_EQ(out[size], 'x') << "written past outSize";
        return out.data();
    }

    std::unique_ptr<StridexModule> module_;
    const StridexExports& fn_;
};

TEST_F(StridexModuleTest, AllSixteenExportsBindAndInitialisingTwiceIsHarmless) {
    ASSERT_TRUE(module_->Loaded()) << LastLibraryError();
    for (int i = 0; i < kPedometerExportCount; ++i) EXPECT_NE(module_->Find(kModuleExportNames[i]), nullptr) << i;
    EXPECT_EQ(module_->Find("SetModuleDataProcStatusCallBackFunc"), nullptr);

    EXPECT_EQ(fn_.GetModuleState(), 0);
    int first = -100;
    int second = -100;
    std::thread a([&] { first = fn_.InitModule(); });
    std::thread b([&] { second = fn_.InitModule(); });
    a.join();
    b.join();
    EXPECT_EQ(first, 0);
    EXPECT_EQ(second, 0);
    EXPECT_EQ(fn_.GetModuleState(), 9);
    EXPECT_EQ(fn_.StartWork(), 0);
    EXPECT_EQ(fn_.StopWork(), 0);
    EXPECT_EQ(fn_.GetElementName(), 37);
    EXPECT_GE(fn_.dev_ResetData(), 0);
    EXPECT_TRUE(device_->Requests().empty()) << "initialising looks for no device";
}

TEST_F(StridexModuleTest, ElementAttributesComeFromTheTableAndBadQueriesTouchNothing) {
    char out[16] = "untouched";
    EXPECT_EQ(fn_.GetElementAttribute("pedoValidTime", 2, out), 0);
    EXPECT_STREQ(out, "1000");
    EXPECT_EQ(fn_.GetElementAttribute("pedoNumberOfSteps", 3, out), 0);
    EXPECT_STREQ(out, "100");
    std::snprintf(out, sizeof out, "%s", "untouched");
    EXPECT_EQ(fn_.GetElementAttribute("pedoValidTime", 0, out), -1);
    EXPECT_EQ(fn_.GetElementAttribute("pedoValidTime", 6, out), -1);
    EXPECT_EQ(fn_.GetElementAttribute("quietPulse", 1, out), -1);
    EXPECT_EQ(fn_.GetElementAttribute("pedovalidtime", 1, out), -1);
    EXPECT_EQ(fn_.GetElementAttribute(nullptr, 1, out), -1);
    EXPECT_STREQ(out, "untouched");
}

TEST_F(StridexModuleTest, NothingIsReadBeforeInitialisingOrHandedOutBeforeARead) {
    EXPECT_EQ(fn_.ReadModuleOrigData(), -1);
    EXPECT_EQ(fn_.ReadModuleID(), -1);
    EXPECT_EQ(fn_.SetModuleDevOption("80|605|1|10000|"), -1);
    EXPECT_EQ(link_->Searches(), 0);

    ASSERT_EQ(fn_.InitModule(), 0);
    char* text = nullptr;
    EXPECT_EQ(fn_.GetModuleOrigData(&text), -1);
    EXPECT_STREQ(text, "");
    EXPECT_EQ(fn_.GetModuleID(&text), 0);
    EXPECT_STREQ(text, "");
    EXPECT_EQ(fn_.GetModuleOrigData(nullptr), -1);
}

TEST_F(StridexModuleTest, RawReadSendsTheIdRequestAndEveryBlockOnceOverTheRightDevice) {
    link_->SetDecoy(true);
    ASSERT_EQ(fn_.InitModule(), 0);
    EXPECT_EQ(fn_.ReadModuleOrigData(), 350);

    std::vector<SimReport> expected{kReadId};
    for (int b = 0; b < 35; ++b) expected.push_back(BlockRequest(b));
    EXPECT_EQ(device_->Requests(), expected);
    EXPECT_EQ(link_->Searches(), 1) << "the presence search; the exchanges keep its link";
    for (const auto& path : link_->OpenedPaths()) EXPECT_EQ(path, SimPedometerTransport::kDevicePath);
    EXPECT_LE(link_->OpenHandles(), 1);

    EXPECT_EQ(OrigText(), device_->RawText());
    EXPECT_EQ(OrigText().substr(0, 40), "1050076500" "0000000000" "0000000000" "9051604500");
    char* id = nullptr;
    EXPECT_EQ(fn_.GetModuleID(&id), 10);
    EXPECT_STREQ(id, "123456789A");
}

TEST_F(StridexModuleTest, CopyToABufferNeedsRoomForTheWholeTextAndAddsNoNul) {
    ASSERT_EQ(fn_.InitModule(), 0);
    std::vector<char> buffer(400, 'x');
    EXPECT_EQ(fn_.ReadModuleOrigDataToBuf(buffer.data(), 349), -1);
    EXPECT_EQ(buffer[0], 'x');
    EXPECT_EQ(fn_.ReadModuleOrigDataToBuf(buffer.data(), 350), 350);
    EXPECT_EQ(std::string(buffer.data(), 350), device_->RawText());
    EXPECT_EQ(buffer[350], 'x');
    EXPECT_EQ(fn_.ReadModuleOrigDataToBuf(nullptr, 350), -1);

    device_->SetPlugged(false);
    EXPECT_EQ(fn_.ReadModuleOrigDataToBuf(buffer.data(), 400), -3);
}

TEST_F(StridexModuleTest, WithoutADeviceEveryReadFails) {
    device_->SetPlugged(false);
    ASSERT_EQ(fn_.InitModule(), 0);
    EXPECT_EQ(fn_.ReadModuleOrigData(), -3);
    char* text = nullptr;
    EXPECT_EQ(fn_.GetModuleOrigData(&text), -3);

    const int searches = link_->Searches();
    struModuleReadRequest request{"pedoNumberOfSteps", '1'};
    char out[80] = "untouched";
    EXPECT_EQ(fn_.ReadModuleData(&request, out), -1);
    EXPECT_EQ(link_->Searches() - searches, 30) << "30 start attempts, one search each";
    EXPECT_STREQ(out, "untouched");
    EXPECT_EQ(fn_.ReadModuleHisData("pedoNumberOfSteps", nullptr, out, sizeof(out)), -1);
    EXPECT_STREQ(out, "") << "no rows of an unread day";
    EXPECT_EQ(fn_.SetModuleDevOption("80|605|1|10000|"), -3);
}

TEST_F(StridexModuleTest, AnIdThatDoesNotEchoReadsAsZerosAndTheBlocksFollow) {
    ASSERT_EQ(fn_.InitModule(), 0);
    EXPECT_EQ(fn_.ReadModuleID(), 10);
    char* id = nullptr;
    EXPECT_EQ(fn_.GetModuleID(&id), 10);
    EXPECT_STREQ(id, "123456789A");

    device_->FaultAt(1, SimFault::WrongEcho);  // the raw read's own ID request
    EXPECT_EQ(fn_.ReadModuleOrigData(), 350);
    EXPECT_EQ(fn_.GetModuleID(&id), 10);
    EXPECT_STREQ(id, "0000000000") << "no ID from an earlier read stays";
    EXPECT_EQ(OrigText(), device_->RawText());
}

// Request 8 of a raw read is block 7.
struct BlockFault {
    SimFault fault;
    BYTE code;
    bool waitsOutASecond;  // the retry finds the link closed
};

class StridexBlockFaultTest : public StridexModuleTest, public ::testing::WithParamInterface<BlockFault> {};

TEST_P(StridexBlockFaultTest, ABlockFailureEndsTheReadAndKeepsWhatCameBefore) {
    device_->FaultAt(8, GetParam().fault, GetParam().code);
    ASSERT_EQ(fn_.InitModule(), 0);
    EXPECT_EQ(fn_.ReadModuleOrigData(), -4);
    EXPECT_EQ(device_->Requests().size(), 9u);
    char* text = nullptr;
    EXPECT_EQ(fn_.GetModuleOrigData(&text), -4);
    EXPECT_EQ(std::string(text), device_->RawText().substr(0, 70));
    EXPECT_EQ(LongSleeps(), GetParam().waitsOutASecond ? std::vector<DWORD>{1000} : std::vector<DWORD>{});

    // A failed read or write closed everything; the next exchange searches and opens anew.
    const int opens = link_->Opens();
    EXPECT_EQ(fn_.ReadModuleOrigData(), 350);
    EXPECT_GT(link_->Opens(), opens);
    EXPECT_EQ(OrigText(), device_->RawText());
}

INSTANTIATE_TEST_SUITE_P(Faults, StridexBlockFaultTest,
                         ::testing::Values(BlockFault{SimFault::WrongCode, '4', false},
                                           BlockFault{SimFault::WrongEcho, 0, false},
                                           BlockFault{SimFault::TimeOut, 0, true},
                                           BlockFault{SimFault::IoError, 0, true}));

// Block 0's raw reply comes after the read gave up on it, echoing the index the ID's
// answer echoes: the next read drops it, and takes it neither for the ID nor for a block.
TEST_F(StridexModuleTest, ARawReplyThatComesLateIsDroppedByTheNextRead) {
    device_->AnswerLate(0, 1500);
    ASSERT_EQ(fn_.InitModule(), 0);
    EXPECT_EQ(fn_.ReadModuleOrigData(), -4);
    EXPECT_EQ(fn_.ReadModuleOrigData(), 350);
    EXPECT_EQ(OrigText(), device_->RawText());
    char* id = nullptr;
    EXPECT_EQ(fn_.GetModuleID(&id), 10);
    EXPECT_STREQ(id, "123456789A");
}

TEST_F(StridexModuleTest, ATimeOutClosesTheLinkAtOnce) {
    device_->FaultAt(3, SimFault::TimeOut);
    ASSERT_EQ(fn_.InitModule(), 0);
    EXPECT_EQ(fn_.ReadModuleOrigData(), -4);
    EXPECT_EQ(link_->OpenHandles(), 0);
    EXPECT_EQ(link_->Opens(), link_->Closes());
}

TEST_F(StridexModuleTest, AnUnpluggedDeviceIsNotFoundAgain) {
    device_->FaultAt(5, SimFault::Unplug);
    ASSERT_EQ(fn_.InitModule(), 0);
    EXPECT_EQ(fn_.ReadModuleOrigData(), -4);
    EXPECT_EQ(fn_.ReadModuleOrigData(), -3);
}

// Requests 0 to 5 are the ID, the start and blocks 3 to 6: the device comes back before
// block 6 is asked again, and would answer it as a raw block.
TEST_F(StridexModuleTest, ADayReadWhoseDeviceHadToBeFoundAgainFails) {
    device_->FaultAt(5, SimFault::Bounce);
    ASSERT_EQ(fn_.InitModule(), 0);
    struModuleReadRequest request{"pedoNumberOfSteps", '1'};
    char out[80] = "untouched";
    EXPECT_EQ(fn_.ReadModuleData(&request, out), -1);
    EXPECT_EQ(device_->Requests().size(), 6u);
}

// Request 5 is block 6: its reply does not come in time. The device never left the bus,
// so the block is asked again once the link is shown in step, as every unanswered block:
// after a fault by the ID and two raw blocks no proof since asked for.
TEST_F(StridexModuleTest, ADayReplyThatTimesOutIsAskedAgain) {
    device_->FaultAt(5, SimFault::TimeOut);
    ASSERT_EQ(fn_.InitModule(), 0);
    struModuleReadRequest request{"pedoNumberOfSteps", '1'};
    char out[80] = "untouched";
    ASSERT_EQ(fn_.ReadModuleData(&request, out), 0);
    EXPECT_STREQ(out, "5190");
    const auto requests = device_->Requests();
    ASSERT_GT(requests.size(), 10u);
    EXPECT_EQ(std::vector<SimReport>(requests.begin() + 6, requests.begin() + 11),
              (std::vector<SimReport>{kReadId, BlockRequest(0x0A), BlockRequest(0x0A), kStart, BlockRequest(6)}));
}

// Requests 2 and 7 are block 3, today's record: answered with zeros, then with no digits.
TEST_F(StridexModuleTest, ADayReplyThatIsNoDayRecordIsAskedAgain) {
    device_->FaultAt(2, SimFault::Zeros);
    device_->FaultAt(7, SimFault::NotDecimal);
    ASSERT_EQ(fn_.InitModule(), 0);
    struModuleReadRequest request{"pedoNumberOfSteps", '1'};
    char out[80] = "untouched";
    ASSERT_EQ(fn_.ReadModuleData(&request, out), 0);
    EXPECT_STREQ(out, "5190");
    const auto requests = device_->Requests();
    ASSERT_GT(requests.size(), 12u);
    EXPECT_EQ(std::vector<SimReport>(requests.begin() + 8, requests.begin() + 13),
              (std::vector<SimReport>{kReadId, BlockRequest(0x0A), BlockRequest(0x0A), kStart, BlockRequest(3)}));
}

// Block 6 (two days back) answers after the read gave up waiting and asked again; a day
// reply carries no block number, so each later reply could be taken for the next block's.
class StridexLateDayTest : public StridexModuleTest, public ::testing::WithParamInterface<DWORD> {};

TEST_P(StridexLateDayTest, ALateDayReplyShiftsNoDayOfThisReadOrTheNext) {
    device_->AnswerLate(6, GetParam());
    ASSERT_EQ(fn_.InitModule(), 0);
    int rows = 0;
    const std::string first = History("pedoNumberOfSteps", nullptr, 4096, &rows);
    if (rows != -1) {
        EXPECT_EQ(first, ThirtyDays()) << "a read that does not fail has every day right";
    }
    EXPECT_EQ(History("pedoNumberOfSteps", nullptr, 4096, &rows), ThirtyDays());
    EXPECT_EQ(rows, 30);
}

INSTANTIATE_TEST_SUITE_P(Delays, StridexLateDayTest, ::testing::Values(1200, 1500, 2600));

// Block 6 answers 20 s late and holds back every answer behind it: the first read gives
// up, and the answers it left waiting, its proofs' among them, come during the second.
TEST_F(StridexModuleTest, AnswersAFailedReadLeftWaitingPutNoDayOfTheNextReadWrong) {
    device_->AnswerLate(6, 20000);
    ASSERT_EQ(fn_.InitModule(), 0);
    int rows = 0;
    const std::string first = History("pedoNumberOfSteps", nullptr, 4096, &rows);
    if (rows != -1) {
        EXPECT_EQ(first, ThirtyDays());
    }
    const std::string second = History("pedoNumberOfSteps", nullptr, 4096, &rows);
    if (rows != -1) {
        EXPECT_EQ(rows, 30);
        EXPECT_EQ(second, ThirtyDays()) << "a read that does not fail has every day right";
    }
}

// A device that answers only every second request cannot be put in step: the read fails
// within its bound, and names what it gave up on; once it answers again, so does the module.
TEST_F(StridexModuleTest, ADayReadEndsWithinItsBoundAndTheNextStartsAfresh) {
    std::vector<std::string> lines;
    Hooks().debugOutput = [&lines](const std::wstring& line) { lines.push_back(text::ToUtf8(line)); };
    device_->AnswerEverySecond(true);
    ASSERT_EQ(fn_.InitModule(), 0);
    struModuleReadRequest request{"pedoNumberOfSteps", '1'};
    char out[80] = "untouched";
    EXPECT_EQ(fn_.ReadModuleData(&request, out), -1);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("stridex-4473: gave up on the day"), std::string::npos) << lines[0];

    device_->AnswerEverySecond(false);
    ASSERT_EQ(fn_.ReadModuleData(&request, out), 0);
    EXPECT_STREQ(out, "5190");
}

TEST_F(StridexModuleTest, HistoryListsTheDaysAfterTheLimitAndToday) {
    ASSERT_EQ(fn_.InitModule(), 0);
    int rows = 0;
    const std::string text = History("pedoNumberOfSteps", "2013-1-5", 4096, &rows);
    std::string expected;
    for (int d = 14; d >= 0; --d) expected += HistoryRow(2013, 1, 20 - d, 5190 + 10 * d);
    EXPECT_EQ(rows, 15);
    EXPECT_EQ(text, expected);
    EXPECT_NE(text.find("2013-01-16|5230|2013-01-16|`"), std::string::npos);

    std::vector<SimReport> requests{kReadId, kStart};
    for (int b = 3; b < 35; ++b) requests.push_back(BlockRequest(b));
    EXPECT_EQ(device_->Requests(), requests);

    const std::string calories = History("pedoCalorieExpenditure", "2013-01-19", 4096, &rows);
    EXPECT_EQ(calories, HistoryRow(2013, 1, 20, 45600));
    EXPECT_EQ(History("pedoValidTime", "2013-01-19", 4096), HistoryRow(2013, 1, 20, -1));
}

TEST_F(StridexModuleTest, WithoutAUsableLimitHistoryHoldsThirtyDaysEndingToday) {
    ASSERT_EQ(fn_.InitModule(), 0);
    const std::string expected = ThirtyDays();
    for (const char* since : {"soon", "1999-12-31", "2100-1-2"}) {
        int rows = 0;
        EXPECT_EQ(History("pedoNumberOfSteps", since, 4096, &rows), expected) << since;
        EXPECT_EQ(rows, 30) << since;
    }
    int rows = 0;
    EXPECT_EQ(History("pedoNumberOfSteps", nullptr, 4096, &rows), expected);
    EXPECT_EQ(rows, 30);
}

TEST_F(StridexModuleTest, HistoryRowsAreWrittenOnlyWhileTheyFitWithTheNul) {
    ASSERT_EQ(fn_.InitModule(), 0);
    const std::string row = HistoryRow(2013, 1, 20, 5190);
    const auto size = static_cast<std::uint32_t>(row.size());
    int rows = -1;
    EXPECT_EQ(History("pedoNumberOfSteps", "2013-01-19", size, &rows), "");
    EXPECT_EQ(rows, 0);
    EXPECT_EQ(History("pedoNumberOfSteps", "2013-01-19", size + 1, &rows), row);
    EXPECT_EQ(rows, 1);
    EXPECT_EQ(History("pedoNumberOfSteps", "2013-01-18", 2 * size + 1, &rows), HistoryRow(2013, 1, 19, 5200) + row);
    EXPECT_EQ(rows, 2);

    EXPECT_EQ(History("pedoHeat", nullptr, 4096, &rows), "");
    EXPECT_EQ(rows, 0);
    char out[8];
    EXPECT_EQ(fn_.ReadModuleHisData("pedoNumberOfSteps", nullptr, nullptr, 100), -1);
    EXPECT_EQ(fn_.ReadModuleHisData("pedoNumberOfSteps", nullptr, out, 0), -1);
    EXPECT_EQ(fn_.ReadModuleHisData(nullptr, nullptr, out, sizeof(out)), -1);
}

TEST_F(StridexModuleTest, CurrentValueIsTodaysWithTheTimeAndThe32BitTick) {
    ASSERT_EQ(fn_.InitModule(), 0);
    char out[80];
    std::memset(out, 'x', sizeof(out));
    struModuleReadRequest request{"pedoNumberOfSteps", '1'};
    ASSERT_EQ(fn_.ReadModuleData(&request, out), 0);
    EXPECT_STREQ(out + 0, "5190");
    EXPECT_STREQ(out + 30, "2013-01-20 14:37:05.123");
    EXPECT_EQ(std::strlen(out + 30), 23u);
    EXPECT_STREQ(out + 60, "3000000000");
    EXPECT_EQ(out[71], 'x') << "the output area is 71 bytes";

    std::snprintf(request.name, sizeof request.name, "%s", "pedoHeat");
    request.mode = '2';
    ASSERT_EQ(fn_.ReadModuleData(&request, out), 0);
    EXPECT_STREQ(out, "45600");
    std::snprintf(request.name, sizeof request.name, "%s", "pedoTime");
    ASSERT_EQ(fn_.ReadModuleData(&request, out), 0);
    EXPECT_STREQ(out, "-1");
}

TEST_F(StridexModuleTest, CurrentValueOfAnUnknownNameOrModeWritesNothing) {
    ASSERT_EQ(fn_.InitModule(), 0);
    char out[80] = "untouched";
    struModuleReadRequest request{"pedoCalorieExpenditure", '1'};
    EXPECT_EQ(fn_.ReadModuleData(&request, out), -1);
    std::snprintf(request.name, sizeof request.name, "%s", "pedoNumberOfSteps");
    request.mode = '3';
    EXPECT_EQ(fn_.ReadModuleData(&request, out), -1);
    EXPECT_EQ(fn_.ReadModuleData(nullptr, out), -1);
    request.mode = '1';
    EXPECT_EQ(fn_.ReadModuleData(&request, nullptr), -1);
    std::memset(request.name, 'p', sizeof(request.name));  // no NUL in the name field
    EXPECT_EQ(fn_.ReadModuleData(&request, out), -1);
    EXPECT_STREQ(out, "untouched");
    EXPECT_TRUE(device_->Requests().empty());
}

TEST_F(StridexModuleTest, SettingsReadTheRawDataFirstThenWriteTwoHalves) {
    ASSERT_EQ(fn_.InitModule(), 0);
    EXPECT_EQ(fn_.SetModuleDevOption("80|605|1|10000|"), 0);
    const auto requests = device_->Requests();
    ASSERT_EQ(requests.size(), 36u + 3u);
    EXPECT_EQ(requests[35], BlockRequest(34));
    EXPECT_EQ(requests[36], kStart);
    EXPECT_EQ(requests[37], (SimReport{0x10, 0x00, 0x08, 0x61, 0x00, 0x00, 0x01, 0x04}));
    EXPECT_EQ(requests[38], (SimReport{0x00, 0x10, 0x40, 0x71, 0x03, 0x01, 0x01, 0x04}));

    // The device now holds the new step length and weight in its first blocks.
    ASSERT_EQ(fn_.ReadModuleOrigData(), 350);
    EXPECT_EQ(OrigText().substr(0, 20), "10000861000010407103");
    const SimRawData raw = device_->RawBytes();
    EXPECT_EQ(pedo::RawStepLength(raw.data()), 80);
    EXPECT_EQ(pedo::RawWeight(raw.data()), 61);

    // Read once, the raw data is not read again.
    EXPECT_EQ(fn_.SetModuleDevOption("70|700|2|10000|"), 0);
    EXPECT_EQ(device_->Requests().size(), 39u + 36u + 3u);
}

TEST_F(StridexModuleTest, AnImperialDeviceGetsInchesAndPounds) {
    SimPedometerValues values = SampleDays();
    values.metric = false;
    device_->SetValues(values);
    ASSERT_EQ(fn_.InitModule(), 0);
    ASSERT_EQ(fn_.ReadModuleOrigData(), 350);
    EXPECT_EQ(fn_.SetModuleDevOption("80|600|1|10000|"), 0);
    const auto settings = device_->LastSettings();
    ASSERT_TRUE(settings);
    EXPECT_FALSE(pedo::RawMetric(settings->data()));
    EXPECT_EQ(pedo::RawStepLength(settings->data()), 31);
    EXPECT_EQ(pedo::RawWeight(settings->data()), 132);
}

TEST_F(StridexModuleTest, ARefusedHalfFailsTheSettings) {
    ASSERT_EQ(fn_.InitModule(), 0);
    ASSERT_EQ(fn_.ReadModuleOrigData(), 350);  // requests 0..35
    device_->FaultAt(37, SimFault::WrongCode, '#');
    EXPECT_EQ(fn_.SetModuleDevOption("80|605|1|10000|"), -2);
    EXPECT_EQ(device_->Requests().size(), 38u) << "the second half is not sent";
    device_->FaultAt(41, SimFault::WrongEcho);  // after the refusal the ID comes first
    EXPECT_EQ(fn_.SetModuleDevOption("80|605|1|10000|"), -4);
    device_->FaultAt(43, SimFault::TimeOut);  // the start request's answer does not matter
    EXPECT_EQ(fn_.SetModuleDevOption("80|605|1|10000|"), 0);
    EXPECT_EQ(fn_.SetModuleDevOption(nullptr), -1);
}

// The start of a settings write answers after the write gave up: the next write drops
// that answer instead of taking it, and each later one, for a half's.
TEST_F(StridexModuleTest, ASettingsAnswerThatComesLateIsDroppedByTheNextWrite) {
    ASSERT_EQ(fn_.InitModule(), 0);
    ASSERT_EQ(fn_.ReadModuleOrigData(), 350);
    device_->AnswerLate('A', 1500);
    EXPECT_EQ(fn_.SetModuleDevOption("80|605|1|10000|"), -2);
    EXPECT_EQ(fn_.SetModuleDevOption("80|605|1|10000|"), 0);
}

TEST_F(StridexModuleTest, CallsAfterCloseModuleStillWork) {
    ASSERT_EQ(fn_.InitModule(), 0);
    EXPECT_EQ(fn_.CloseModule(), 0);
    EXPECT_EQ(fn_.InitModule(), 0);
    EXPECT_EQ(fn_.ReadModuleOrigData(), 350);
    EXPECT_EQ(fn_.GetModuleState(), 9);
}

// The plug-in as the build lays it out, named as the program's data names it.
class StridexDownloadTest : public SimPedometerFixture {};

TEST_F(StridexDownloadTest, BuiltModuleDownloadsEverythingFromThePedometer) {
    device_->SetValues(SampleDays());
    const auto dll = StridexModule::Built().parent_path() / "stridex-4473.dll";
    StridexModule module(dll);
    ASSERT_TRUE(module.Loaded()) << LastLibraryError();
    const StridexExports& fn = module.fn;
    ASSERT_EQ(fn.InitModule(), 0);

    ASSERT_EQ(fn.ReadModuleOrigData(), 350);
    char* text = nullptr;
    ASSERT_EQ(fn.GetModuleOrigData(&text), 350);
    EXPECT_EQ(std::string(text), device_->RawText());
    ASSERT_EQ(fn.GetModuleID(&text), 10);
    EXPECT_STREQ(text, "123456789A");

    char history[4096];
    EXPECT_EQ(fn.ReadModuleHisData("pedoNumberOfSteps", "2013-01-16", history, sizeof(history)), 4);
    EXPECT_EQ(std::string(history), HistoryRow(2013, 1, 17, 5220) + HistoryRow(2013, 1, 18, 5210) +
                                        HistoryRow(2013, 1, 19, 5200) + HistoryRow(2013, 1, 20, 5190));
    char out[kModuleOutputSize];
    struModuleReadRequest request{"pedoNumberOfSteps", '2'};
    ASSERT_EQ(fn.ReadModuleData(&request, out), 0);
    EXPECT_STREQ(out, "5190");

    ASSERT_EQ(fn.SetModuleDevOption("80|605|1|10000|"), 0);
    ASSERT_TRUE(device_->LastSettings());
    EXPECT_EQ(pedo::RawStepLength(device_->LastSettings()->data()), 80);
    EXPECT_EQ(device_->Requests().size(), 36u + 34u + 34u + 3u);
    EXPECT_EQ(fn.CloseModule(), 0);
}

}  // namespace
