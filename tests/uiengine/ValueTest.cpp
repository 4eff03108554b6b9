#include "Value.h"

#include <gtest/gtest.h>

using uie::value;

namespace {

TEST(ValueJson, RoundTripKeepsKeyOrderAndNumberKinds) {
    const std::wstring text =
        L"{\"b\":1,\"a\":2.0,\"c\":[1,2.5,\"x\\\"y\",true,null],\"d\":{\"z\":0,\"y\":-1500.0}}";
    std::wstring error;
    auto v = value::from_json(text, &error);
    ASSERT_TRUE(v) << error;
    ASSERT_TRUE(v->is_map());
    ASSERT_EQ(v->length(), 4u);
    EXPECT_EQ(v->map_ptr()->at(0).first, value(L"b"));
    EXPECT_EQ(v->map_ptr()->at(1).first, value(L"a"));
    EXPECT_TRUE(v->get_item(L"b").is_int());
    EXPECT_TRUE(v->get_item(L"a").is_float());
    EXPECT_TRUE(v->get_item(L"d").get_item(L"z").is_int());
    EXPECT_EQ(v->get_item(L"c").nth(2), value(L"x\"y"));

    EXPECT_EQ(v->to_json(), text);
    EXPECT_EQ(value::from_json(v->to_json()), v);
}

TEST(ValueJson, ReadsEscapesAndWhitespace) {
    auto v = value::from_json(L" [ \"\\u4e2d\\ud83d\\ude00\\n\" , -0.5e1 , 2147483648 ] ");
    ASSERT_TRUE(v);
    EXPECT_EQ(v->nth(0), value(std::wstring{L'\x4e2d', static_cast<wchar_t>(0x1F600), L'\n'}));
    EXPECT_EQ(v->nth(1), value(-5.0));
    // Beyond 32 bits an integer can only be kept as a float.
    EXPECT_TRUE(v->nth(2).is_float());
}

TEST(ValueJson, ReportsParseFailures) {
    for (const wchar_t* bad : {L"", L"{\"a\":1,}", L"[1 2]", L"\"open", L"{a:1}", L"tru", L"1.", L"[1]x"}) {
        std::wstring error;
        EXPECT_FALSE(value::from_json(bad, &error)) << bad;
        EXPECT_FALSE(error.empty()) << bad;
    }
}

TEST(Value, CopiesOfArraysAndMapsAreDeep) {
    value inner = value::make_map();
    inner.set_item(L"k", value(1));
    value a = value::make_array({inner, value(L"s")});
    value b = a;
    value changed = b.nth(0);
    changed.set_item(L"k", value(2));
    b.set_nth(0, changed);
    EXPECT_EQ(a.nth(0).get_item(L"k"), value(1));
    EXPECT_EQ(b.nth(0).get_item(L"k"), value(2));
}

TEST(Value, MapReplacesInPlaceAndArrayGrows) {
    value m;
    m.set_item(L"x", value(1));
    m.set_item(L"y", value(2));
    m.set_item(L"x", value(3));
    EXPECT_EQ(m.to_json(), L"{\"x\":3,\"y\":2}");

    value a;
    EXPECT_TRUE(a.set_nth(2, value(true)));
    EXPECT_EQ(a.to_json(), L"[null,null,true]");
    EXPECT_FALSE(value(5).set_item(L"k", value(1)));  // not a container
}

// Keys shared by interning and appended without a search make the map set_item makes.
TEST(Value, InternedKeysAndAppendedEntriesReadAsOrdinaryOnes) {
    value made;
    made.set_item(L"name", value(L"x"));
    made.set_item(L"n", value(1));
    value appended = value::make_map();
    appended.reserve(2);
    EXPECT_TRUE(appended.append_item(value::interned(L"name"), value(L"x")));
    EXPECT_TRUE(appended.append_item(value::interned(L"n"), value(1)));
    EXPECT_EQ(appended, made);
    EXPECT_EQ(appended.to_json(), made.to_json());
    EXPECT_EQ(appended.get_item(L"name"), value(L"x"));
    const value key = value::interned(L"name");
    EXPECT_TRUE(key.is_string());
    EXPECT_EQ(key.get_string(), L"name");
    EXPECT_EQ(key, value(L"name"));
    EXPECT_NE(key, value::symbol(L"name"));
    EXPECT_FALSE(value(5).append_item(value::interned(L"k"), value(1)));  // not a container
}

TEST(Value, SimpleTextAndIntReading) {
    EXPECT_EQ(value::make_array({value(1), value(L"a"), value(2.5), value(false)}).to_string(), L"1,a,2.5,false");
    EXPECT_EQ(value().to_string(), L"undefined");

    EXPECT_EQ(uie::as_int_or0(value(7)), 7);
    EXPECT_EQ(uie::as_int_or0(value(2.9)), 2);
    EXPECT_EQ(uie::as_int_or0(value(-2.9)), -2);
    EXPECT_EQ(uie::as_int_or0(value(1e12)), 0);
    EXPECT_EQ(uie::as_int_or0(value(L"7")), 0);
    EXPECT_EQ(uie::as_int_or0(value()), 0);
}

TEST(ValueFunctions, ReadAndWriteThroughTheEngineOperations) {
    VALUE v;
    ValueInit(&v);
    EXPECT_EQ(ValueStringDataSet(&v, L"hello world", 5, 0), VALUE_OK);
    const wchar_t* chars = nullptr;
    UINT n = 0;
    ASSERT_EQ(ValueStringData(&v, &chars, &n), VALUE_OK);
    EXPECT_EQ(std::wstring(chars, n), L"hello");

    int i = 0;
    EXPECT_EQ(ValueIntData(&v, &i), VALUE_INCOMPATIBLE_TYPE);
    ValueIntDataSet(&v, 1, uie::VT_BOOL, 0);
    ASSERT_EQ(ValueIntData(&v, &i), VALUE_OK);
    EXPECT_EQ(i, 1);

    VALUE list, item(42), out;
    EXPECT_EQ(ValueNthElementValueSet(&list, 1, &item), VALUE_OK);
    int count = 0;
    ValueElementsCount(&list, &count);
    EXPECT_EQ(count, 2);
    EXPECT_EQ(ValueNthElementValue(&list, 1, &out), VALUE_OK);
    EXPECT_EQ(out, item);
    EXPECT_EQ(ValueNthElementValue(&list, 2, &out), VALUE_BAD_PARAMETER);

    VALUE map, key(L"k"), missing(L"m");
    ValueSetValueToKey(&map, &key, &item);
    EXPECT_EQ(ValueGetValueOfKey(&map, &key, &out), VALUE_OK);
    EXPECT_EQ(out, item);
    EXPECT_EQ(ValueGetValueOfKey(&map, &missing, &out), VALUE_OK);
    EXPECT_TRUE(out.is_undefined());

    ValueToString(&list, TO_STRING_JSON);
    EXPECT_EQ(list, value(L"[null,42]"));
}

}  // namespace
