// The blood-pressure data path: the monitor's records into readings, manual and demo
// readings, their statements, the upload packets and the server's replies.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>
#include <initializer_list>
#include <map>
#include <set>

#include "BloodPressureLevel.h"
#include "CommandIds.h"
#include "Communication.h"
#include "CxLog.h"
#include "DataClassKit.h"
#include "HealthResources.h"
#include "IntDate.h"
#include "MyDatabase.h"
#include "Text.h"
#include "Vepcom.h"
#include "bloodPressureWin.h"
#include "deviceManager.h"

namespace {

constexpr const wchar_t* kUploadBusy = L"正在处理数据，请稍后...";
constexpr const wchar_t* kUploadDone = L"处理成功.";
constexpr const wchar_t* kCommError = L"通讯错误";
constexpr const wchar_t* kRegisterFailed = L"设备注册处理失败!";
constexpr const wchar_t* kStoreFailed = L"处理数据失败：ExecSQLSet。";

// A device text field up to its NUL or its end, whichever comes first.
template <std::size_t N>
std::string FieldText(const char (&field)[N]) {
    return std::string(field, strnlen(field, N));
}

// One 72-byte record as a reading.
struDeviceDataList_1002W ReadingOf(const str_bp_retdata& rec) {
    struDeviceDataList_1002W r;
    const std::string date = FieldText(rec.date);
    const std::string time = FieldText(rec.time);
    std::wstring recTime = text::FromAnsi(date + " " + time);
    std::replace(recTime.begin(), recTime.end(), L'/', L'-');
    r.recTime = std::move(recTime);
    int year = 0;
    int month = 0;
    int day = 0;
    if (std::sscanf(date.c_str(), "%d/%d/%d", &year, &month, &day) == 3) r.recDate = year * 10000 + month * 100 + day;
    r.systolic = rec.systolic;
    r.diastolic = rec.diastolic;
    r.pulse = rec.pulse;
    r.msNumber = rec.number;
    r.msCount = rec.count;
    r.msSetCount = rec.setCount;
    r.memoFlag = rec.memo;
    r.moveFlag = rec.moveFlag;
    r.fPulseFlag = rec.irregularPulse;
    r.bpKbn = rec.kind;
    r.serial = rec.serial;
    r.userKbn = rec.reserved44;
    r.outFlag = rec.reserved68;
    int hour = 0;
    int minute = 0;
    int second = 0;
    if (r.bpKbn == 0 && std::sscanf(time.c_str(), "%d:%d:%d", &hour, &minute, &second) == 3)
        r.bpKbn = GetBloodPressureBand(hour);
    r.bpLevel = GetBloodPressureLevel(r.systolic, r.diastolic);
    r.save = 1;
    r.valid = true;
    return r;
}

// A reading the monitor left undated: the library dates it with the time of its download.
bool DatedAtDownload(const std::wstring& recTime, const struBpDeviceReadState& orig) {
    return !orig.beginTime.empty() && recTime >= orig.beginTime && recTime <= orig.readTime;
}

// The read state's whole records, at most its record count, as a batch; false when the
// readings cannot be allocated.
bool BatchOfRecords(const struBpDeviceReadState& orig, struBpDeviceBussData& buss) {
    const std::size_t whole = orig.origData.size() / sizeof(str_bp_retdata);
    const std::size_t n = std::min(whole, static_cast<std::size_t>(std::max(orig.recordCount, 0)));
    try {
        buss.pDeviceDataList.reserve(n);
    } catch (const std::bad_alloc&) {
        return false;
    }
    for (std::size_t i = 0; i < n; ++i) {
        str_bp_retdata rec;
        std::memcpy(&rec, orig.origData.data() + i * sizeof rec, sizeof rec);
        struDeviceDataList_1002W& r = buss.pDeviceDataList.emplace_back(ReadingOf(rec));
        if (DatedAtDownload(r.recTime, orig)) r.memoryPlace = static_cast<int>(i) + 1;
    }
    buss.userNo = orig.userNo;
    buss.sourceNo = orig.sourceNo;
    buss.regDeviceID = orig.regDeviceID;
    buss.deviceID = orig.deviceID;
    buss.recordCount = orig.recordCount;
    buss.readTime = orig.readTime;
    buss.count = static_cast<int>(n);
    return true;
}

// A free text as a packet field: '|' ends a field and codes 1..3 separate the packet's
// fields and lists, so they travel as blanks.
std::wstring PacketText(std::wstring s) {
    for (wchar_t& c : s) {
        if (c == L'|' || (c >= 1 && c <= 3)) c = L' ';
    }
    return s;
}

// A reading's text in a packet: the time of a discarded one, all 17 fields of a kept one.
std::wstring PacketTextOf(const struDeviceDataList_1002W& r) {
    std::wstring out = PacketText(r.recTime) + L"|";
    if (r.save != 1) return out;
    for (const int n : {r.systolic, r.diastolic, r.pulse, r.msNumber, r.msCount, r.msSetCount, r.memoFlag,
                        r.moveFlag, r.fPulseFlag, r.bpKbn, r.serial, r.userKbn, r.outFlag})
        out += std::to_wstring(n) + L"|";
    out += PacketText(r.summary) + L"|" + std::to_wstring(r.bpLevel) + L"|" + PacketText(r.bpAssessNote) + L"|";
    return out;
}

std::wstring Quoted(const std::wstring& s) { return L"'" + text::QuoteSql(s) + L"'"; }

// An undated reading is known by its number where the monitor gives one, else by its
// place in the memory, and by the values the monitor gave it.
std::wstring UndatedKey(int serial, int place, std::initializer_list<int> values) {
    std::wstring key = serial != 0 ? L"s" + std::to_wstring(serial) : L"p" + std::to_wstring(place);
    for (const int n : values) key += L"," + std::to_wstring(n);
    return key;
}

std::wstring UndatedKeyOf(const struDeviceDataList_1002W& r) {
    return UndatedKey(r.serial, r.memoryPlace,
                      {r.systolic, r.diastolic, r.pulse, r.msNumber, r.msCount, r.msSetCount, r.memoFlag, r.moveFlag,
                       r.fPulseFlag, r.userKbn, r.outFlag});
}

struct FirstStored {
    std::wstring recTime;
    int recDate = 0;
    int bpKbn = 0;
};

// The undated readings the user database holds from the device, by their keys; the rows
// are bounded well above what the largest memory leaves.
std::map<std::wstring, FirstStored> UndatedRowsOf(const std::wstring& deviceID) {
    constexpr const wchar_t* kColumns =
        L"serial, secondPassed, systolic, diastolic, pulse, msNumber, msCount, msSetCount, memoFlag, moveFlag, "
        L"fPulseFlag, userKbn, outFlag, recDate, bpKbn, recTime";
    constexpr int kNumbers = 15;
    std::map<std::wstring, FirstStored> rows;
    CMyDatabase* db = g_pMyDatabase;
    SqlRows found;
    const std::wstring sql = std::wstring(L"select ") + kColumns + L" from tDeviceDataList_1002 where deviceID=" +
                             Quoted(deviceID) + L" and secondPassed > 0 order by recTime limit 10000";
    if (db == nullptr || db->SelectTableWithReturn(sql, found) < 0) {
        LOGF(LOG_WARNING, L"CBloodPressureWin::OrigDataToBussData_1002", L"undated readings not read[%s]", sql.c_str());
        return rows;
    }
    for (const std::vector<std::wstring>& row : found) {
        int n[kNumbers] = {};
        bool whole = row.size() == kNumbers + 1;
        for (int i = 0; whole && i < kNumbers; ++i) whole = text::ParseWholeInt(row[i], n[i]);
        if (!whole) continue;
        const std::wstring key =
            UndatedKey(n[0], n[1], {n[2], n[3], n[4], n[5], n[6], n[7], n[8], n[9], n[10], n[11], n[12]});
        rows.emplace(key, FirstStored{row[kNumbers], n[13], n[14]});  // the earliest stays
    }
    return rows;
}

// An undated reading that an earlier download stored keeps the time it was stored under,
// so that it replaces its row instead of standing beside it once more.
void DateAsFirstStored(struBpDeviceBussData& buss) {
    const bool anyUndated = std::any_of(buss.pDeviceDataList.begin(), buss.pDeviceDataList.end(),
                                        [](const struDeviceDataList_1002W& r) { return r.memoryPlace > 0; });
    if (!anyUndated) return;
    const std::map<std::wstring, FirstStored> stored = UndatedRowsOf(buss.deviceID);
    for (struDeviceDataList_1002W& r : buss.pDeviceDataList) {
        if (r.memoryPlace == 0) continue;
        const auto it = stored.find(UndatedKeyOf(r));
        if (it == stored.end()) continue;
        r.recTime = it->second.recTime;
        r.recDate = it->second.recDate;
        r.bpKbn = it->second.bpKbn;
    }
}

// The rows that are this very reading: its time, its values and its device.
std::wstring SameReading(const struBpDeviceBussData& buss, const struDeviceDataList_1002W& r) {
    return L"recTime=" + Quoted(r.recTime) + L" and systolic=" + std::to_wstring(r.systolic) +
           L" and diastolic=" + std::to_wstring(r.diastolic) + L" and pulse=" + std::to_wstring(r.pulse) +
           L" and deviceID=" + Quoted(buss.deviceID);
}

std::wstring InsertOf(const struBpDeviceBussData& buss, const struDeviceDataList_1002W& r) {
    std::wstring sql =
        L"insert into tDeviceDataList_1002 (userNo, recTime, systolic, diastolic, pulse, msNumber,msCount, "
        L"msSetCount, memoFlag, moveFlag, fPulseFlag, bpKbn, serial, userKbn, outFlag, generatedTime, "
        L"deviceID,userID, summary, bpLevel, bpAssessNote, recDate, secondPassed, status, note) values(";
    sql += std::to_wstring(buss.userNo) + L"," + Quoted(r.recTime);
    for (const int n : {r.systolic, r.diastolic, r.pulse, r.msNumber, r.msCount, r.msSetCount, r.memoFlag,
                        r.moveFlag, r.fPulseFlag, r.bpKbn, r.serial, r.userKbn, r.outFlag})
        sql += L"," + std::to_wstring(n);
    sql += L"," + Quoted(buss.readTime) + L"," + Quoted(buss.deviceID) + L",''," + Quoted(r.summary) + L"," +
           std::to_wstring(r.bpLevel) + L"," + Quoted(r.bpAssessNote) + L"," + std::to_wstring(r.recDate) + L"," +
           std::to_wstring(r.memoryPlace) + L"," +
           Quoted(r.status) + L"," + Quoted(r.note) + L")";
    return sql;
}

std::size_t PacketChars(const struBpPacketW& p) { return p.keptData.size() + p.discardedData.size(); }

// The packets of a batch, each reading tagged with the packet that carries it; readings
// with neither save value travel in none and keep no tag.
std::vector<struBpPacketW> PackBatch(struBpDeviceBussData& buss) {
    std::vector<struBpPacketW> packets;
    struBpPacketW head;
    head.userNo = buss.userNo;
    head.sourceNo = buss.sourceNo;
    head.regDeviceID = buss.regDeviceID;
    head.deviceID = buss.deviceID;
    head.readTime = buss.readTime;
    head.recordCount = buss.recordCount;
    for (struDeviceDataList_1002W& r : buss.pDeviceDataList) {
        r.packet = -1;
        if (r.save != 0 && r.save != 1) continue;
        const std::wstring text = PacketTextOf(r);
        // A reading too long for any packet still travels alone, never after an empty one.
        if (packets.empty() || text.size() + PacketChars(packets.back()) > CBloodPressureWin::kPacketChars) {
            packets.push_back(head);
            packets.back().packetNo = static_cast<int>(packets.size());
        }
        struBpPacketW& packet = packets.back();
        r.packet = packet.packetNo;
        if (r.save == 1) {
            packet.keptData += text;
            ++packet.keptCount;
        } else {
            packet.discardedData += text;
            ++packet.discardedCount;
        }
    }
    return packets;
}

// The reply's field n as a whole number; false (logged) when it is missing or not one.
bool ReplyNumber(const std::wstring& reply, int n, int& out) {
    if (text::ParseWholeInt(records::ReplyField(reply, n), out)) return true;
    LOGF(LOG_WARNING, L"CBloodPressureWin::BussDataProc_1002", L"field[%d] reply[%s]", n, reply.c_str());
    return false;
}

uie::value ElementItem(const wchar_t* id, int valueNo) {
    return records::MakeObject({{L"healthElementID", uie::value(id)},
                                {L"valueNo", uie::value(valueNo)},
                                {L"value", uie::value(std::to_wstring(valueNo))},
                                {L"recordDataList", uie::value(1)}});
}

bool PacketIs(const struBpDeviceBussData& buss, int packet, BpPacketState state) {
    const auto& states = buss.packetStates;
    return packet >= 1 && static_cast<std::size_t>(packet) <= states.size() &&
           states[static_cast<std::size_t>(packet) - 1] == state;
}

// A new upload may have replaced the packets meanwhile: a number out of them changes none.
void SetPacket(struBpDeviceBussData& buss, int packet, BpPacketState state) {
    if (packet >= 1 && static_cast<std::size_t>(packet) <= buss.packetStates.size())
        buss.packetStates[static_cast<std::size_t>(packet) - 1] = state;
}

bool AnyPacketIs(const struBpDeviceBussData& buss, BpPacketState state) {
    return std::find(buss.packetStates.begin(), buss.packetStates.end(), state) != buss.packetStates.end();
}

// The readings that the upload's packets other than `packet` stored.
std::set<std::wstring> ReadingsOfStoredPackets(const struBpDeviceBussData& buss, int packet) {
    std::set<std::wstring> readings;
    for (const struDeviceDataList_1002W& r : buss.pDeviceDataList) {
        if (r.packet != packet && PacketIs(buss, r.packet, BpPacketState::Stored))
            readings.insert(SameReading(buss, r));
    }
    return readings;
}

// A reply of the upload came (stored, refused or naming no packet that waits): one fewer to come.
void ReplyCame(struBpDeviceBussData& buss) {
    if (buss.awaitedReplies > 0) --buss.awaitedReplies;
}

// A packet that will not be stored, named in the log: the next download must bring its
// readings again.
void LosePacket(struBpDeviceBussData& buss, std::size_t at, const wchar_t* why) {
    buss.packetStates[at] = BpPacketState::Lost;
    LOGF(LOG_WARNING, L"CBloodPressureWin::BpDataUpload", L"packet[%d] of [%s] not stored: %s",
         static_cast<int>(at) + 1, buss.readTime.c_str(), why);
}

void KeepFirstFailure(struBpDeviceBussData& buss, const struUploadState& failure) {
    if (buss.failure.retCode == 0) buss.failure = failure;
}

void LogBatchReplaced(const struBpDeviceBussData& previous, const wchar_t* function) {
    if (!previous.pDeviceDataList.empty())
        LOGF(LOG_ERROR, function, L"delete (struDeviceDataList_1002W *)m_deviceBussData.pDeviceDataList try!");
}

}  // namespace

// ---- conversion ----

int CBloodPressureWin::OrigDataToBussData_1002() {
    constexpr const wchar_t* kFn = L"CBloodPressureWin::OrigDataToBussData_1002";
    const struBpDeviceReadState orig = GetReadState();
    struBpDeviceBussData buss;
    int made = 0;
    // Another monitor's readings are not converted; the old batch must not pass for its.
    if (orig.sourceNo == kMonitorSource) {
        if (BatchOfRecords(orig, buss)) {
            DateAsFirstStored(buss);
            made = buss.count;
        } else {
            LOGF(LOG_ERROR, kFn, L"new struDeviceDataList_1002W fail!");
            buss = {};
            made = -1;
        }
    }
    std::lock_guard lock(m_bussLock);
    LogBatchReplaced(m_deviceBussData, kFn);
    m_deviceBussData = std::move(buss);
    return made;
}

// ---- statements ----

int CBloodPressureWin::BpDataListSave_1002(std::vector<std::wstring>* statements, int packet) const {
    if (statements == nullptr) return 0;
    const struBpDeviceBussData buss = GetDeviceBussData();
    if (buss.count < 1) return 0;
    // A packet replaces the rows that are its own readings stored before, and removes
    // those the user discarded; another reading of the same time (a second measurement
    // of one minute, another monitor's) is another reading and stays. A reading of this
    // upload that another packet stored is not deleted again.
    const std::set<std::wstring> storedByOthers = ReadingsOfStoredPackets(buss, packet);
    std::set<std::wstring> deleted;
    std::vector<std::wstring> made;
    std::vector<std::wstring> inserts;
    for (const struDeviceDataList_1002W& r : buss.pDeviceDataList) {
        if (packet != -1 && r.packet != packet) continue;
        const std::wstring same = SameReading(buss, r);
        if (storedByOthers.count(same) == 0 && deleted.insert(same).second)
            made.push_back(L"delete from tDeviceDataList_1002 where " + same);
        if (r.save == 1) inserts.push_back(InsertOf(buss, r));
    }
    made.push_back(L"delete from tDeviceDataList_1002 where deviceID='VirtualData' ");
    made.insert(made.end(), inserts.begin(), inserts.end());
    statements->insert(statements->end(), made.begin(), made.end());
    return 0;
}

// ---- upload and replies ----

void CBloodPressureWin::WatchUploadReplies() {
    m_uploadState.SetOwner(
        {[this](const struUploadState& told) { LosePackets(told, L"its request failed", true); },
         [this] { LosePackets({false, -1, kCommError}, L"no reply in time", true); }});
}

int CBloodPressureWin::BpDataUpload() {
    std::vector<struBpPacketW> packets;
    {
        std::lock_guard lock(m_bussLock);
        packets = PackBatch(m_deviceBussData);
        m_deviceBussData.packets = static_cast<int>(packets.size());
        m_deviceBussData.replies = 0;
        m_deviceBussData.packetStates.assign(packets.size(), BpPacketState::Unsent);
        m_deviceBussData.awaitedReplies = 0;
        m_deviceBussData.uploadOver = false;
        m_deviceBussData.failure = {};
    }
    // Nothing to wait for: the page must not see an upload running.
    if (packets.empty()) return m_uploadState.End(0, 0, kUploadDone);
    // Far above an honest upload: a thousand packets' allowance is 19 hours.
    const auto allowed = static_cast<DWORD>(std::min<std::size_t>(packets.size(), 1000));
    m_uploadState.Begin(kUploadBusy, allowed * kReplyAllowanceMs);
    CCommunication* comm = g_pCommunication;
    for (const struBpPacketW& packet : packets) {
        bool send = false;
        // Waiting before it goes: its reply may come before the send returns.
        WithBussData([&](struBpDeviceBussData& buss) {
            send = PacketIs(buss, packet.packetNo, BpPacketState::Unsent);
            if (!send) return;
            SetPacket(buss, packet.packetNo, BpPacketState::Waiting);
            ++buss.awaitedReplies;
        });
        if (!send) continue;  // lost already with the upload's failure, and logged
        const int sent = comm != nullptr ? comm->BloodPressureDataUpLoad_asyn(packet) : -1;
        if (sent >= 0) continue;
        LOGF(LOG_WARNING, L"CBloodPressureWin::BpDataUpload", L"BloodPressureDataUpLoad_asyn[%d][%d]",
             packet.packetNo, sent);
        // The packets sent before still wait for their replies.
        WithBussData([&](struBpDeviceBussData& buss) {
            if (!PacketIs(buss, packet.packetNo, BpPacketState::Waiting)) return;
            SetPacket(buss, packet.packetNo, BpPacketState::Unsent);
            ReplyCame(buss);
        });
        LosePackets({false, sent, kCommError}, L"not sent", false);
        return sent;
    }
    return 0;
}

void CBloodPressureWin::LosePackets(const struUploadState& told, const wchar_t* why, bool waitingToo) {
    bool tell = false;
    WithBussData([&](struBpDeviceBussData& buss) {
        tell = !buss.uploadOver;
        if (!tell) return;
        KeepFirstFailure(buss, told);
        for (std::size_t i = 0; i < buss.packetStates.size(); ++i) {
            BpPacketState& state = buss.packetStates[i];
            if (state != BpPacketState::Unsent && !(waitingToo && state == BpPacketState::Waiting)) continue;
            if (state == BpPacketState::Waiting) ReplyCame(buss);
            LosePacket(buss, i, why);
        }
    });
    if (!tell) return;
    m_uploadState.End(0, told.retCode, told.message);
    FinishIfDone();
}

int CBloodPressureWin::BussDataProc_1002(const std::wstring& reply) {
    constexpr const wchar_t* kFn = L"CBloodPressureWin::BussDataProc_1002";
    if (reply.empty()) return Refused(0, -1, kCommError);
    int retCode = 0;
    if (!ReplyNumber(reply, 1, retCode)) return Refused(-1, -1, kCommError);
    if (retCode < 0) return Refused(0, retCode, records::ReplyField(reply, 2));
    int sourceNo = 0;
    int packet = 0;
    if (!ReplyNumber(reply, 4, sourceNo) || !ReplyNumber(reply, 7, packet)) return Refused(-1, -1, kCommError);
    const struBpDeviceBussData buss = GetDeviceBussData();
    if (packet < 1 || packet > buss.packets) {
        LOGF(LOG_WARNING, kFn, L"packet[%d] of [%d]", packet, buss.packets);
        return Refused(-1, -1, kCommError);
    }
    // Only a packet that waits takes a reply: one stored already would be stored twice,
    // one not sent or given up has no reply to come, and a reply naming another packet
    // than its own leaves its own without one (the reply count settles that).
    if (!PacketIs(buss, packet, BpPacketState::Waiting)) {
        LOGF(LOG_WARNING, kFn, L"packet[%d] not waiting for a reply", packet);
        WithBussData(ReplyCame);
        return FinishIfDone();
    }

    std::vector<std::wstring> statements;
    CDeviceManager* devices = g_pDeviceManager;
    const int registered =
        devices != nullptr ? devices->UserDeviceProc(&statements, sourceNo, records::ReplyField(reply, 5)) : -1;
    if (registered < 0) return Refused(registered, registered, kRegisterFailed, packet);
    BpDataListSave_1002(&statements, packet);
    const int stored = StoreStatements(kFn, L"BussDataProc_OrigData", statements);
    if (stored < 0) {
        // The registration went into the map but not into the table.
        if (devices != nullptr) devices->ReadUserDeviceFromDB();
        return Refused(stored, stored, kStoreFailed, packet);
    }
    return PacketStored(packet);
}

int CBloodPressureWin::Refused(int result, int retCode, const std::wstring& message, int packet) {
    WithBussData([&](struBpDeviceBussData& buss) {
        ReplyCame(buss);
        KeepFirstFailure(buss, {false, retCode, message});
        if (PacketIs(buss, packet, BpPacketState::Waiting)) SetPacket(buss, packet, BpPacketState::Lost);
    });
    m_uploadState.End(result, retCode, message);
    FinishIfDone();
    return result;
}

int CBloodPressureWin::PacketStored(int packet) {
    WithBussData([&](struBpDeviceBussData& buss) {
        ++buss.replies;
        ReplyCame(buss);
        SetPacket(buss, packet, BpPacketState::Stored);
    });
    return FinishIfDone();
}

int CBloodPressureWin::FinishIfDone() {
    bool done = false;
    bool allStored = false;
    bool anyKept = false;
    struDeviceDataList_1002W lastKept;
    struUploadState failure;
    WithBussData([&](struBpDeviceBussData& buss) {
        if (buss.uploadOver || buss.packetStates.empty() || AnyPacketIs(buss, BpPacketState::Unsent)) return;
        // Every reply of the upload came, but some packet got none of its own.
        if (buss.awaitedReplies == 0 && AnyPacketIs(buss, BpPacketState::Waiting)) {
            for (std::size_t i = 0; i < buss.packetStates.size(); ++i)
                if (buss.packetStates[i] == BpPacketState::Waiting) LosePacket(buss, i, L"no reply of its own");
            KeepFirstFailure(buss, {false, -1, kCommError});
        }
        if (AnyPacketIs(buss, BpPacketState::Waiting)) return;
        done = buss.uploadOver = true;
        allStored = !AnyPacketIs(buss, BpPacketState::Lost);
        failure = buss.failure;
        for (const struDeviceDataList_1002W& r : buss.pDeviceDataList) {
            if (r.save != 1) continue;
            lastKept = r;
            anyKept = true;
        }
    });
    if (!done) return 0;
    if (!allStored) return m_uploadState.End(0, failure.retCode, failure.message);
    // A reading the user discarded must not become the current value.
    if (anyKept) SetBpElementValues(lastKept);
    PostRefreshBpData(1);
    return m_uploadState.End(0, 0, kUploadDone);
}

void CBloodPressureWin::SetBpElementValues(const struDeviceDataList_1002W& reading) {
    CHealthResources* resources = g_pHealthResources;
    if (resources == nullptr) return;
    uie::value items = uie::value::make_array();
    items.append(ElementItem(L"systolicBloodPressure", reading.systolic));
    items.append(ElementItem(L"diastolicBloodPressure", reading.diastolic));
    items.append(ElementItem(L"quietPulse", reading.pulse));
    const int result = resources->SetHealthElementValue_Batch(items);
    if (result < 0)
        LOGF(LOG_WARNING, L"CBloodPressureWin::SetBpElementValues", L"SetHealthElementValue_Batch:[%d]", result);
}

int CBloodPressureWin::BussDataProc_OrigData(const std::wstring&) { return 0; }

// ---- the page's readings ----

bool CBloodPressureWin::TakePageReadings(int sourceNo, const std::wstring& deviceID, const uie::value& readings,
                                         bool demo) {
    const wchar_t* fn = demo ? L"CBloodPressureWin::GenVirtualData" : L"CBloodPressureWin::UserInputData";
    if (!readings.is_array()) {
        LOGF(LOG_WARNING, fn, L"readings is not an array");
        return false;
    }
    struBpDeviceBussData buss;
    for (std::size_t i = 0; i < readings.length(); ++i) {
        const uie::value item = readings.nth(i);
        if (!item.is_map()) {
            LOGF(LOG_WARNING, fn, L"reading[%d] is not an object", static_cast<int>(i));
            continue;
        }
        // The page's values are taken as they are: its level and band stand.
        struDeviceDataList_1002W& r = buss.pDeviceDataList.emplace_back();
        r.recTime = records::MemberText(item, L"recTime");
        r.recDate = records::MemberInt(item, L"recDate", 0);
        r.systolic = records::MemberInt(item, L"systolic", -1);
        r.diastolic = records::MemberInt(item, L"diastolic", -1);
        r.pulse = records::MemberInt(item, L"pulse", -1);
        r.bpKbn = records::MemberInt(item, L"bpKbn", -1);
        r.bpLevel = records::MemberInt(item, L"bpLevel", 0);
        r.summary = records::MemberText(item, L"summary");
        r.bpAssessNote = records::MemberText(item, L"bpAssessNote");
        r.save = records::MemberInt(item, L"save", 0);
        if (demo) r.memoFlag = records::MemberInt(item, L"memoFlag", -1);
        r.valid = true;
    }
    buss.userNo = LoggedInUserNo();
    buss.sourceNo = sourceNo;
    buss.deviceID = deviceID;
    buss.count = static_cast<int>(buss.pDeviceDataList.size());
    buss.recordCount = buss.count;
    buss.readTime = GetCurTimeStrSeconds();
    std::lock_guard lock(m_bussLock);
    LogBatchReplaced(m_deviceBussData, fn);
    m_deviceBussData = std::move(buss);
    return true;
}

int CBloodPressureWin::UserInputData(int sourceNo, const std::wstring& deviceID, const uie::value& readings) {
    if (!TakePageReadings(sourceNo, deviceID, readings, false)) return -1;
    return BpDataUpload();
}

int CBloodPressureWin::GenVirtualData(int sourceNo, const std::wstring& deviceID, const uie::value& readings) {
    if (!TakePageReadings(sourceNo, deviceID, readings, true)) return -1;
    return VirtualBPBussDataProc();
}

int CBloodPressureWin::VirtualBPBussDataProc() {
    std::vector<std::wstring> statements;
    BpDataListSave_1002(&statements, -1);
    const int stored =
        StoreStatements(L"CBloodPressureWin::VirtualBPBussDataProc", L"VirtualBPBussDataProc", statements);
    if (stored < 0) return m_uploadState.End(stored, stored, kStoreFailed);
    PostRefreshBpData(1);
    return m_uploadState.End(0, 0, kUploadDone);
}

int CBloodPressureWin::ChooseDevDataProc(const uie::value& choices) {
    if (!choices.is_array()) {
        LOGF(LOG_WARNING, L"CBloodPressureWin::ChooseDevDataProc", L"choices is not an array");
        return -1;
    }
    WithBussData([&](struBpDeviceBussData& buss) {
        const std::size_t n = std::min({choices.length(), buss.pDeviceDataList.size(),
                                        static_cast<std::size_t>(std::max(buss.recordCount, 0))});
        for (std::size_t i = 0; i < n; ++i) {
            const uie::value item = choices.nth(i);
            struDeviceDataList_1002W& r = buss.pDeviceDataList[i];
            // A key the page left out keeps the reading's value: a missing "save" read as
            // 0 would delete a stored reading.
            r.save = records::MemberInt(item, L"save", r.save);
            r.summary = records::MemberText(item, L"summary", r.summary);
            r.bpLevel = records::MemberInt(item, L"bpLevel", r.bpLevel);
            r.bpAssessNote = records::MemberText(item, L"bpAssessNote", r.bpAssessNote);
        }
    });
    return BpDataUpload();
}

// ---- posts and copies ----

bool CBloodPressureWin::PostRefreshBpData(LPARAM lParam) const { return PostCommand(ID_CMD_BP_REFRESH, lParam); }

struBpDeviceBussData CBloodPressureWin::GetDeviceBussData() const {
    std::lock_guard lock(m_bussLock);
    return m_deviceBussData;
}

struBpDeviceReadState CBloodPressureWin::GetReadState() const {
    std::lock_guard lock(m_readLock);
    return m_readState;
}

void CBloodPressureWin::SetReadState(struBpDeviceReadState state) {
    std::lock_guard lock(m_readLock);
    m_readState = std::move(state);
}

struBpLoadStatus CBloodPressureWin::GetLoadStatus() const {
    std::lock_guard lock(m_loadLock);
    return m_loadStatus;
}

void CBloodPressureWin::SetLoadStatus(const struBpLoadStatus& status) {
    std::lock_guard lock(m_loadLock);
    m_loadStatus = status;
}
