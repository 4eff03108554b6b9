#include "HealthResources.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <exception>
#include <new>

#include "Communication.h"
#include "CxLog.h"
#include "DataClassKit.h"
#include "HealthElementSourceType.h"
#include "Hooks.h"
#include "IntDate.h"
#include "MainFrame.h"
#include "MyDatabase.h"
#include "Text.h"
#include "UserOperation.h"
#include "Window.h"

CHealthResources* g_pHealthResources = nullptr;

namespace {

using records::ColumnInt;
using records::ColumnText;
using uie::value;

constexpr int kMaxDecLen = 9;  // 10^9 still fits an int
constexpr int kBirthDateLow = 19000000;
constexpr int kBirthDateHigh = 21000000;

void Fill(struHealthElementW& e, const std::vector<std::wstring>& row) {
    std::size_t c = 0;
    e.userNo = ColumnInt(row, c++);
    e.healthElementID = ColumnText(row, c++);
    e.healthElementName = ColumnText(row, c++);
    e.healthElementType = ColumnInt(row, c++);
    e.valueNo = ColumnInt(row, c++);
    e.value = ColumnText(row, c++);
    e.defaultValueNo = ColumnInt(row, c++);
    e.minValue = ColumnText(row, c++);
    e.maxValue = ColumnText(row, c++);
    e.unitName = ColumnText(row, c++);
    e.dataType = ColumnText(row, c++);
    e.decLen = ColumnInt(row, c++);
    e.charSet = ColumnText(row, c++);
    e.ctrlType = ColumnText(row, c++);
    e.ctrlShow = ColumnText(row, c++);
    e.saveValue = ColumnText(row, c++);
    e.basicFlag = ColumnText(row, c++);
    e.defaultChangeCycle = ColumnInt(row, c++);
    e.changeCycle = ColumnInt(row, c++);
    e.alertFlag = ColumnText(row, c++);
    e.defaultReDispCycle = ColumnInt(row, c++);
    e.reDispCycle = ColumnInt(row, c++);
    e.sourceNo = ColumnInt(row, c++);
    e.updateFlag = ColumnText(row, c++);
    e.valueTransFunc = ColumnText(row, c++);
    e.elementManageFunc = ColumnText(row, c++);
    e.refreshFunc = ColumnText(row, c++);
    e.healthElementNote = ColumnText(row, c++);
    e.valueGeneratedTime = ColumnText(row, c++);
    e.valueValidity = ColumnInt(row, c++);
    e.dispNo = ColumnInt(row, c++);
    e.nodeIconFileName = ColumnText(row, c++);
    e.lastRecNo = ColumnInt(row, c++);
    e.lastOpCode = ColumnText(row, c++);
    e.syncFlag = ColumnText(row, c++);
    e.syncNo = ColumnInt(row, c++);
    e.status = ColumnText(row, c++);
    e.note = ColumnText(row, c++);
}

// The number with decLen decimals, the quotient in single precision as it always was shown.
std::wstring PlainText(int valueNo, int decLen) {
    if (decLen <= 0) return std::to_wstring(valueNo);
    const float quotient = static_cast<float>(valueNo / std::pow(10.0, decLen));
    char text[400];
    std::snprintf(text, sizeof text, "%.*f", std::min(decLen, 300), static_cast<double>(quotient));
    return text::FromUtf8(text);
}

std::wstring SexName(int valueNo) {
    if (valueNo == 1) return L"男";
    if (valueNo == 2) return L"女";
    return L"保密";
}

std::wstring TimeText(int seconds) {
    std::wstring out;
    text::FormatW(out, 64, L"%d&nbsp;:&nbsp;%d&nbsp;:&nbsp;%d", seconds / 3600, seconds % 3600 / 60,
                  seconds % 3600 % 60);
    return out;
}

bool IsDigit(wchar_t c) { return c >= L'0' && c <= L'9'; }

bool IsBirthDate(int valueNo) { return valueNo > kBirthDateLow && valueNo < kBirthDateHigh; }

std::wstring AgeText(int birthDate) {
    return IsBirthDate(birthDate) ? std::to_wstring(GetAgeByDate(birthDate, GetCurDate())) : std::wstring();
}

// The decimal text scaled by 10^decLen, digit by digit so "1.15" stays 115; further
// decimals are cut off. false without a digit or past int.
bool ParseScaled(const std::wstring& text, int decLen, long long& out) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == L' ' || text[i] == L'\t')) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == L'+' || text[i] == L'-')) negative = text[i++] == L'-';
    long long magnitude = 0;
    bool digits = false;
    const auto take = [&magnitude, &digits](wchar_t c) {
        magnitude = magnitude * 10 + (c - L'0');
        digits = true;
        return magnitude <= static_cast<long long>(INT_MAX) + 1;
    };
    for (; i < text.size() && IsDigit(text[i]); ++i) {
        if (!take(text[i])) return false;
    }
    int decimals = 0;
    if (i < text.size() && text[i] == L'.') {
        for (++i; i < text.size() && IsDigit(text[i]); ++i) {
            if (decimals < decLen) {
                if (!take(text[i])) return false;
                ++decimals;
            } else {
                digits = true;  // cut off, but a digit all the same
            }
        }
    }
    if (!digits) return false;
    for (; decimals < decLen; ++decimals) {
        magnitude *= 10;
        if (magnitude > static_cast<long long>(INT_MAX) + 1) return false;
    }
    out = negative ? -magnitude : magnitude;
    return out >= INT_MIN && out <= INT_MAX;
}

HWND MainWindow() {
    const CMainFrame* frame = g_pMainFrame;
    return frame != nullptr ? frame->GetHwnd() : nullptr;
}

bool OnMainWindowThread() {
    const HWND hwnd = MainWindow();
    return hwnd != nullptr && GetWindowThreadProcessId(hwnd, nullptr) == GetCurrentThreadId();
}

}  // namespace

CHealthResources::CHealthResources() = default;

// ---- loading ----------------------------------------------------------------------------------

int CHealthResources::LoadFromDB() {
    m_loadTick = GetTickCount();
    ReadHealthElementFromDB();
    StartWork();
    return 1;
}

int CHealthResources::StartWork() { return StartWatch(); }

int CHealthResources::ReadHealthElementFromDB() {
    static const std::wstring kSql =
        L"select userNo,healthElementID,healthElementName,healthElementType,valueNo,value,defaultValueNo,minValue,"
        L"maxValue,unitName,dataType,decLen,charSet,ctrlType,ctrlShow,saveValue,basicFlag,defaultChangeCycle,"
        L"changeCycle,alertFlag,defaultReDispCycle,reDispCycle,sourceNo,updateFlag,valueTransFunc,elementManageFunc,"
        L"refreshFunc,healthElementNote,valueGeneratedTime,valueValidity,dispNo,nodeIconFileName,lastRecNo,"
        L"lastOpCode,syncFlag,syncNo,status,note from tHealthElement where status='1' order by "
        L"healthElementType,dispNo;";
    // Read aside first: the query runs without the lock, and readers never see half a load.
    HealthElementMap loaded;
    std::vector<std::wstring> order;
    const CCommunication* comm = g_pCommunication;
    const int userNo = comm != nullptr ? comm->m_nUserNo.load() : -1;
    const int tick = static_cast<int>(GetTickCount());
    const bool read = records::SelectEachRow(
        kSql,
        [&](const std::vector<std::wstring>& row) {
            try {
                struHealthElementW e;
                Fill(e, row);
                if (e.userNo == -1 && comm != nullptr) e.userNo = userNo;
                e.sourceLinkState = 1;
                e.lastReadTick = e.lastDispTick = tick;
                const std::wstring id = e.healthElementID;
                // A repeated id keeps the first record.
                if (loaded.emplace(id, std::move(e)).second) order.push_back(id);
            } catch (const std::bad_alloc&) {
                LOGF(LOG_ERROR, L"CHealthResources::ReadHealthElementFromDB", L"new struHealthElementW fail!!!");
                return false;
            }
            return true;
        },
        [](int code, const wchar_t* message) {
            LOGF(LOG_MESSAGE, L"CHealthResources::ReadHealthElementFromDB", L"CSqliteException[%s]:[%d][%s]", message,
                 code, kSql.c_str());
        });
    std::lock_guard lock(m_elementLock);
    m_elements = std::move(loaded);
    m_loadOrder = std::move(order);
    return read ? static_cast<int>(m_elements.size()) : -1;
}

// ---- lookups ----------------------------------------------------------------------------------

std::optional<struHealthElementW> CHealthResources::FindElement(const std::wstring& id) const {
    std::lock_guard lock(m_elementLock);
    const auto found = m_elements.find(id);
    return found != m_elements.end() ? std::optional<struHealthElementW>(found->second) : std::nullopt;
}

int CHealthResources::GetElementSourceNo(const std::wstring& id) const {
    const auto e = FindElement(id);
    return e ? e->sourceNo : -1;
}

std::wstring CHealthResources::GetElementValue(const std::wstring& id) const {
    const auto e = FindElement(id);
    return e ? e->value : std::wstring();
}

int CHealthResources::GetElementValueNo(const std::wstring& id) const {
    const auto e = FindElement(id);
    return e ? e->valueNo : kNoValue;
}

std::vector<struHealthElementW> CHealthResources::ElementsInLoadOrder() const {
    std::vector<struHealthElementW> out;
    std::lock_guard lock(m_elementLock);
    out.reserve(m_loadOrder.size());
    for (const std::wstring& id : m_loadOrder) {
        const auto found = m_elements.find(id);
        if (found != m_elements.end()) out.push_back(found->second);
    }
    return out;
}

// ---- texts ------------------------------------------------------------------------------------

std::wstring CHealthResources::ElementValueNoToValue(const struHealthElementW& element, int valueNo) const {
    if (valueNo == kNoValue) return std::wstring();
    std::wstring out;
    try {
        const std::wstring& f = element.valueTransFunc;
        if (f.empty() || MainWindow() == nullptr || g_pMyDatabase == nullptr) return PlainText(valueNo, element.decLen);
        if (f == L"GetRealyAge") return AgeText(valueNo);
        if (f == L"GetFormatTimeStr") return TimeText(valueNo);
        if (f == L"GetWindDirectionName") return g_pMyDatabase->GetDictWindDirectionName(valueNo);
        if (f == L"GetSexName") return SexName(valueNo);
        // A page function runs only on its window's thread; other threads show the number.
        if (!OnMainWindowThread()) return PlainText(valueNo, element.decLen);
        out = PageTransform(f, valueNo);
    } catch (const std::exception&) {
        LOGF(LOG_ERROR, L"CHealthResources::ElementValueNoToValue", L"ElementValueNoToValue[%s][%d][%s] try...",
             element.healthElementID.c_str(), element.valueNo, element.valueTransFunc.c_str());
    }
    return out;
}

std::wstring CHealthResources::PageTransform(const std::wstring& function, int valueNo) {
    CMainFrame* const frame = g_pMainFrame;
    if (frame == nullptr) return std::wstring();
    LOGF(LOG_WARNING, L"CHealthResources::ElementValueNoToValue", L"callScript(%s)..", function.c_str());
    const value result = CSciterWindow::callScriptArgs(frame->GetRootElement(), function.c_str(), value(valueNo));
    return result.is_undefined() || result.is_null() ? std::wstring() : result.to_string();
}

void CHealthResources::GetElementValueByValueNo(std::wstring& out, const std::wstring& id, int valueNo) const {
    const auto e = FindElement(id);
    out = e ? ElementValueNoToValue(*e, valueNo) : std::wstring();
}

int CHealthResources::ElementTextToValueNo(const struHealthElementW& element, const std::wstring& text) const {
    const int decLen = std::max(element.decLen, 0);
    long long scaled = 0;
    if (decLen > kMaxDecLen || !ParseScaled(text, decLen, scaled)) {
        LOGF(LOG_WARNING, L"CHealthResources::ElementTextToValueNo", L"[%s] decLen[%d] text[%s] is no value",
             element.healthElementID.c_str(), element.decLen, text.c_str());
        return kNoValue;
    }
    return static_cast<int>(scaled);
}

bool CHealthResources::GetUserEnvSeconds(const struHealthElementW& element, int* seconds) const {
    const std::wstring& id = element.healthElementID;
    if (id != L"computerUseSecond" && id != L"mskbUseSecond" && id != L"surfingInternetSecond") return false;
    CUserOperation* const monitor = g_pUserOperation;
    return monitor != nullptr && monitor->GetUseSecondValue(id, seconds);
}

void CHealthResources::RefreshAgeElement() {
    const auto age = FindElement(L"age");
    if (!age || !IsBirthDate(age->valueNo)) return;
    const int years = GetAgeByDate(age->valueNo, GetCurDate());
    if (years != text::WToI(age->value.c_str())) SetDisplayValue(*age, age->valueNo, std::to_wstring(years));
}

// ---- the element lists --------------------------------------------------------------------------

std::optional<value> CHealthResources::ElementObject(const struHealthElementW& e) {
    const CHealthElementSourceType* sources = g_pHealthElementSourceType;
    const struHealthElementSourceTypeW* source = sources != nullptr ? sources->GetSourceType(e.sourceNo) : nullptr;
    if (source == nullptr) return std::nullopt;
    return records::MakeObject({{L"healthElementID", value(e.healthElementID)},
                                {L"healthElementName", value(e.healthElementName)},
                                {L"value", value(e.value)},
                                {L"valueNo", value(e.valueNo)},
                                {L"unitName", value(e.unitName)},
                                {L"decLen", value(e.decLen)},
                                {L"valueTransFunc", value(e.valueTransFunc)},
                                {L"elementManageFunc", value(e.elementManageFunc)},
                                {L"changeCycle", value(e.changeCycle)},
                                {L"sourceNo", value(source->sourceNo)},
                                {L"sourceName", value(source->sourceName)},
                                {L"sourceStatus", value(source->linkState.load())}});
}

value CHealthResources::ListOf(const std::vector<struHealthElementW>& elements) {
    value list = value::make_array();
    for (const auto& e : elements) {
        if (auto object = ElementObject(e)) list.append(std::move(*object));
    }
    return list;
}

void CHealthResources::PushElementList(value list) {
    std::uint64_t seq = 0;
    {
        std::lock_guard lock(m_queueLock);
        seq = ++m_nextListSeq;
        m_elementLists.push_back({seq, std::move(list)});
    }
    const HWND hwnd = MainWindow();
    if (hwnd != nullptr && PostMessageW(hwnd, WM_COMMAND, ID_CMD_REFRESH_ELEMENTLIST, 0)) return;
    // No command will pop it: taken out again, so each command gets its own list.
    std::lock_guard lock(m_queueLock);
    const auto mine = std::find_if(m_elementLists.begin(), m_elementLists.end(),
                                   [seq](const QueuedList& q) { return q.seq == seq; });
    if (mine != m_elementLists.end()) m_elementLists.erase(mine);
}

int CHealthResources::QueueElementRefresh(const struHealthElementW& element) {
    auto object = ElementObject(element);
    if (!object) return -1;
    value list = value::make_array();
    list.append(std::move(*object));
    PushElementList(std::move(list));
    return 0;
}

int CHealthResources::QueueSourceElements(int sourceNo) {
    std::vector<struHealthElementW> elements = ElementsInLoadOrder();
    if (sourceNo != -1) {
        std::erase_if(elements, [sourceNo](const struHealthElementW& e) { return e.sourceNo != sourceNo; });
    }
    value list = ListOf(elements);
    if (list.length() > 0) PushElementList(std::move(list));
    return 0;
}

void CHealthResources::QueueElementRefreshById(const std::wstring& id) {
    if (const auto e = FindElement(id)) QueueElementRefresh(*e);
}

void CHealthResources::QueueElementsFromList(const value& items) {
    std::vector<struHealthElementW> elements;
    for (std::size_t i = 0; i < items.length() && items.is_array(); ++i) {
        const value id = items.nth(i).get_item(value(L"healthElementID"));
        if (!id.is_string()) continue;
        if (auto e = FindElement(id.get_string())) elements.push_back(std::move(*e));
    }
    PushElementList(ListOf(elements));
}

int CHealthResources::ApplyDisplayValues(const value& items) {
    std::vector<struHealthElementW> changed;
    for (std::size_t i = 0; i < items.length() && items.is_array(); ++i) {
        const value item = items.nth(i);
        const value id = item.get_item(value(L"healthElementID"));
        if (!id.is_string()) continue;
        const int valueNo = records::MemberInt(item, L"valueNo", -1);
        const std::wstring text = records::MemberText(item, L"value");
        WithElement(id.get_string(), [&](struHealthElementW& e) {
            e.valueNo = valueNo;
            e.value = text;
            changed.push_back(e);
        });
    }
    PushElementList(ListOf(changed));
    return 0;
}

void CHealthResources::SetDisplayValue(const struHealthElementW& element, int valueNo, const std::wstring& text) {
    value items = value::make_array();
    items.append(records::MakeObject(
        {{L"healthElementID", value(element.healthElementID)}, {L"valueNo", value(valueNo)}, {L"value", value(text)}}));
    ApplyDisplayValues(items);
}

int CHealthResources::UpdateElementSourceNo(const value& items) {
    for (std::size_t i = 0; i < items.length() && items.is_array(); ++i) {
        const value item = items.nth(i);
        const value id = item.get_item(value(L"healthElementID"));
        const value sourceNo = item.get_item(value(L"sourceNo"));
        // An item without both keys changes nothing.
        if (!id.is_string() || !sourceNo.is_int()) continue;
        WithElement(id.get_string(), [&sourceNo](struHealthElementW& e) { e.sourceNo = sourceNo.get_int(); });
    }
    QueueElementsFromList(items);
    return 0;
}

value CHealthResources::PopElementListMsg() {
    std::lock_guard lock(m_queueLock);
    if (m_elementLists.empty()) return {};
    value oldest = std::move(m_elementLists.front().list);
    m_elementLists.pop_front();
    return oldest;
}

value CHealthResources::PopPageMsg() {
    std::lock_guard lock(m_queueLock);
    if (m_pageValues.empty()) return {};
    value oldest = std::move(m_pageValues.front());
    m_pageValues.pop_front();
    return oldest;
}

int CHealthResources::DevChangeProc(int vendorID, int productID, int arrived) {
    return ApplyDeviceChange(vendorID, productID, arrived);
}
