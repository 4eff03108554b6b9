// Test reminders: when an item is due, the one-an-hour gate, what goes to the message
// window and the server, and the pages' report of a finished test.
#include "Testing.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <mutex>
#include <string>
#include <vector>

#include "../records/RecordsFixture.h"
#include "EngineTest.h"
#include "MessageWin.h"
#include "Quorvix.h"
#include "WaitFor.h"

namespace {

using uie::value;
using uie::test::CallNative;

class TestingProbe : public CTesting {
public:
    std::vector<std::wstring> Messages() const {
        std::lock_guard lock(lock_);
        return messages_;
    }

protected:
    void QueueMessage(const value& message) override {
        std::lock_guard lock(lock_);
        messages_.push_back(message.to_json());
    }

private:
    mutable std::mutex lock_;
    std::vector<std::wstring> messages_;
};

class TestingTest : public RecordsTest {
protected:
    TestingTest() {
        comm_->m_nUserNo = 7;
        testing_ = std::make_unique<TestingProbe>();
        g_pTesting = testing_.get();
        EXPECT_EQ(testing_->RegisterScriptObject(vm_), 1);
    }
    ~TestingTest() override {
        testing_->StopWork();
        EndWorkers();
        g_pTesting = nullptr;
    }

    // An item last tested at testedAt and last reminded at 07:00 that day.
    void AddItem(const std::wstring& id, const wchar_t* flag, int cycle, int pause, const std::wstring& testedAt) {
        Exec(L"insert into tTesting (testingItemID, testingItemName, lastTestingTime, testingCycle, alertFlag, "
             L"duraMinute, lastAlertTime, alertResponseFunc) values ('" + id + L"', 'Test " + id + L"', '" +
             testedAt + L"', " + std::to_wstring(cycle) + L", '" + flag + L"', " + std::to_wstring(pause) +
             L", '2026-03-10 07:00:00', 'OnTested');");
    }
    static SYSTEMTIME At(WORD hour, WORD minute) { return SYSTEMTIME{2026, 3, 2, 10, hour, minute, 0, 0}; }
    std::vector<PacketRequest> Uploads(std::uint16_t command) {
        std::vector<PacketRequest> out;
        for (const auto& r : server_.Requests())
            if (r.commandId == command) out.push_back(r);
        return out;
    }

    std::unique_ptr<TestingProbe> testing_;
};

TEST_F(TestingTest, AnItemIsDueOnlyPastItsCycleAndPauseAndWithRemindersOn) {
    AddItem(L"A", L"1", 60, 30, L"2026-03-10 08:00:00");
    AddItem(L"B", L"0", 60, 30, L"2026-03-10 08:00:00");
    AddItem(L"C", L"1", 60, 30, L"yesterday");  // does not parse: skipped
    ASSERT_EQ(testing_->ReadTestingFormDB(), 1);
    const int alertRows = std::stoi(FirstValue(L"select count(*) from tAlertList;"));
    const DWORD tick = 0xFFFF0000u;

    EXPECT_EQ(testing_->RunPass(At(9, 0), tick), 0);
    EXPECT_EQ(testing_->RunPass(At(9, 1), tick), 1);
    EXPECT_EQ(testing_->Messages(),
              (std::vector<std::wstring>{L"[{\"funcName\":\"BandCommonMessage\",\"alertType\":\"2\",\"alertNo\":-1,"
                                         L"\"additionalMessage\":\"\",\"message\":\"Test A\","
                                         L"\"ResponseFunc\":\"OnTested\"}]"}));
    struTesting item;
    ASSERT_TRUE(testing_->GetItem(L"A", item));
    EXPECT_EQ(item.lastAlertTime, L"2026-03-10 09:01:00");
    EXPECT_NE(Column(L"tTesting", L"lastAlertTime", L" where testingItemID='A'"), L"2026-03-10 07:00:00");
    ASSERT_TRUE(server_.WaitForRequests(1));
    const std::vector<PacketRequest> alerts = Uploads(0x1190);
    ASSERT_EQ(alerts.size(), 1u);
    EXPECT_EQ(alerts[0].fields, (std::vector<std::string>{"7", "20260310", "-1", "-1", "2", "Test A", "", "-1", "-1",
                                                          "", "-1", "", ""}));
    EXPECT_EQ(std::stoi(FirstValue(L"select count(*) from tAlertList;")), alertRows);

    // The reminder time counts from now; the hour gate alone would let it through.
    const DWORD hourLater = tick + CTesting::kReminderGapMs;  // wraps
    EXPECT_EQ(testing_->RunPass(At(9, 20), hourLater), 0);
    EXPECT_EQ(testing_->RunPass(At(9, 32), hourLater), 1);
}

TEST_F(TestingTest, ASecondDueItemWaitsUntilAnHourAfterTheFirstReminder) {
    AddItem(L"A", L"1", 60, 100, L"2026-03-10 08:00:00");  // not again within the test
    AddItem(L"B", L"1", 60, 30, L"2026-03-10 08:05:00");
    ASSERT_EQ(testing_->ReadTestingFormDB(), 1);
    const DWORD tick = 5000;
    EXPECT_EQ(testing_->RunPass(At(9, 1), tick), 1);
    EXPECT_EQ(testing_->RunPass(At(9, 6), tick + 300000), 0);
    EXPECT_EQ(testing_->RunPass(At(10, 0), tick + CTesting::kReminderGapMs - 1), 0);
    EXPECT_EQ(testing_->RunPass(At(10, 1), tick + CTesting::kReminderGapMs), 1);
    const std::vector<std::wstring> messages = testing_->Messages();
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_NE(messages[1].find(L"Test B"), std::wstring::npos);
}

TEST_F(TestingTest, AFinishedTestIsUploadedAndHoldsTheNextReminderBack) {
    AddItem(L"A", L"1", 60, 30, L"2026-03-10 08:00:00");
    ASSERT_EQ(testing_->ReadTestingFormDB(), 1);
    // Refused: no argument, no array, an empty array, an element that is no map.
    EXPECT_EQ(CallNative(vm_, "testing", "testingAfterUpdateVar").result.get_int(), -1);
    EXPECT_EQ(CallNative(vm_, "testing", "testingAfterUpdateVar", {value(3)}).result.get_int(), -1);
    EXPECT_EQ(CallNative(vm_, "testing", "testingAfterUpdateVar", {value::make_array()}).result.get_int(), -1);
    value numbers = value::make_array();
    numbers.append(value(1));
    EXPECT_EQ(CallNative(vm_, "testing", "testingAfterUpdateVar", {numbers}).result.get_int(), -1);

    value done = value::make_array();
    value result = value::make_map();
    result.set_item(value(L"testingItemID"), value(L"A"));
    result.set_item(value(L"lastTestingTime"), value(L"2026-03-10 09:00:30"));
    result.set_item(value(L"lastTestingNote"), value(L"O'k"));
    done.append(result);
    EXPECT_EQ(CallNative(vm_, "testing", "testingAfterUpdateVar", {done}).result.get_int(), 0);
    ASSERT_TRUE(server_.WaitForRequests(1));
    const std::vector<PacketRequest> uploads = server_.Requests();
    ASSERT_EQ(uploads.size(), 1u);  // the refused calls uploaded nothing
    EXPECT_EQ(uploads[0].commandId, 0x1192);
    EXPECT_EQ(uploads[0].fields,
              (std::vector<std::string>{"7", "A", "2026-03-10 09:00:30", "O'k", "-1", ""}));

    EXPECT_EQ(testing_->RunPass(At(9, 1), 1000), 0);  // due by the loaded time, not by the new one
    struTesting item;
    ASSERT_TRUE(testing_->GetItem(L"A", item));
    EXPECT_EQ(item.lastTestingTime, L"2026-03-10 09:00:30");
    EXPECT_EQ(testing_->RunPass(At(10, 1), 1000), 1);
}

TEST_F(TestingTest, TheWorkerWaitsFiftySecondsThenRemindsAndEndsWithTheProgram) {
    AddItem(L"A", L"1", 60, 30, L"2026-03-10 08:00:00");
    Hooks().localTime = [](SYSTEMTIME& st) { st = At(9, 30); };
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::atomic<DWORD> slept{0};
    Hooks().longSleep = [&](DWORD ms) {
        slept = ms;
        released.wait_for(std::chrono::seconds(5));
    };
    CMessageWin* const savedWin = g_pMessageWin;
    CMessageWin stand(L"");  // only needs to exist: the probe takes the messages
    if (g_pMessageWin == nullptr) g_pMessageWin = &stand;

    ASSERT_EQ(testing_->StartWork(), 1);
    ASSERT_TRUE(WaitFor([&] { return slept.load() != 0; }));
    EXPECT_EQ(slept.load(), CTesting::kStartDelayMs);
    EXPECT_FALSE(testing_->IsRunning());
    EXPECT_TRUE(testing_->Messages().empty());
    release.set_value();
    EXPECT_TRUE(WaitFor([&] { return testing_->Messages().size() == 1; }));

    const int savedRun = g_nRunState.exchange(4);
    EXPECT_TRUE(WaitFor([&] { return !testing_->IsRunning(); }));
    g_nRunState = savedRun;
    testing_->StopWork();
    g_pMessageWin = savedWin;
}

TEST_F(TestingTest, WithoutAMessageWindowTheWorkerWaitsAndStillEndsWithTheProgram) {
    AddItem(L"A", L"1", 60, 30, L"2026-03-10 08:00:00");
    Hooks().localTime = [](SYSTEMTIME& st) { st = At(9, 30); };
    Hooks().longSleep = [](DWORD) {};
    CMessageWin* const savedWin = g_pMessageWin;
    g_pMessageWin = nullptr;
    ASSERT_EQ(testing_->StartWork(), 1);
    ASSERT_TRUE(WaitFor([&] { return testing_->IsRunning(); }));
    const int savedRun = g_nRunState.exchange(4);
    EXPECT_TRUE(WaitFor([&] { return !testing_->IsRunning(); }));
    g_nRunState = savedRun;
    testing_->StopWork();
    g_pMessageWin = savedWin;
    EXPECT_TRUE(testing_->Messages().empty());
}

}  // namespace
