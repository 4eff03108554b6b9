// A page as the engine loads it for a window. The host's load-data callback hands the
// input over for the page and for every frame, script and style it names, so nothing is
// read from disk and a page framing pages is as hostile as the page itself. Then the
// program's own selectors and the element operations run over the result, frames
// included.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "Dom.h"
#include "FuzzSupport.h"
#include "Loader.h"
#include "Window.h"

namespace {

const std::uint8_t* g_data = nullptr;
std::size_t g_size = 0;

// The selectors the program's windows and tabs use, and one of each other kind.
constexpr const char* kSelectors[] = {
    "#window-caption", "#window-close", ":focus", ":root>.strip>[panel][selected]", ":root>.strip>[panel]:current",
    ":root>[name]:expanded", "div p", "body > div[id]", "*", "a[href], img[src=\"x\"]", ".tab.current", "li :checked",
};

UINT OnNotify(uie::Notification* notification, void*) {
    if (notification->code == SC_LOAD_DATA) {
        const auto* load = static_cast<uie::LoadDataNotice*>(notification);
        SciterDataReady(load->hwnd, load->uri, g_data, static_cast<UINT>(g_size));
    }
    return LOAD_DEFAULT;
}

HWND PageWindow() {
    static const HWND hwnd = [] {
        WNDCLASSEXW wc{};
        wc.cbSize = sizeof wc;
        wc.lpfnWndProc = DefWindowProcW;
        wc.lpszClassName = L"FuzzPage";
        RegisterClassExW(&wc);
        HWND made = CreateWindowExW(0, L"FuzzPage", L"", 0, 0, 0, 100, 100, nullptr, nullptr, nullptr, nullptr);
        fuzz::Require(made != nullptr && SciterSetCallback(made, OnNotify, nullptr), "no page window");
        return made;
    }();
    return hwnd;
}

void Inspect(HELEMENT he) {
    std::wstring value;
    SciterGetAttributeByName(he, "id", &value);
    SciterGetAttributeByName(he, "CLASS", &value);
    RECT rect{};
    SciterGetElementLocation(he, &rect, AREA_VIEW);
    SciterGetElementLocation(he, &rect, AREA_SELF);
    UINT number = 0;
    SciterGetElementIndex(he, &number);
    SciterGetElementState(he, &number);
    HELEMENT found = nullptr;
    SciterSelectParent(he, "div", 0, &found);
    SciterGetParentElement(he, &found);
    uie::ElementTag(he);
    uie::ElementText(he);
}

// The selectors from the root of each document: the page's and each frame's.
void Select(HELEMENT root) {
    for (const char* selector : kSelectors) {
        for (HELEMENT he : uie::Select(root, selector)) fuzz::Require(he != nullptr, "a null element selected");
    }
}

void VisitAll(HELEMENT root) {
    std::vector<HELEMENT> pending{root};
    Select(root);
    while (!pending.empty()) {
        HELEMENT he = pending.back();
        pending.pop_back();
        Inspect(he);
        UINT count = 0;
        SciterGetChildrenCount(he, &count);
        const bool frame = uie::ElementTag(he) == "frame" || uie::ElementTag(he) == "iframe";
        for (UINT n = 0; n < count; ++n) {
            HELEMENT child = nullptr;
            fuzz::Require(SciterGetNthChild(he, n, &child) == DOM_OK && child != nullptr, "a counted child missing");
            if (frame) Select(child);
            pending.push_back(child);
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    fuzz::EnterWorkDir(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    g_data = data;
    g_size = size;
    const HWND hwnd = PageWindow();
    fuzz::Require(SciterLoadFile(hwnd, L"/fuzz/page.htm") != FALSE, "a page handed over was not loaded");
    HELEMENT root = nullptr;
    fuzz::Require(SciterGetRootElement(hwnd, &root) == DOM_OK && root != nullptr, "a loaded page without a root");
    SciterGetMinWidth(hwnd);
    SciterGetMinHeight(hwnd, 100);
    VisitAll(root);
    // An empty page in its place frees it, so what an input leaves allocated is a leak.
    g_size = 0;
    SciterLoadFile(hwnd, L"/fuzz/blank.htm");
    return 0;
}
