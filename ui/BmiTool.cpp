#include "BmiTool.h"

#include <tinyxml.h>

namespace {

constexpr int kNoValue = -29999;
constexpr int kDefaultHeight = 165;
// A person without a weight shows the same gauge as one whose weight is not known.
constexpr int kDefaultWeightTenths = 530;

}  // namespace

CBmiTool::CBmiTool(const char*, const char*) { Init(); }

int CBmiTool::GenBmiGraphXml(const uie::value& persons, std::string& xmlOut) {
    if (ItemCount(persons) == 0) return -1;
    std::lock_guard lock(WriteLock());
    const uie::value person = Item(persons, 0);
    const bool male = FieldInt(person, L"sex", 0) == 1;
    int height = FieldInt(person, L"height", kDefaultHeight);
    if (height == kNoValue) height = kDefaultHeight;
    int weight = FieldInt(person, L"weight", kDefaultWeightTenths);
    if (weight == kNoValue) weight = kDefaultWeightTenths;
    m_caption = Ansi(FieldText(person, L"caption", L"体重指数"));

    TiXmlElement root("quorvix");
    SetAttributes(root, {{"caption", m_caption.c_str()},
                         {"sex", male ? "1" : "0"},
                         {"weight", FormatNumber(weight / 10.0, 1).c_str()},
                         {"height", FormatInt(height).c_str()}});
    xmlOut = Print(root);
    return 0;
}
