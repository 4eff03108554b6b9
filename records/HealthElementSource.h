// Which data source feeds which health element.
#pragma once

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "DataClassKit.h"
#include "ScriptVM.h"

// One tHealthElementSource row, then whether its source's device is plugged in.
struct struHealthElementSourceW {
    std::wstring healthElementID;
    int sourceNo = 0;
    int dispNo = 0;
    int lastRecNo = 0;
    std::wstring lastopCode;
    std::wstring status;
    std::wstring note;
    std::wstring reserved;             // nothing fills it
    std::atomic<int> linkState{-1};    // 1 connected, 2 removed; -1 until a device says
};

class CHealthElementSource {
public:
    CHealthElementSource();
    // Once: the load's marks, then the reader.
    void LoadFromDB();
    // Replaces every link by the table's, in query order; the number of links, or -1
    // after a database error (the rows read before stay).
    int ReadHealthElementSourceFromDB();
    // Sets the state on every link of the source and on every health element it feeds;
    // the number of links changed.
    int SetSourceLinkState(int sourceNo, int state);
    // One object per link in query order.
    uie::value GetSourceList() const;
    int RegisterScriptObject(HVM vm);

    records::DictionaryLoad m_load;

private:
    mutable std::mutex m_lock;  // the map while it loads, changes state or is listed
    std::map<int, std::unique_ptr<struHealthElementSourceW>> m_links;  // by query position from 1
};

extern CHealthElementSource* g_pHealthElementSource;
