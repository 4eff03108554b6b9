// Shortened waits for the tests' connections, so that a lock held elsewhere fails in
// milliseconds; the waits before are back when the scope ends.
#pragma once

#include "CSqliteDB.h"

class BusyRetriesScope {
public:
    BusyRetriesScope(int retries, int sleepMs)
        : retries_(CSqliteDB::s_busyRetries.exchange(retries)), sleepMs_(CSqliteDB::s_busySleepMs.exchange(sleepMs)) {}
    ~BusyRetriesScope() {
        CSqliteDB::s_busyRetries = retries_;
        CSqliteDB::s_busySleepMs = sleepMs_;
    }
    BusyRetriesScope(const BusyRetriesScope&) = delete;
    BusyRetriesScope& operator=(const BusyRetriesScope&) = delete;

private:
    int retries_;
    int sleepMs_;
};
