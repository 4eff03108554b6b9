// The base of the chart data writers. Every chart is drawn by a chart movie from an
// XML document (root "chart") that a writer builds; the writer first assigns its
// chart's values to the members below, then copies them onto the document, so the
// values stay in the object between calls. A small document is built whole, each element
// where it stays, and printed; a chart of thousands of records is printed as it is written
// (ChartPrinter), so its records are never copied nor all held as elements. The writing
// steps all charts share live here once: attributes, the value axis, printing, and reading
// the callers' fields.
#pragma once

#include <cstddef>
#include <initializer_list>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "Value.h"

class TiXmlElement;

class CGraphFlash {
public:
    CGraphFlash() = default;
    virtual ~CGraphFlash() = default;
    CGraphFlash(const CGraphFlash&) = delete;
    CGraphFlash& operator=(const CGraphFlash&) = delete;

    // Empty for the charts; a writer with more state overrides it.
    virtual void Init() {}

protected:
    struct Attribute {
        const char* name;
        const char* value;  // 8-bit text in the system code page
    };

    // Pages of several windows reach one chart object: one document at a time.
    std::mutex& WriteLock() { return m_writeLock; }

    // A new empty element at the end of parent's children, to be filled in place.
    static TiXmlElement& AddChild(TiXmlElement& parent, const char* name);
    // Sets the attributes in this order. A name set before keeps its place and takes
    // the new value, so attributes print in the order they were first set.
    static void SetAttributes(TiXmlElement& element, std::initializer_list<Attribute> attributes);
    // The caption, animation, showValues, background, border, numDivLines, canvas and
    // the four margins, from the members in that order: the head most charts share.
    void SetHeadAttributes(TiXmlElement& root) const;
    // The page's animation, showValues and showLegend switches into the members, each
    // "1" where the page leaves it out.
    void ReadDisplayOptions(const uie::value& option);
    // Keeps the axis in the members and sets it on the root; called after the children
    // are built, so the two come last among the root's attributes.
    void SetAxis(TiXmlElement& root, std::string minValue, std::string maxValue);
    // The document of the root, as ChartPrinter prints it.
    static std::string Print(const TiXmlElement& root);

    // Wide text in the system code page; a character it cannot hold becomes '?'.
    static std::string Ansi(std::wstring_view text);
    // A number with that many decimals ("%.Nf", N clamped to 0..kMaxDecimals); with
    // none, the number cut to an integer ("%d").
    static constexpr int kMaxDecimals = 6;
    static int ClampDecimals(int decimals);
    static std::string FormatNumber(double number, int decimals);
    static std::string FormatInt(int number);

    // Script values: a list of maps. Anything but a list counts as empty. Items and
    // fields are read in place: a chart of thousands of records copies none of them.
    static std::size_t ItemCount(const uie::value& list);
    // The item, or an undefined value past the end; valid as long as the list is.
    static const uie::value& Item(const uie::value& list, std::size_t index);
    // A number field; the fallback when it is missing or not a number (a float is
    // cut to an integer, one out of range counts as not a number).
    static int FieldInt(const uie::value& item, std::wstring_view key, int fallback);
    // A text field; numbers and booleans read as their text ("12", "true"), and the
    // fallback stands for a missing field or one that holds no text (a list, a map, null).
    static std::wstring FieldText(const uie::value& item, std::wstring_view key, std::wstring_view fallback = {});
    // The same in the system code page.
    static std::string FieldAnsi(const uie::value& item, std::wstring_view key, std::wstring_view fallback = {});

    // A field of each of these names, each the first of its name as a lookup finds it (null
    // when the item is no map or has none), in one walk over the item that ends once each is
    // found: names listed in the order the page writes them cost one comparison each.
    struct FieldSlot {
        std::wstring_view key;
        const uie::value** field;
    };
    static void ReadFields(const uie::value& item, std::span<const FieldSlot> slots);
    // A field's value as FieldInt, FieldText and FieldAnsi read it; null counts as missing.
    static int ValueInt(const uie::value* field, int fallback);
    static std::wstring ValueText(const uie::value* field, std::wstring_view fallback = {});
    static std::string ValueAnsi(const uie::value* field, std::wstring_view fallback = {});
    // A field's text through the decimal conversion: 0 for a missing one or one that is no number.
    static int ValueTextInt(const uie::value* field);

    // Table rows: a column through the decimal conversion (missing or not a number: 0),
    // or its text (missing: empty).
    static int ColumnInt(const std::vector<std::wstring>& row, std::size_t column);
    static std::wstring ColumnText(const std::vector<std::wstring>& row, std::size_t column);

    std::string m_docName;
    std::string m_caption;
    std::string m_animation;
    std::string m_showValues;
    std::string m_canvasPadding;
    std::string m_chartLeftMargin;
    std::string m_chartRightMargin;
    std::string m_chartTopMargin;
    std::string m_chartBottomMargin;
    std::string m_numberSuffix;
    std::string m_showLegend;
    std::string m_legendBgAlpha;
    std::string m_canvasBgAlpha;
    std::string m_bgColor;
    std::string m_bgAlpha;
    std::string m_showBorder;
    std::string m_showCanvasBg;
    std::string m_showCanvasBase;
    std::string m_canvasBaseDepth;
    std::string m_canvasBorderAlpha;
    std::string m_showYAxisValues;
    std::string m_yAxisMinValue;
    std::string m_yAxisMaxValue;
    std::string m_lineThickness;
    std::string m_numDivLines;
    std::string m_formatNumberScale;

private:
    // The item's field of that name (the first, as a map lookup finds it); null when
    // the item is no map or has none.
    static const uie::value* Field(const uie::value& item, std::wstring_view key);

    std::mutex m_writeLock;
};
