// The dictionary of health-element kinds.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "DataClassKit.h"
#include "ScriptVM.h"

// One tHealthElementType row.
struct struHealthElementTypeW {
    int healthElementType = 0;
    std::wstring healthElementTypeName;
    std::wstring healthElementTypeNote;
    int dispNo = 0;
    std::wstring nodeIconFileName;
    int lastRecNo = 0;
    std::wstring lastOpCode;
    std::wstring status;
    std::wstring note;
};

class CHealthElementType {
public:
    CHealthElementType();
    // Once: the load's marks, then the reader.
    void LoadFromDB();
    // The number of kinds held, or -1 after a database error (the rows read before stay).
    int ReadHealthElementTypeFromDB();
    // The kind's record, owned here for the life of the process; null when unknown.
    const struHealthElementTypeW* GetHealthElementType(int type) const;
    // One object per kind in ascending type; with a type other than -1 only that kind's.
    uie::value GetTypeList(int type) const;
    int RegisterScriptObject(HVM vm);

    records::DictionaryLoad m_load;

private:
    mutable std::mutex m_lock;  // the map while it loads and while pages list it
    std::map<int, std::unique_ptr<struHealthElementTypeW>> m_types;
};

extern CHealthElementType* g_pHealthElementType;
