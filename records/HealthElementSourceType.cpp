#include "HealthElementSourceType.h"

#include <vector>

#include "deviceManager.h"

CHealthElementSourceType* g_pHealthElementSourceType = nullptr;

namespace {

using records::ColumnInt;
using records::ColumnText;

constexpr int kConnected = 1;
constexpr int kRemoved = 2;

void Fill(struHealthElementSourceTypeW& r, const std::vector<std::wstring>& row) {
    r.sourceNo = ColumnInt(row, 0);
    r.sourceName = ColumnText(row, 1);
    r.sourceType = ColumnText(row, 2);
    r.devCompanyName = ColumnText(row, 3);
    r.devProductsModel = ColumnText(row, 4);
    r.interfaceName = ColumnText(row, 5);
    r.vendorID = ColumnInt(row, 6);
    r.productID = ColumnInt(row, 7);
    r.sourceNote = ColumnText(row, 8);
    r.dispNo = ColumnInt(row, 9);
    r.productIconFileName = ColumnText(row, 10);
    r.companyIconFileName = ColumnText(row, 11);
    r.lastRecNo = ColumnInt(row, 12);
    r.lastOpCode = ColumnText(row, 13);
    r.status = ColumnText(row, 14);
    r.note = ColumnText(row, 15);
    // A USB device counts as removed until it is seen.
    r.linkState = r.sourceType == L"3" ? kRemoved : kConnected;
}

uie::value ToObject(const struHealthElementSourceTypeW& r) {
    return records::MakeObject({{L"sourceNo", uie::value(r.sourceNo)},
                                {L"sourceName", uie::value(r.sourceName)},
                                {L"sourceType", uie::value(r.sourceType)},
                                {L"devCompanyName", uie::value(r.devCompanyName)},
                                {L"devProductsModel", uie::value(r.devProductsModel)},
                                {L"interface", uie::value(r.interfaceName)},
                                {L"vendorID", uie::value(r.vendorID)},
                                {L"productID", uie::value(r.productID)},
                                {L"sourceNote", uie::value(r.sourceNote)},
                                {L"productIconFileName", uie::value(r.productIconFileName)},
                                {L"companyIconFileName", uie::value(r.companyIconFileName)},
                                {L"dispNo", uie::value(r.dispNo)},
                                {L"lastRecNo", uie::value(r.lastRecNo)},
                                {L"lastOpCode", uie::value(r.lastOpCode)},
                                {L"status", uie::value(r.status)},
                                {L"note", uie::value(r.note)}});
}

}  // namespace

CHealthElementSourceType::CHealthElementSourceType() = default;

void CHealthElementSourceType::LoadFromDB() {
    if (m_load.Begin()) ReadHealthElementSourceTypeFromDB();
}

int CHealthElementSourceType::ReadHealthElementSourceTypeFromDB() {
    std::lock_guard lock(m_lock);
    const int ok = records::SelectOwnConnection(
        L"CHealthElementSourceType::ReadHealthElementSourceTypeFromDB", L"ReadHealthElementSourceTypeFromDB",
        L"select sourceNo,sourceName,sourceType,devCompanyName,devProductsModel,interfaceName,vendorID,productID,"
        L"sourceNote,\t\t\t\t\t\t\tdispNo,productIconFileName,companyIconFileName,lastRecNo,lastOpCode,status,note "
        L"from tHealthElementSourceType where status='1' order by dispNo;",
        [this](const std::vector<std::wstring>& row) {
            struHealthElementSourceTypeW* record = records::FindOrMake(m_sources, ColumnInt(row, 0));
            if (record != nullptr) Fill(*record, row);
            return record != nullptr;  // a record that cannot be made ends the reading
        });
    return ok != 0 ? static_cast<int>(m_sources.size()) : -1;
}

struHealthElementSourceTypeW* CHealthElementSourceType::GetSourceType(int sourceNo) const {
    std::lock_guard lock(m_lock);
    const auto it = m_sources.find(sourceNo);
    return it != m_sources.end() ? it->second.get() : nullptr;
}

struHealthElementSourceTypeW* CHealthElementSourceType::GetSourceTypeByVidPid(int vendorID, int productID) const {
    std::lock_guard lock(m_lock);
    for (const auto& [sourceNo, record] : m_sources) {
        if (record->vendorID == vendorID && record->productID == productID) return record.get();
    }
    return nullptr;
}

struHealthElementSourceTypeW* CHealthElementSourceType::FindPresentDevice(int base) {
    const int width = base < 1000 ? 10 : 100;
    std::vector<struHealthElementSourceTypeW*> candidates;
    {
        std::lock_guard lock(m_lock);
        for (auto it = m_sources.lower_bound(base); it != m_sources.end() && it->first < base + width; ++it) {
            if (it->second->vendorID >= 0 && it->second->productID >= 0) candidates.push_back(it->second.get());
        }
    }
    // Asked without the lock: the device manager reads the system's device list.
    CDeviceManager* const devices = g_pDeviceManager;
    if (devices == nullptr) return nullptr;
    for (struHealthElementSourceTypeW* source : candidates) {
        if (devices->IsUsbDevicePresent(source->vendorID, source->productID) == 1) return source;
    }
    return nullptr;
}

uie::value CHealthElementSourceType::GetSourceTypeList(int sourceNo) const {
    std::lock_guard lock(m_lock);
    if (sourceNo != -1) {
        const auto it = m_sources.find(sourceNo);
        return it != m_sources.end() ? ToObject(*it->second) : uie::value::make_array();
    }
    uie::value list = uie::value::make_array();
    for (const auto& [key, record] : m_sources) list.append(ToObject(*record));
    return list;
}

int CHealthElementSourceType::RegisterScriptObject(HVM vm) {
    static const auto def = [] {
        auto d = std::make_shared<uie::NativeObjectDef>();
        d->methods = {{"ReadHealthElementSourceType", [](HVM, const uie::NativeArgs& args) {
                           const int sourceNo = uie::ArgInt(args, 0);
                           const CHealthElementSourceType* sources = g_pHealthElementSourceType;
                           return sources != nullptr ? sources->GetSourceTypeList(sourceNo)
                                                     : uie::value::make_array();
                       }}};
        return std::shared_ptr<const uie::NativeObjectDef>(std::move(d));
    }();
    return uie::DefineNativeObject(vm, "healthElementSourceType", def) ? 1 : 0;
}
