// The script object "userOp": today's computer-use figures as the pages read them.
#include "DataClassKit.h"
#include "UserOperation.h"

namespace {

using uie::NativeArgs;
using uie::value;

template <class T>
uie::NativeProperty RecordField(const char* name, T UserOpDayRecord::*field) {
    return records::FieldProperty(name, g_pUserOperation, field);
}

enum class SlotField { FullName, FileName, UseSecond, UsePercent, UseType, UseTypeName };

constexpr std::pair<const char*, SlotField> kSlotFields[] = {
    {"programFullName", SlotField::FullName},     {"programFileName", SlotField::FileName},
    {"programUseSecond", SlotField::UseSecond},   {"programUsePercent", SlotField::UsePercent},
    {"programUseType", SlotField::UseType},       {"programUseTypeName", SlotField::UseTypeName},
};

value ReadSlot(const CUserOperation& monitor, std::size_t slot, SlotField field) {
    const UserOpDayRecord::AppSlot app = monitor.GetSlot(slot);
    switch (field) {
    case SlotField::FullName: return value(app.appName);
    case SlotField::FileName: return value(monitor.GetSlotFileName(slot));
    case SlotField::UseSecond: return value(app.appUseSecond);
    case SlotField::UsePercent: return value(app.appUsePercent);
    case SlotField::UseType: return value(app.appType);
    // A place without a program has no type name either.
    case SlotField::UseTypeName: return value(app.appName.empty() ? std::wstring() : monitor.GetAppTypeName(app.appType));
    }
    return value();
}

// Read through the global at read time; the texts are copied under the monitor's lock.
uie::NativeProperty SlotProperty(std::size_t slot, const char* base, SlotField field) {
    std::string name = base;
    if (slot > 0) name += std::to_string(slot + 1);
    const bool isText = field == SlotField::FullName || field == SlotField::FileName || field == SlotField::UseTypeName;
    return {name,
            [slot, field, isText](HVM, const NativeArgs&) {
                const CUserOperation* monitor = g_pUserOperation;
                if (monitor == nullptr) return isText ? value(std::wstring()) : value(0);
                return ReadSlot(*monitor, slot, field);
            },
            {}};
}

value ReadLastGraphData(HVM, const NativeArgs&) {
    const CUserOperation* monitor = g_pUserOperation;
    return value(monitor != nullptr ? monitor->GetLastUserOpGraphData() : std::wstring());
}

}  // namespace

int CUserOperation::RegisterScriptObject(HVM vm) { return uie::DefineNativeObject(vm, "userOp", ScriptObjectDef()) ? 1 : 0; }

std::shared_ptr<const uie::NativeObjectDef> CUserOperation::ScriptObjectDef() {
    static const std::shared_ptr<const uie::NativeObjectDef> def = [] {
        auto d = std::make_shared<uie::NativeObjectDef>();
        d->methods = {{"GetLastUserOpGraphData", ReadLastGraphData}};
        d->properties = {
            RecordField("computerUseSecond", &UserOpDayRecord::computerUseSecond),
            RecordField("mskbUseSecond", &UserOpDayRecord::mskbUseSecond),
            RecordField("browerUseSecond", &UserOpDayRecord::browerUseSecond),
        };
        for (std::size_t slot = 0; slot < kSlotCount; ++slot)
            for (const auto& [base, field] : kSlotFields) d->properties.push_back(SlotProperty(slot, base, field));
        d->properties.push_back(RecordField("mskbOpRate", &UserOpDayRecord::mskbOpRate));
        return std::shared_ptr<const uie::NativeObjectDef>(std::move(d));
    }();
    return def;
}
