// Shortened waits for the tests' connections of one kind (CSqliteDB, the pages' DB), so
// that a lock held elsewhere fails in milliseconds; the waits before are back when the
// scope ends.
#pragma once

template <typename Connection>
class BusyRetriesScope {
public:
    BusyRetriesScope(int retries, int sleepMs)
        : retries_(Connection::s_busyRetries.exchange(retries)),
          sleepMs_(Connection::s_busySleepMs.exchange(sleepMs)) {}
    ~BusyRetriesScope() {
        Connection::s_busyRetries = retries_;
        Connection::s_busySleepMs = sleepMs_;
    }
    BusyRetriesScope(const BusyRetriesScope&) = delete;
    BusyRetriesScope& operator=(const BusyRetriesScope&) = delete;

private:
    int retries_;
    int sleepMs_;
};
