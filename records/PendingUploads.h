// The drain that the user actions and the health notes share: the records that the server has not yet acknowledged, ordered by their number, sent
// one at a time. Each acknowledgement marks (or deletes) its row, drops its record and
// sends the record with the lowest number still pending.
//
// The map has a lock of its own: the loading thread fills it while the socket thread
// drains it. The lock is never held while the database or a builder is called: a
// record to send is copied out first. There is no "in flight" mark: a record sent twice
// is acknowledged twice, and the second acknowledgement only marks its row again.
#pragma once

#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace records {

// An upload acknowledgement, as both drains read it: field 1 the result code, field 2
// the message (not read), field 3 userNo, field 4 the record's number, field 5 what the
// server did, field 6 the server's syncNo. Numbers that are not numbers read 0.
struct UploadAck {
    int code = 0;
    int userNo = 0;
    int no = 0;
    std::wstring op;
    int syncNo = 0;
};

enum class AckRead {
    Accepted,  // code 0 or more with all six fields
    Negative,  // the server's code is below 0: nothing changes, the code is returned
    Refused,   // code 0 or more but cut short of six fields: logged at Warning, nothing changes
};

// Reads an acknowledgement; `function` and `command` name the handler and the reply in
// the refusal's log line.
AckRead ReadUploadAck(const std::wstring& reply, const wchar_t* function, int command, UploadAck& ack);

// Runs an acknowledgement's statement (one update or delete) with CMyDatabase::ExecSQL.
// A result other than 1 is logged at Warning with `resultLine` (a format with one %d,
// the result). One row, or none (the row is gone or belongs to another user:
// also logged at Message with the statement, then counted as done) is done: true. A
// negative result (lock time-out, failed statement, no database) is a failure: false.
bool RunAckStatement(const wchar_t* function, const wchar_t* resultLine, const std::wstring& sql);

template <class Record>
class PendingUploads {
public:
    // The builder that queues one record: 0 when queued, -1 when not.
    using Sender = int (*)(const Record&);
    // The statement that an accepted acknowledgement calls for: "" for none, nullopt when
    // it could not be made whole (a cut statement is not run: the write failed).
    using StatementFor = std::optional<std::wstring> (*)(const UploadAck&);

    explicit PendingUploads(Sender send) : m_send(send) {}
    PendingUploads(const PendingUploads&) = delete;
    PendingUploads& operator=(const PendingUploads&) = delete;

    // Replaces the record under `no`, or adds it.
    void Put(int no, Record record) {
        std::lock_guard lock(m_lock);
        m_records.insert_or_assign(no, std::move(record));
    }

    // true when a record was there and is gone.
    bool Remove(int no) {
        std::lock_guard lock(m_lock);
        return m_records.erase(no) != 0;
    }

    // Hands the record with the lowest number to the builder; the record stays pending
    // until its acknowledgement. true when there was one and the builder queued it.
    bool UploadFirst() {
        std::optional<Record> first;
        {
            std::lock_guard lock(m_lock);
            if (!m_records.empty()) first = m_records.begin()->second;
        }
        return first.has_value() && m_send != nullptr && m_send(*first) == 0;
    }

    // The course of an acknowledgement: a negative code is returned as it is; a refused
    // reply gives 0; the statement for the operation runs (when there is one) and a
    // failed write gives 0, the record staying pending and nothing more being sent.
    // Otherwise the acknowledged record is dropped, the next one sent, and 1 returned.
    int Acknowledge(const std::wstring& reply, const wchar_t* function, int command, const wchar_t* resultLine,
                    StatementFor statementFor) {
        UploadAck ack;
        switch (ReadUploadAck(reply, function, command, ack)) {
            case AckRead::Negative:
                return ack.code;
            case AckRead::Refused:
                return 0;
            case AckRead::Accepted:
                break;
        }
        const std::optional<std::wstring> sql = statementFor(ack);
        if (!sql.has_value()) return 0;
        if (!sql->empty() && !RunAckStatement(function, resultLine, *sql)) return 0;
        Remove(ack.no);
        UploadFirst();
        return 1;
    }

    // Copies, for whoever inspects the drain.
    std::vector<int> Numbers() const {
        std::lock_guard lock(m_lock);
        std::vector<int> out;
        out.reserve(m_records.size());
        for (const auto& entry : m_records) out.push_back(entry.first);
        return out;
    }
    std::optional<Record> Get(int no) const {
        std::lock_guard lock(m_lock);
        const auto found = m_records.find(no);
        return found == m_records.end() ? std::nullopt : std::optional<Record>(found->second);
    }

private:
    const Sender m_send;
    mutable std::mutex m_lock;
    std::map<int, Record> m_records;  // by number: the first is the next to send
};

}  // namespace records
