#include "HealthElementType.h"

#include <vector>

CHealthElementType* g_pHealthElementType = nullptr;

namespace {

using records::ColumnInt;
using records::ColumnText;

void Fill(struHealthElementTypeW& r, const std::vector<std::wstring>& row) {
    r.healthElementType = ColumnInt(row, 0);
    r.healthElementTypeName = ColumnText(row, 1);
    r.healthElementTypeNote = ColumnText(row, 2);
    r.dispNo = ColumnInt(row, 3);
    r.nodeIconFileName = ColumnText(row, 4);
    r.lastRecNo = ColumnInt(row, 5);
    r.lastOpCode = ColumnText(row, 6);
    r.status = ColumnText(row, 7);
    r.note = ColumnText(row, 8);
}

uie::value ToObject(const struHealthElementTypeW& r) {
    return records::MakeObject({{L"healthElementType", uie::value(r.healthElementType)},
                                {L"healthElementTypeName", uie::value(r.healthElementTypeName)},
                                {L"healthElementTypeNote", uie::value(r.healthElementTypeNote)},
                                {L"dispNo", uie::value(r.dispNo)},
                                {L"nodeIconFileName", uie::value(r.nodeIconFileName)},
                                {L"lastRecNo", uie::value(r.lastRecNo)},
                                {L"lastOpCode", uie::value(r.lastOpCode)},
                                {L"status", uie::value(r.status)},
                                {L"note", uie::value(r.note)}});
}

}  // namespace

CHealthElementType::CHealthElementType() = default;

void CHealthElementType::LoadFromDB() {
    if (m_load.Begin()) ReadHealthElementTypeFromDB();
}

int CHealthElementType::ReadHealthElementTypeFromDB() {
    std::lock_guard lock(m_lock);
    const int ok = records::SelectOwnConnection(
        L"CHealthElementType::ReadHealthElementTypeFromDB", L"ReadHealthElementTypeFromDB",
        L"select healthElementType,healthElementTypeName,healthElementTypeNote,dispNo,nodeIconFileName,lastRecNo,"
        L"lastOpCode,status,note from tHealthElementType where status='1' order by dispNo;",
        [this](const std::vector<std::wstring>& row) {
            struHealthElementTypeW* record = records::FindOrMake(m_types, ColumnInt(row, 0));
            if (record != nullptr) Fill(*record, row);
            return record != nullptr;  // a record that cannot be made ends the reading
        });
    return ok != 0 ? static_cast<int>(m_types.size()) : -1;
}

const struHealthElementTypeW* CHealthElementType::GetHealthElementType(int type) const {
    std::lock_guard lock(m_lock);
    const auto it = m_types.find(type);
    return it != m_types.end() ? it->second.get() : nullptr;
}

uie::value CHealthElementType::GetTypeList(int type) const {
    uie::value list = uie::value::make_array();
    std::lock_guard lock(m_lock);
    for (const auto& [key, record] : m_types) {
        if (type == -1 || key == type) list.append(ToObject(*record));
    }
    return list;
}

int CHealthElementType::RegisterScriptObject(HVM vm) {
    static const auto def = [] {
        auto d = std::make_shared<uie::NativeObjectDef>();
        d->methods = {{"ReadHealthElementType", [](HVM, const uie::NativeArgs& args) {
                           const int type = uie::ArgInt(args, 0);
                           const CHealthElementType* types = g_pHealthElementType;
                           return types != nullptr ? types->GetTypeList(type) : uie::value::make_array();
                       }}};
        return std::shared_ptr<const uie::NativeObjectDef>(std::move(d));
    }();
    return uie::DefineNativeObject(vm, "healthElementType", def) ? 1 : 0;
}
