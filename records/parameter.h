// The system parameters that the server sets for the client: the status-'1' rows of
// tParameter, held by parameterNo. Those named "assessPoint_..." carry the rank tables
// of the health assessment and are handed to CAssessInfo when loaded or changed.
#pragma once

#include <cstddef>
#include <map>
#include <mutex>
#include <optional>
#include <string>

// One tParameter row as held in memory: its first six columns.
struct struParameterW {
    int parameterNo = -1;
    std::wstring parameterID;
    std::wstring value;
    int syncNo = -1;
    std::wstring status;
    std::wstring note;
};

class CParameter {
public:
    static constexpr int kMaxLoaded = 20;  // rows past the 20th are not loaded

    CParameter();

    // Load step: the first 20 status-'1' rows in query order; 1, or 0 after a database
    // exception (rows loaded before it stay). A parameterNo held already is updated.
    int ReadParameterFromDB();
    // The server's parameter record (0x1085), on the socket thread: 1 when written;
    // 0 for the no-data marker -99999 or a failed write. Every record is written
    // (no syncNo comparison); only a parameterNo held in memory changes the memory.
    int BussDataProc(const std::wstring& reply);
    // When a record with the same parameterNo is held, takes all six fields. 0.
    int UpdateParameter(const struParameterW& record);
    // The n-th record in ascending parameterNo order, from 0; none past the end. A
    // copy: the socket thread reads while the login thread loads.
    std::optional<struParameterW> GetParameterByIndex(int n) const;
    std::size_t GetParameterCount() const;

private:
    mutable std::mutex m_lock;  // the map; never held across a call out
    std::map<int, struParameterW> m_parameters;
};

extern CParameter* g_pParameter;
