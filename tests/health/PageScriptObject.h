// A native script object as a page sees it on a VM: its methods called and its properties
// read, each call expected to be accepted.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "EngineTest.h"
#include "Text.h"

class PageScriptObject {
protected:
    PageScriptObject(HVM vm, const char* object) : scriptVm_(vm), object_(object) {}

    uie::value Call(const char* method, std::vector<uie::value> args = {}) {
        const uie::test::CallResult r = uie::test::CallNative(scriptVm_, object_, method, std::move(args));
        EXPECT_TRUE(r.ok) << method << " " << text::ToUtf8(r.error);
        return r.result;
    }
    uie::value Get(const char* property) {
        const uie::test::CallResult r = uie::test::GetProperty(scriptVm_, object_, property);
        EXPECT_TRUE(r.ok) << property;
        return r.result;
    }
    static uie::value Array(std::vector<uie::value> items) { return uie::value::make_array(items); }
    static uie::value Map(std::vector<std::pair<const wchar_t*, uie::value>> members) {
        uie::value m = uie::value::make_map();
        for (const auto& [key, v] : members) m.set_item(uie::value(key), v);
        return m;
    }

private:
    HVM scriptVm_;
    const char* object_;
};
