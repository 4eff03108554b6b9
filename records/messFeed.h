// What the four message feeds share: the highest message number that the feed's table
// holds, the point from which the server's newer messages are asked for, and the one
// way a message is stored.
#pragma once

#include <atomic>
#include <cstddef>
#include <mutex>
#include <set>
#include <string>

// The fields every feed's message ends with; each feed's record adds its head.
struct struMessW {
    virtual ~struMessW() = default;
    std::wstring pubTime;
    std::wstring validTime;
    int operatorNo = 0;
    std::wstring status;
    std::wstring note;
    std::wstring modifyTime;  // kept as sent; the table stamps its own
};

// The user feed's and the user group feed's message: the owner is a user or a group number.
struct struUserMessW : struMessW {
    int ownerNo = -1;
    int messNo = -1;
    std::wstring mess;
};

class CMessFeed {
public:
    virtual ~CMessFeed() = default;
    CMessFeed(const CMessFeed&) = delete;
    CMessFeed& operator=(const CMessFeed&) = delete;

    // -1 until loaded, or when the table could not be read.
    int GetMaxMessNo() const { return m_nMaxMessNo.load(); }
    // The table's highest message number: 0 for an empty table, -1 on failure.
    int ReadMaxMessNo() const;
    // The start-up step: the valid mark (for the feeds that keep it) and the number.
    void LoadFromDB();
    // How many messages this run stored.
    std::size_t GetStoredCount() const;

    // One reply of the feed's command, on the socket thread: 1 when a message was
    // stored, else 0.
    virtual int BussDataProc(const std::wstring& reply) = 0;

protected:
    // feedName names the class in log lines ("CPublicMess"); command is its reply's. A
    // message's key is its owner (ownerColumn, none for "") and its number.
    CMessFeed(const wchar_t* feedName, int command, const wchar_t* table, const wchar_t* ownerColumn,
              const wchar_t* numberColumn, bool setsValidMark);

    // False, with one Warning line, when the reply holds fewer than `fields` fields. The
    // server sends a refused message again on every request: when the number of a cut
    // message can still be read, the feed moves past it as past any message it can never
    // store, so the messages after it still come.
    bool IsWhole(const std::wstring& reply, int fields);
    // The reply "no more data" (-99999 in field 1): field 3 becomes the held number,
    // lower or not, as the server says. True when it was that reply.
    bool TakeMarker(const std::wstring& reply);
    // Field n as the message number; false, with one Warning line, when it holds no
    // number: an all-empty reply would otherwise be stored as a blank message 0.
    bool ReadMessNo(const std::wstring& reply, int n, int& messNo) const;
    // Not negative and not stored during this run.
    bool IsNew(int messNo) const;
    // Raises the held number to messNo when that is higher.
    void RaiseMaxMessNo(int messNo);
    // Whether the table holds a row with this owner and number.
    bool KeyStored(int messNo, const std::wstring& owner) const;
    // Fields first to first + 5 of the reply: pubTime to modifyTime.
    static void ReadTail(const std::wstring& reply, int first, struMessW& record);
    // The tail's texts as they stand between quotes in the inserts.
    struct QuotedTail {
        explicit QuotedTail(const struMessW& m);
        std::wstring pubTime, validTime, status, note;
    };
    // Formats the insert, whole, and runs it. On one row stored its number is remembered
    // and the held number rises to it: 1. A failed insert stores nothing: 0.
    // When its key is stored already the failure will not pass, so the held number moves
    // past it (else the feed would ask for it for ever); any other failure (a busy table)
    // keeps the number, so that the message is asked for again. owner is the key's owner
    // as SQL writes it ("7", "'A'"), "" for a feed without owners.
    int Store(int messNo, const std::wstring& owner, const wchar_t* format, ...);
    // A message that will never be stored: logged, and the held number moves past it.
    void SkipMessage(int messNo, const wchar_t* why);

    // The owner-numbered feeds' path: reads the nine fields of struUserMessW and stores
    // the message with the feed's insert (owner, number, text, then the tail). With
    // ownerMustBe set, a message for another owner is not stored.
    int StoreOwnerMessage(const std::wstring& reply, const wchar_t* insertFormat, const int* ownerMustBe = nullptr);

    std::atomic<int> m_nValid{0};
    // Read by the socket worker after each reply and by the keep-alive.
    std::atomic<int> m_nMaxMessNo{-1};

private:
    const std::wstring m_readFunction;
    const std::wstring m_procFunction;
    const int m_command;
    const std::wstring m_table;
    const std::wstring m_ownerColumn;
    const std::wstring m_numberColumn;
    const std::wstring m_maxSql;
    const bool m_setsValidMark;
    mutable std::mutex m_lock;  // the numbers and raising the held one; never held across a call out
    // No page reads a feed's messages: only their numbers are kept, for the check that a
    // message comes once, and only the latest (an older one sent again meets the table's key).
    std::set<int> m_storedNos;
    std::size_t m_storedCount = 0;
};
