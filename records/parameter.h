// The system parameters that the server sets for the client.
#pragma once

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
    CParameter();

    int ReadParameterFromDB();
    // The server's parameter record (0x1085), on the socket thread: 1 when written.
    int BussDataProc(const std::wstring& reply);
    // The n-th record in ascending parameterNo order, from 0; none past the end.
    std::optional<struParameterW> GetParameterByIndex(int n) const;
};

extern CParameter* g_pParameter;
