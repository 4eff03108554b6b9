// The system parameters that the server sets for the client.
#pragma once

class CParameter {
public:
    CParameter();

    int ReadParameterFromDB();
};

extern CParameter* g_pParameter;
