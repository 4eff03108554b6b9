#include "GraphFlash.h"

#include <tinyxml.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>

#include "ChartPrinter.h"
#include "Text.h"

TiXmlElement& CGraphFlash::AddChild(TiXmlElement& parent, const char* name) {
    return *parent.InsertEndChild(TiXmlElement(name))->ToElement();
}

void CGraphFlash::SetAttributes(TiXmlElement& element, std::initializer_list<Attribute> attributes) {
    for (const Attribute& a : attributes) element.SetAttribute(a.name, a.value);
}

void CGraphFlash::SetHeadAttributes(TiXmlElement& root) const {
    SetAttributes(root, {{"caption", m_caption.c_str()},
                         {"animation", m_animation.c_str()},
                         {"showValues", m_showValues.c_str()},
                         {"bgColor", m_bgColor.c_str()},
                         {"bgAlpha", m_bgAlpha.c_str()},
                         {"showBorder", m_showBorder.c_str()},
                         {"numDivLines", m_numDivLines.c_str()},
                         {"showCanvasBg", m_showCanvasBg.c_str()},
                         {"showCanvasBase", m_showCanvasBase.c_str()},
                         {"canvasBaseDepth", m_canvasBaseDepth.c_str()},
                         {"chartLeftMargin", m_chartLeftMargin.c_str()},
                         {"chartRightMargin", m_chartRightMargin.c_str()},
                         {"chartTopMargin", m_chartTopMargin.c_str()},
                         {"chartBottomMargin", m_chartBottomMargin.c_str()}});
}

void CGraphFlash::ReadDisplayOptions(const uie::value& option) {
    m_animation = Ansi(FieldText(option, L"animation", L"1"));
    m_showValues = Ansi(FieldText(option, L"showValues", L"1"));
    m_showLegend = Ansi(FieldText(option, L"showLegend", L"1"));
}

void CGraphFlash::SetAxis(TiXmlElement& root, std::string minValue, std::string maxValue) {
    m_yAxisMinValue = std::move(minValue);
    m_yAxisMaxValue = std::move(maxValue);
    SetAttributes(root, {{"yAxisMinValue", m_yAxisMinValue.c_str()}, {"yAxisMaxValue", m_yAxisMaxValue.c_str()}});
}

std::string CGraphFlash::Print(const TiXmlElement& root) {
    std::string text;
    ChartPrinter out(text);
    out.Add(root);
    return text;
}

namespace {

// Texts longer than this are converted afresh each time rather than kept.
constexpr std::size_t kRememberedChars = 256;

// The last few texts this thread converted that were not ASCII, with their conversions: the
// results of a list repeat their notes and remarks (a record has a few such fields), and the
// code-page conversion costs a chart more than printing them.
struct RecentConversions {
    static constexpr std::size_t kKept = 4;
    std::array<std::wstring, kKept> text;
    std::array<std::string, kKept> ansi;
    std::size_t next = 0;  // the one replaced next
};

}  // namespace

std::string CGraphFlash::Ansi(std::wstring_view text) {
    // ASCII is the same in the code page.
    if (text::IsAscii(text)) return std::string(text.begin(), text.end());
    if (text.size() > kRememberedChars) return text::ToAnsi(text);
    thread_local RecentConversions recent;
    for (std::size_t i = 0; i < RecentConversions::kKept; ++i) {
        if (recent.text[i] == text) return recent.ansi[i];
    }
    const std::size_t at = recent.next;
    recent.next = (at + 1) % RecentConversions::kKept;
    recent.ansi[at] = text::ToAnsi(text);
    recent.text[at].assign(text);
    return recent.ansi[at];
}

int CGraphFlash::ClampDecimals(int decimals) { return std::clamp(decimals, 0, kMaxDecimals); }

std::string CGraphFlash::FormatNumber(double number, int decimals) {
    const int n = ClampDecimals(decimals);
    if (n == 0) {
        // A cast of a float outside int's range is undefined: saturate instead.
        const double whole = std::isnan(number) ? 0.0 : std::trunc(number);
        return FormatInt(static_cast<int>(std::clamp(whole, -2147483648.0, 2147483647.0)));
    }
    char buffer[64];  // "%.6f" of the largest float needs 47
    // printf's text in the C locale, without its cost; a number too long for the buffer
    // is cut as snprintf cuts it.
    const auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, number, std::chars_format::fixed, n);
    if (error == std::errc()) return std::string(buffer, end);
    std::snprintf(buffer, sizeof buffer, "%.*f", n, number);
    return buffer;
}

std::string CGraphFlash::FormatInt(int number) { return std::to_string(number); }

std::size_t CGraphFlash::ItemCount(const uie::value& list) { return list.is_array() ? list.length() : 0; }

const uie::value& CGraphFlash::Item(const uie::value& list, std::size_t index) {
    static const uie::value kNone;
    const uie::value::array_t* items = list.array_ptr();
    return items != nullptr && index < items->size() ? (*items)[index] : kNone;
}

const uie::value* CGraphFlash::Field(const uie::value& item, std::wstring_view key) {
    const uie::value::map_t* fields = item.map_ptr();
    if (fields == nullptr) return nullptr;
    // A text key equals the name (as a script value of the name would); no other key does.
    for (const auto& [name, v] : *fields) {
        if (name.is_string() && *name.string_ptr() == key) return &v;
    }
    return nullptr;
}

void CGraphFlash::ReadFields(const uie::value& item, std::span<const FieldSlot> slots) {
    for (const FieldSlot& slot : slots) *slot.field = nullptr;
    const uie::value::map_t* fields = item.map_ptr();
    if (fields == nullptr || slots.size() == 0) return;
    const std::size_t count = slots.size();
    std::size_t next = 0;  // the slot the next name most likely fills
    std::size_t filled = 0;
    for (const auto& [name, v] : *fields) {
        if (filled == count) break;  // the names after these are not asked for
        if (!name.is_string()) continue;
        const std::wstring& text = *name.string_ptr();
        std::size_t at = next;
        for (std::size_t tried = 0; tried < count; ++tried, at = at + 1 < count ? at + 1 : 0) {
            const FieldSlot& slot = slots[at];
            if (*slot.field != nullptr || slot.key != text) continue;
            *slot.field = &v;
            ++filled;
            next = at + 1 < count ? at + 1 : 0;
            break;
        }
    }
}

int CGraphFlash::FieldInt(const uie::value& item, std::wstring_view key, int fallback) {
    return ValueInt(Field(item, key), fallback);
}

std::wstring CGraphFlash::FieldText(const uie::value& item, std::wstring_view key, std::wstring_view fallback) {
    return ValueText(Field(item, key), fallback);
}

std::string CGraphFlash::FieldAnsi(const uie::value& item, std::wstring_view key, std::wstring_view fallback) {
    return ValueAnsi(Field(item, key), fallback);
}

int CGraphFlash::ValueInt(const uie::value* v, int fallback) {
    if (v == nullptr) return fallback;
    if (v->is_int()) return v->get_int();
    if (!v->is_float()) return fallback;
    const double d = std::trunc(v->get_double());
    if (!(d >= -2147483648.0 && d <= 2147483647.0)) return fallback;  // NaN fails too
    return static_cast<int>(d);
}

std::wstring CGraphFlash::ValueText(const uie::value* v, std::wstring_view fallback) {
    if (v != nullptr && v->is_string()) return *v->string_ptr();
    if (v != nullptr && (v->is_int() || v->is_float() || v->is_bool())) return v->to_string();
    return std::wstring(fallback);
}

int CGraphFlash::ValueTextInt(const uie::value* v) {
    if (v != nullptr && v->is_string()) return text::WToI(v->string_ptr()->c_str());
    return text::WToI(ValueText(v).c_str());
}

std::string CGraphFlash::ValueAnsi(const uie::value* v, std::wstring_view fallback) {
    if (v != nullptr && v->is_string()) return Ansi(*v->string_ptr());  // no copy of the wide text
    return Ansi(ValueText(v, fallback));
}

int CGraphFlash::ColumnInt(const std::vector<std::wstring>& row, std::size_t column) {
    return column < row.size() ? text::WToI(row[column].c_str()) : 0;
}

std::wstring CGraphFlash::ColumnText(const std::vector<std::wstring>& row, std::size_t column) {
    return column < row.size() ? row[column] : std::wstring();
}
