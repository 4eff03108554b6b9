// What the four message feeds share: the highest message number that the feed's table
// holds, the point from which the server's newer messages are asked for.
#pragma once

#include <atomic>
#include <string>

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

    // One reply of the feed's command, on the socket thread.
    virtual int BussDataProc(const std::wstring& reply) = 0;

protected:
    // readFunction names the feed's own method in log lines.
    CMessFeed(const wchar_t* readFunction, const wchar_t* maxSql, bool setsValidMark);

    std::atomic<int> m_nValid{0};
    // Read by the socket worker after each reply and by the keep-alive.
    std::atomic<int> m_nMaxMessNo{-1};

private:
    const wchar_t* const m_readFunction;
    const wchar_t* const m_maxSql;
    const bool m_setsValidMark;
};
