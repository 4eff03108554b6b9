// The health notes' drain against a real user database and a loopback server: what is
// loaded, what each operation of an acknowledgement writes or deletes, what is sent next.
#include "healthNote.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "LogReader.h"
#include "RecordsFixture.h"
#include "WaitFor.h"

namespace {

constexpr wchar_t kResultLine[] = L"CCommunication::HealthNote_BussDataProc: ExecuteSQLCommandWithReturn:[";

class HealthNoteTest : public RecordsTest {
protected:
    HealthNoteTest() : userNo_(10000 + static_cast<int>(tick_ % 900000)), otherNo_(userNo_ + 1) {
        comm_->m_nUserNo = userNo_;
    }
    ~HealthNoteTest() override {
        EndWorkers();
        g_pHealthNote = nullptr;
    }

    void Insert(int userNo, int noteNo, const wchar_t* syncFlag, int syncNo = 0) {
        const std::wstring no = std::to_wstring(noteNo);
        Exec(L"insert into tHealthNote (userNo, noteNo, noteDate, title, content, sourceType, createTime, "
             L"allowShareFlag, shareFlag, lastOpCode, syncFlag, syncNo, status, note, modifyTime) values (" +
             std::to_wstring(userNo) + L", " + no + L", 20260302, 'title " + no + L"', 'Ann''s day " + no +
             L"', '1', '2026-03-02 08:00:00', '1', '0', 'A', '" + syncFlag + L"', " + std::to_wstring(syncNo) +
             L", '1', 'n" + no + L"', '2026-03-02 09:00:00')");
    }
    // syncFlag and syncNo of one row, "<none>" when it is gone.
    std::wstring Row(int userNo, int noteNo) {
        const SqlRows rows = Rows(L"select syncFlag || '/' || syncNo from tHealthNote where userNo=" +
                                  std::to_wstring(userNo) + L" and noteNo=" + std::to_wstring(noteNo));
        return rows.empty() ? L"<none>" : rows.front().front();
    }
    std::wstring Ack(int noteNo, const std::wstring& op, int syncNo, int userNo = -1) const {
        return JoinFields({L"0", L"ok", std::to_wstring(userNo == -1 ? userNo_ : userNo), std::to_wstring(noteNo), op,
                           std::to_wstring(syncNo)});
    }
    // The noteNo of each upload the server received, in arrival order.
    std::vector<std::string> SentNoteNos() {
        std::vector<std::string> out;
        for (const PacketRequest& r : server_.Requests()) {
            EXPECT_EQ(r.commandId, COMMAND_HEALTHNOTE_UPLOAD);
            out.push_back(r.fields.size() > 1 ? r.fields[1] : "<short>");
        }
        return out;
    }
    // The uploads once nothing more arrives for a moment: what was not sent stays unsent.
    std::vector<std::string> SettledNoteNos(std::size_t expected) {
        EXPECT_TRUE(server_.WaitForRequests(expected));
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        return SentNoteNos();
    }
    // Loads notes 1, 2, 3 and 5 of the user, pending.
    void LoadFour() {
        for (const int noteNo : {5, 3, 1, 2}) Insert(userNo_, noteNo, L"0");
        ASSERT_EQ(note_.LoadFromDB(), 1);
        ASSERT_EQ(note_.PendingNoteNos(), (std::vector<int>{1, 2, 3, 5}));
    }

    const int userNo_;
    const int otherNo_;
    CHealthNote note_;
};

TEST_F(HealthNoteTest, LoaderTakesOnlyTheLoggedInUsersUnsentNotes) {
    Insert(userNo_, 8, L"0");
    Insert(userNo_, 4, L"0", 6);
    Insert(userNo_, 6, L"1", 9);  // already acknowledged
    Insert(otherNo_, 2, L"0");    // another user's
    EXPECT_EQ(note_.LoadFromDB(), 1);
    EXPECT_EQ(note_.PendingNoteNos(), (std::vector<int>{4, 8}));

    const auto n = note_.GetPending(4);
    ASSERT_TRUE(n.has_value());
    EXPECT_EQ(n->userNo, userNo_);
    EXPECT_EQ(n->noteNo, 4);
    EXPECT_EQ(n->noteDate, 20260302);
    EXPECT_EQ(n->title, L"title 4");
    EXPECT_EQ(n->content, L"Ann's day 4");
    EXPECT_EQ(n->sourceType, L"1");
    EXPECT_EQ(n->createTime, L"2026-03-02 08:00:00");
    EXPECT_EQ(n->allowShareFlag, L"1");
    EXPECT_EQ(n->shareFlag, L"0");
    EXPECT_EQ(n->lastOpCode, L"A");
    EXPECT_EQ(n->syncFlag, L"0");
    EXPECT_EQ(n->syncNo, 6);
    EXPECT_EQ(n->status, L"1");
    EXPECT_EQ(n->note, L"n4");
    EXPECT_EQ(n->modifyTime, L"2026-03-02 09:00:00");
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(server_.RequestCount(), 0u);  // loading sends nothing
}

TEST_F(HealthNoteTest, FailedLoadIsLoggedWithItsQueryAndKeepsTheNotesReadBefore) {
    LoadFour();
    Exec(L"drop table tHealthNote");
    EXPECT_EQ(note_.ReadNeedProcNoteFromDB(), 0);
    // The query names this test's user number: the line is this test's own.
    EXPECT_EQ(CountLogLines(L"SQL try! [select userNo, noteNo, noteDate, title, content, sourceType, createTime, "
                            L"allowShareFlag, shareFlag, lastOpCode, syncFlag, syncNo, status, note, modifyTime from "
                            L"tHealthNote where userNo=" +
                            std::to_wstring(userNo_) + L" and syncFlag='0';]"),
              1);
    EXPECT_EQ(note_.PendingNoteNos(), (std::vector<int>{1, 2, 3, 5}));
}

TEST_F(HealthNoteTest, OperationsDeleteMarkOrOnlyDropAndEachSendsTheNextNote) {
    LoadFour();
    Insert(otherNo_, 1, L"0");  // the same noteNo for another user stays untouched

    // "2": deleted on the server, so here too.
    EXPECT_EQ(note_.BussDataProc(Ack(1, L"2", 0)), 1);
    EXPECT_EQ(Row(userNo_, 1), L"<none>");
    EXPECT_EQ(Row(otherNo_, 1), L"0/0");
    EXPECT_EQ(note_.PendingNoteNos(), (std::vector<int>{2, 3, 5}));
    ASSERT_TRUE(server_.WaitForRequests(1));
    const PacketRequest sent = server_.Requests().front();
    EXPECT_EQ(sent.commandId, COMMAND_HEALTHNOTE_UPLOAD);
    EXPECT_EQ(sent.fields, (std::vector<std::string>{std::to_string(userNo_), "2", "20260302", "title 2",
                                                     "Ann's day 2", "1", "2026-03-02 08:00:00", "1", "0", "A", "0",
                                                     "0", "1", "n2"}));

    // "0": stored on the server, the row marked with the server's syncNo.
    EXPECT_EQ(note_.BussDataProc(Ack(2, L"0", 55)), 1);
    EXPECT_EQ(Row(userNo_, 2), L"1/55");
    EXPECT_EQ(Row(userNo_, 3), L"0/0");
    EXPECT_EQ(note_.PendingNoteNos(), (std::vector<int>{3, 5}));
    ASSERT_TRUE(server_.WaitForRequests(2));

    // "1" (or any other text): no row changes, the record is dropped, the next one sent.
    EXPECT_EQ(note_.BussDataProc(Ack(3, L"1", 56)), 1);
    EXPECT_EQ(Row(userNo_, 3), L"0/0");
    EXPECT_EQ(note_.PendingNoteNos(), (std::vector<int>{5}));
    EXPECT_EQ(SettledNoteNos(3), (std::vector<std::string>{"2", "3", "5"}));
}

TEST_F(HealthNoteTest, DeleteOrUpdateThatFindsNoRowIsLoggedAndTheDrainGoesOn) {
    LoadFour();
    Exec(L"delete from tHealthNote where userNo=" + std::to_wstring(userNo_) + L" and noteNo in (1, 2)");
    const int before = CountLogLines(std::wstring(kResultLine) + L"0]");
    EXPECT_EQ(note_.BussDataProc(Ack(1, L"2", 0)), 1);
    ASSERT_TRUE(server_.WaitForRequests(1));
    EXPECT_EQ(note_.BussDataProc(Ack(2, L"0", 57)), 1);
    EXPECT_EQ(CountLogLines(std::wstring(kResultLine) + L"0]"), before + 2);
    EXPECT_EQ(CountLogLines(L"counted as done:[delete from tHealthNote where userNo = " + std::to_wstring(userNo_) +
                            L" and noteNo = 1;]"),
              1);
    EXPECT_EQ(CountLogLines(L"where userNo = " + std::to_wstring(userNo_) + L" and noteNo = 2;]"), 1);
    EXPECT_EQ(note_.PendingNoteNos(), (std::vector<int>{3, 5}));
    EXPECT_EQ(SettledNoteNos(2), (std::vector<std::string>{"2", "3"}));
}

TEST_F(HealthNoteTest, NegativeCodeOrFailedWriteKeepsTheNoteAndSendsNothing) {
    LoadFour();
    EXPECT_EQ(note_.BussDataProc(JoinFields({L"-2", L"no", std::to_wstring(userNo_), L"1", L"2", L"0"})), -2);
    EXPECT_EQ(note_.BussDataProc(L"-1\x02"), -1);
    EXPECT_EQ(Row(userNo_, 1), L"0/0");
    EXPECT_EQ(note_.PendingNoteNos(), (std::vector<int>{1, 2, 3, 5}));

    Exec(L"alter table tHealthNote rename to tHealthNoteGone");
    const std::wstring failed = std::wstring(kResultLine) + L"-1]";
    const int before = CountLogLines(failed);
    EXPECT_EQ(note_.BussDataProc(Ack(1, L"2", 0)), 0);
    EXPECT_EQ(note_.BussDataProc(Ack(1, L"0", 58)), 0);
    EXPECT_EQ(CountLogLines(failed), before + 2);
    EXPECT_EQ(note_.PendingNoteNos(), (std::vector<int>{1, 2, 3, 5}));
    Exec(L"alter table tHealthNoteGone rename to tHealthNote");

    EXPECT_EQ(note_.BussDataProc(Ack(1, L"2", 0)), 1);
    EXPECT_EQ(Row(userNo_, 1), L"<none>");
    EXPECT_EQ(SettledNoteNos(1), (std::vector<std::string>{"2"}));
}

TEST_F(HealthNoteTest, ShortRepliesAreRefused) {
    LoadFour();
    const std::wstring four = JoinFields({L"0", L"ok", std::to_wstring(userNo_), L"1"});
    const std::wstring five = JoinFields({L"0", L"ok", std::to_wstring(userNo_), L"1", L"2"});
    EXPECT_EQ(note_.BussDataProc(four), 0);
    EXPECT_EQ(note_.BussDataProc(five), 0);
    EXPECT_EQ(CountLogLines(L"reply 0x1141 cut short: 4 of 6 fields:[" + four + L"]"), 1);
    EXPECT_EQ(CountLogLines(L"reply 0x1141 cut short: 5 of 6 fields:[" + five + L"]"), 1);
    EXPECT_EQ(Row(userNo_, 1), L"0/0");
    EXPECT_EQ(note_.PendingNoteNos(), (std::vector<int>{1, 2, 3, 5}));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(server_.RequestCount(), 0u);
}

TEST_F(HealthNoteTest, ServerDeletionsDrainEveryPendingNoteThroughTheDispatcher) {
    LoadFour();
    server_.OnCommand(COMMAND_HEALTHNOTE_UPLOAD, [](const PacketRequest& r) {
        return PacketReply::Fields({"0", "ok", r.fields.at(0), r.fields.at(1), "2", "0"});
    });
    g_pHealthNote = &note_;
    EXPECT_TRUE(note_.UploadFirst());
    ASSERT_TRUE(WaitFor([&] { return note_.PendingNoteNos().empty(); }));
    EXPECT_EQ(SettledNoteNos(4), (std::vector<std::string>{"1", "2", "3", "5"}));
    EXPECT_EQ(FirstValue(L"select count(*) from tHealthNote where userNo=" + std::to_wstring(userNo_)), L"0");
}

}  // namespace
