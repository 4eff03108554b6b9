// The alert engine on the records fixture: a user database whose alert tables hold only
// the rows a test inserts, the clock and tick count the test sets through the hooks, and
// an engine that records the messages it hands to the two windows.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "../records/RecordsFixture.h"
#include "Alert.h"

// The engine with its two window queues replaced by lists the test reads.
class RecordingAlert : public CAlert {
public:
    std::vector<uie::value> Popups() const {
        std::lock_guard lock(m_lock);
        return m_popups;
    }
    std::vector<uie::value> Lists() const {
        std::lock_guard lock(m_lock);
        return m_lists;
    }

protected:
    void QueuePopupMessage(const uie::value& message) override {
        std::lock_guard lock(m_lock);
        m_popups.push_back(message);
    }
    void QueueListMessage(const uie::value& message) override {
        std::lock_guard lock(m_lock);
        m_lists.push_back(message);
    }

private:
    mutable std::mutex m_lock;
    std::vector<uie::value> m_popups;
    std::vector<uie::value> m_lists;
};

class AlertTest : public RecordsTest {
protected:
    static constexpr int kToday = 20260311;  // a Wednesday

    AlertTest() {
        Hooks().localTime = [this](SYSTEMTIME& st) {
            std::lock_guard lock(clockLock_);
            st = now_;
        };
        Hooks().tickCount = [this] { return tickNow_.load(); };
        comm_->m_nUserNo = 7;
        for (const wchar_t* table : {L"tAlertConfig", L"tAlertConfigDetail", L"tAlertConfigItem"})
            Exec(std::wstring(L"delete from ") + table + L";");
        alert_ = std::make_unique<RecordingAlert>();
        alert_->SetDetailPause(0);
        g_pAlert = alert_.get();
    }
    ~AlertTest() override {
        alert_->StopWork();
        EndWorkers();
        g_pAlert = nullptr;
        alert_.reset();
    }

    // The clock at hh:mm:ss of the day (day of month, weekday 0 = Sunday).
    void At(int hhmm, int second = 0, WORD day = 11, WORD weekDay = 3) {
        std::lock_guard lock(clockLock_);
        now_ = SYSTEMTIME{2026, 3, weekDay, day, static_cast<WORD>(hhmm / 100), static_cast<WORD>(hhmm % 100),
                          static_cast<WORD>(second), 0};
    }
    void Tick(DWORD tick) { tickNow_ = tick; }

    // A configuration row and one rule (alertNo, no) with a "Time" condition unless told.
    void AddAlert(int alertNo, int no, int alertMinute, bool withTime = true) {
        Exec(L"insert or ignore into tAlertConfig (alertNo,alertType,message,status) values (" +
             std::to_wstring(alertNo) + L",'0','m','1');");
        Exec(L"insert into tAlertConfigDetail (alertNo,no,alertType,alertLevel,alertMode,procMode,execNo,message,"
             L"summary,duraMinute,actionNo,actionRuleFlag,startDate,endDate,repeatFlag,alertMinute,status,note) "
             L"values (" +
             std::to_wstring(alertNo) + L"," + std::to_wstring(no) + L",'0',1,2,3,4,'msg" + std::to_wstring(alertNo) +
             L"-" + std::to_wstring(no) + L"','sum',0,5,'0',0,0,'0'," + std::to_wstring(alertMinute) + L",'1','');");
        if (withTime) AddItem(alertNo, no, L"Time", L"=", L"");
    }
    void AddItem(int alertNo, int no, const std::wstring& name, const std::wstring& op, const std::wstring& operand) {
        Exec(L"insert into tAlertConfigItem values (" + std::to_wstring(alertNo) + L"," + std::to_wstring(no) + L",'" +
             name + L"','" + op + L"','" + operand + L"',0,1,'1','',null);");
    }
    void SetDetail(int alertNo, int no, const std::wstring& assignments) {
        Exec(L"update tAlertConfigDetail set " + assignments + L" where alertNo=" + std::to_wstring(alertNo) +
             L" and no=" + std::to_wstring(no) + L";");
    }
    // Rule 5,1: recurring every hour whatever the time, with its other columns as given.
    void AddHourlyRule(const std::wstring& assignments) {
        AddAlert(5, 1, 0, false);
        SetDetail(5, 1, L"alertType='1', duraMinute=60, " + assignments);
        AddItem(5, 1, L"Date", L">", L"0");
    }

    // Loads the tables and computes once as the thread does; the due reminders stay in due_.
    int Load() { return alert_->ReadAlertFormDB(); }
    int Calc() {
        std::lock_guard lock(alert_->ConfigLock());
        const int count = alert_->CalcToDayShowAlertInfo(1);
        due_ = alert_->TakeDue();
        return count;
    }
    struAlertConfigDetail Detail(int alertNo, int no) {
        struAlertConfigDetail d;
        EXPECT_TRUE(alert_->GetDetail(alertNo, no, d)) << alertNo << "," << no;
        return d;
    }
    // Today's entries as "alertNo,no:flag".
    std::vector<std::wstring> Listed() {
        std::vector<std::wstring> out;
        const uie::value today = alert_->GetToDayShowAlertInfo();
        for (std::size_t i = 0; i < today.length(); ++i) {
            const uie::value e = today.nth(i);
            out.push_back(std::to_wstring(e.get_item(uie::value(L"alertNo")).get_int(-99)) + L"," +
                          std::to_wstring(e.get_item(uie::value(L"no")).get_int(-99)) + L":" +
                          std::to_wstring(e.get_item(uie::value(L"alertFlag")).get_int(-99)));
        }
        return out;
    }
    uie::value Entry(int index) { return alert_->GetToDayShowAlertInfo().nth(index); }

    std::mutex clockLock_;
    SYSTEMTIME now_{2026, 3, 3, 11, 9, 0, 0, 0};
    std::atomic<DWORD> tickNow_{5'000'000};
    std::unique_ptr<RecordingAlert> alert_;
    std::vector<AlertDelivery> due_;
};
