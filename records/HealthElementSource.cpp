#include "HealthElementSource.h"

#include <vector>

#include "HealthResources.h"

CHealthElementSource* g_pHealthElementSource = nullptr;

namespace {

using records::ColumnInt;
using records::ColumnText;

void Fill(struHealthElementSourceW& r, const std::vector<std::wstring>& row) {
    r.healthElementID = ColumnText(row, 0);
    r.sourceNo = ColumnInt(row, 1);
    r.dispNo = ColumnInt(row, 2);
    r.lastRecNo = ColumnInt(row, 3);
    r.lastopCode = ColumnText(row, 4);
    r.status = ColumnText(row, 5);
    r.note = ColumnText(row, 6);
}

uie::value ToObject(const struHealthElementSourceW& r) {
    return records::MakeObject({{L"healthElementID", uie::value(r.healthElementID)},
                                {L"sourceNo", uie::value(r.sourceNo)},
                                {L"sourceStatus", uie::value(r.linkState.load())},
                                {L"dispNo", uie::value(r.dispNo)},
                                {L"lastRecNo", uie::value(r.lastRecNo)},
                                {L"lastOpCode", uie::value(r.lastopCode)},
                                {L"status", uie::value(r.status)},
                                {L"note", uie::value(r.note)}});
}

}  // namespace

CHealthElementSource::CHealthElementSource() = default;

void CHealthElementSource::LoadFromDB() {
    if (m_load.Begin()) ReadHealthElementSourceFromDB();
}

int CHealthElementSource::ReadHealthElementSourceFromDB() {
    std::lock_guard lock(m_lock);
    m_links.clear();
    const int ok = records::SelectOwnConnection(
        L"CHealthElementSource::ReadHealthElementSourceFromDB", L"ReadHealthElementSourceFromDB",
        L"select healthElementID,sourceNo,dispNo,lastRecNo,lastopCode,status,note from tHealthElementSource where "
        L"status='1' order by healthElementID,dispNo;",
        [this](const std::vector<std::wstring>& row) {
            struHealthElementSourceW* link = records::FindOrMake(m_links, static_cast<int>(m_links.size()) + 1);
            if (link != nullptr) Fill(*link, row);
            return link != nullptr;  // a record that cannot be made ends the reading
        });
    return ok != 0 ? static_cast<int>(m_links.size()) : -1;
}

int CHealthElementSource::SetSourceLinkState(int sourceNo, int state) {
    int changed = 0;
    {
        std::lock_guard lock(m_lock);
        for (const auto& [position, link] : m_links) {
            if (link->sourceNo != sourceNo) continue;
            link->linkState = state;
            ++changed;
        }
    }
    // The elements are the health resources' and change under their lock, not ours.
    if (CHealthResources* const resources = g_pHealthResources) {
        resources->WithElements([sourceNo, state](HealthElementMap& elements) {
            for (auto& [id, element] : elements) {
                if (element.sourceNo == sourceNo) element.sourceLinkState = state;
            }
        });
    }
    return changed;
}

uie::value CHealthElementSource::GetSourceList() const {
    uie::value list = uie::value::make_array();
    std::lock_guard lock(m_lock);
    for (const auto& [position, link] : m_links) list.append(ToObject(*link));
    return list;
}

int CHealthElementSource::RegisterScriptObject(HVM vm) {
    static const auto def = [] {
        auto d = std::make_shared<uie::NativeObjectDef>();
        d->methods = {{"ReadHealthElementSource", [](HVM, const uie::NativeArgs&) {
                           const CHealthElementSource* links = g_pHealthElementSource;
                           return links != nullptr ? links->GetSourceList() : uie::value::make_array();
                       }}};
        return std::shared_ptr<const uie::NativeObjectDef>(std::move(d));
    }();
    return uie::DefineNativeObject(vm, "healthElementSource", def) ? 1 : 0;
}
