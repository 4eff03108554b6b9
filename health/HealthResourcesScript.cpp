// The script object "healthResources": the pages' view of the health elements. Its
// methods run on the calling page's thread and work on g_pHealthResources.
#include <memory>
#include <string>

#include "CheckedNative.h"
#include "DataClassKit.h"
#include "HealthElementSourceType.h"
#include "HealthElementType.h"
#include "HealthResources.h"
#include "MainFrame.h"
#include "Text.h"

namespace {

using uie::NativeArgs;
using uie::value;

constexpr int kError = -1;

// The batch's items: an array, or a map holding them under "recordDataList".
const value& ArgItems(const NativeArgs& args, std::size_t i) {
    return args[i].is_array() ? args[i] : uie::ArgMap(args, i);
}

// Every field a page may read, in the order pages list them.
value FullObject(const struHealthElementW& e) {
    return records::MakeObject({{L"healthElementID", value(e.healthElementID)},
                                {L"healthElementName", value(e.healthElementName)},
                                {L"healthElementType", value(e.healthElementType)},
                                {L"valueNo", value(e.valueNo)},
                                {L"value", value(e.value)},
                                {L"defaultValueNo", value(e.defaultValueNo)},
                                {L"minValue", value(e.minValue)},
                                {L"maxValue", value(e.maxValue)},
                                {L"unitName", value(e.unitName)},
                                {L"dataType", value(e.dataType)},
                                {L"decLen", value(e.decLen)},
                                {L"charSet", value(e.charSet)},
                                {L"ctrlType", value(e.ctrlType)},
                                {L"ctrlShow", value(e.ctrlShow)},
                                {L"saveValue", value(e.saveValue)},
                                {L"basicFlag", value(e.basicFlag)},
                                {L"defaultChangeCycle", value(e.defaultChangeCycle)},
                                {L"changeCycle", value(e.changeCycle)},
                                {L"alertFlag", value(e.alertFlag)},
                                {L"defaultReDispCycle", value(e.defaultReDispCycle)},
                                {L"reDispCycle", value(e.reDispCycle)},
                                {L"sourceNo", value(e.sourceNo)},
                                {L"sourceStatus", value(e.sourceLinkState)},
                                {L"updateFlag", value(e.updateFlag)},
                                {L"valueTransFunc", value(e.valueTransFunc)},
                                {L"elementManageFunc", value(e.elementManageFunc)},
                                {L"refreshFunc", value(e.refreshFunc)},
                                {L"healthElementNote", value(e.healthElementNote)},
                                {L"valueGeneratedTime", value(e.valueGeneratedTime)},
                                {L"dispNo", value(e.dispNo)},
                                {L"nodeIconFileName", value(e.nodeIconFileName)},
                                {L"lastRecNo", value(e.lastRecNo)},
                                {L"lastOpCode", value(e.lastOpCode)},
                                {L"syncFlag", value(e.syncFlag)},
                                {L"syncNo", value(e.syncNo)},
                                {L"status", value(e.status)},
                                {L"note", value(e.note)}});
}

value ReadHealthElement(HVM, const NativeArgs& args) {
    const std::wstring filter = uie::ArgString(args, 0);
    value list = value::make_array();
    const CHealthResources* resources = g_pHealthResources;
    if (resources == nullptr) return list;
    for (const auto& e : resources->ElementsInLoadOrder()) {
        if (filter.empty() || e.healthElementID == filter) list.append(FullObject(e));
    }
    return list;
}

// 0 when every item was stored, else the first failure's code; the items after a
// failure are still stored.
value SetHealthElementValue(HVM, const NativeArgs& args) {
    const value& items = uie::ArgArray(args, 0);
    CHealthResources* resources = g_pHealthResources;
    int firstFailure = 0;
    for (std::size_t i = 0; resources != nullptr && i < items.length(); ++i) {
        const value item = items.nth(i);
        const int stored = resources->SetElementValue(
            records::MemberText(item, L"healthElementID"), records::MemberInt(item, L"valueNo", -1),
            records::MemberText(item, L"value"), records::MemberInt(item, L"sourceNo", -1), true, true);
        if (firstFailure == 0) firstFailure = stored;
    }
    return value(firstFailure);
}

value GenHealthElementGraphData(HVM, const NativeArgs& args) {
    const value& options = uie::ArgPresent(args, 0);
    const value& records = uie::ArgPresent(args, 1);
    const CMainFrame* frame = g_pMainFrame;
    CHealthElementDataGraph* chart = frame != nullptr ? frame->GetHealthElementDataGraph() : nullptr;
    std::string xml;
    if (chart != nullptr) chart->GenGraphXml(options, records, xml);
    return value(text::FromAnsi(xml));  // the chart's text is GBK
}

value GenBmiGraphData(HVM, const NativeArgs& args) {
    const value& persons = uie::ArgPresent(args, 0);
    const CMainFrame* frame = g_pMainFrame;
    CBmiTool* chart = frame != nullptr ? frame->GetBmiTool() : nullptr;
    std::string xml;
    if (chart != nullptr) chart->GenBmiGraphXml(persons, xml);
    return value(text::FromAnsi(xml));
}

// The three calls into the device module of the element's source; an element whose
// source has no bound module answers -1 or "".
value StartModuleWork(HVM, const NativeArgs& args) {
    const std::wstring id = uie::ArgString(args, 0);
    CHealthResources* resources = g_pHealthResources;
    return value(resources != nullptr ? resources->CallModuleWork(id, true) : kError);
}

value StopModuleWork(HVM, const NativeArgs& args) {
    const std::wstring id = uie::ArgString(args, 0);
    CHealthResources* resources = g_pHealthResources;
    return value(resources != nullptr ? resources->CallModuleWork(id, false) : kError);
}

value GetModuleValue(HVM, const NativeArgs& args) {
    const std::wstring id = uie::ArgString(args, 0);
    CHealthResources* resources = g_pHealthResources;
    return value(resources != nullptr ? resources->GetModuleValue(id) : std::wstring());
}

value ReadHealthElementType(HVM, const NativeArgs& args) {
    const int type = uie::ArgInt(args, 0);
    const CHealthElementType* types = g_pHealthElementType;
    return types != nullptr ? types->GetTypeList(type) : value::make_array();
}

value ReadHealthElementSourceType(HVM, const NativeArgs& args) {
    const int sourceNo = uie::ArgInt(args, 0);
    const CHealthElementSourceType* sources = g_pHealthElementSourceType;
    return sources != nullptr ? sources->GetSourceTypeList(sourceNo) : value::make_array();
}

value UpdateElementValue(HVM, const NativeArgs& args) {
    const value& items = uie::ArgArray(args, 0);
    CHealthResources* resources = g_pHealthResources;
    return value(resources != nullptr ? resources->ApplyDisplayValues(items) : 0);
}

value UpdateElementSourceNo(HVM, const NativeArgs& args) {
    const value& items = uie::ArgArray(args, 0);
    CHealthResources* resources = g_pHealthResources;
    return value(resources != nullptr ? resources->UpdateElementSourceNo(items) : 0);
}

value GetHealthElementValue(HVM, const NativeArgs& args) {
    const std::wstring id = uie::ArgString(args, 0);
    const CHealthResources* resources = g_pHealthResources;
    return value(resources != nullptr ? resources->GetElementValue(id) : std::wstring());
}

value GetHealthElementValueNo(HVM, const NativeArgs& args) {
    const std::wstring id = uie::ArgString(args, 0);
    const CHealthResources* resources = g_pHealthResources;
    return value(resources != nullptr ? resources->GetElementValueNo(id) : CHealthResources::kNoValue);
}

value GetElementValueByValueNo(HVM, const NativeArgs& args) {
    const std::wstring id = uie::ArgString(args, 0);
    const int valueNo = uie::ArgInt(args, 1);
    std::wstring text;
    if (const CHealthResources* resources = g_pHealthResources) resources->GetElementValueByValueNo(text, id, valueNo);
    return value(text);
}

value SetHealthElementValue_Batch(HVM, const NativeArgs& args) {
    const value& items = ArgItems(args, 0);
    CHealthResources* resources = g_pHealthResources;
    return value(resources != nullptr ? resources->SetHealthElementValue_Batch(items) : kError);
}

std::shared_ptr<const uie::NativeObjectDef> HealthResourcesObjectDef() {
    static const std::shared_ptr<const uie::NativeObjectDef> def = [] {
        auto d = std::make_shared<uie::NativeObjectDef>();
        const value error(kError);
        const value empty;
        d->methods = {
            {"ReadHealthElement", Checked(empty, ReadHealthElement)},
            {"ReadHealthElementType", Checked(empty, ReadHealthElementType)},
            {"ReadHealthElementSourceType", Checked(empty, ReadHealthElementSourceType)},
            {"UpdateElementValue", Checked(error, UpdateElementValue)},
            {"UpdateElementSourceNo", Checked(error, UpdateElementSourceNo)},
            {"GetHealthElementValue", Checked(empty, GetHealthElementValue)},
            {"GetHealthElementValueNo", Checked(error, GetHealthElementValueNo)},
            {"SetHealthElementValue", Checked(error, SetHealthElementValue)},
            {"GetElementValueByValueNo", Checked(empty, GetElementValueByValueNo)},
            {"SetHealthElementValue_Batch", Checked(error, SetHealthElementValue_Batch)},
            {"GenHealthElementGraphData", Checked(empty, GenHealthElementGraphData)},
            {"GenBmiGraphData", Checked(empty, GenBmiGraphData)},
            {"startWork", Checked(error, StartModuleWork)},
            {"stopWork", Checked(error, StopModuleWork)},
            {"getValue", Checked(empty, GetModuleValue)},
        };
        return std::shared_ptr<const uie::NativeObjectDef>(std::move(d));
    }();
    return def;
}

}  // namespace

int CHealthResources::RegisterScriptObject(HVM vm) {
    return uie::DefineNativeObject(vm, "healthResources", HealthResourcesObjectDef()) ? 1 : 0;
}
