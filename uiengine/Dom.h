// Elements of a loaded page. Results are DomResult codes; every out parameter is
// cleared first, so a failed call never leaves a stale handle behind.
//
// Headless conventions: an element's rectangle comes from its attribute
// data-rect="left,top,right,bottom" (window client coordinates, 32-bit numbers as in
// a Windows RECT; all 0 when absent or unreadable).
// Elements nest at most kMaxElementDepth below their document's root; the parser
// makes deeper ones siblings at that depth.
//
// Selectors: type, *, #id, .class, [a], [a=v], [a="v"], the pseudo-classes :root
// (the element the selection starts from), :current, :expanded, :collapsed, :focus,
// :hover, :checked, the descendant and ">" combinators and comma lists. Selection
// stays in the document it starts in and never enters a frame's document.
#pragma once

#include <string>
#include <vector>

#include "EngineConstants.h"
#include "Window.h"

namespace uie {
// Bounds the walks of a document's tree, whatever the page.
constexpr unsigned kMaxElementDepth = 512;
// Called per selected element in document order; TRUE stops the selection.
using ElementCallback = BOOL (*)(HELEMENT he, void* param);
}  // namespace uie

DomResult SciterGetRootElement(HWND hwnd, HELEMENT* out);
DomResult SciterSelectElements(HELEMENT he, const char* selector, uie::ElementCallback callback, void* param);
// An index past the last child gives DOM_INVALID_PARAMETER. A frame element has one
// child: the root of the frame's document.
DomResult SciterGetNthChild(HELEMENT he, UINT n, HELEMENT* out);
DomResult SciterGetChildrenCount(HELEMENT he, UINT* count);
// The root of a page has no parent (DOM_OK, null); a frame document's root has its frame.
DomResult SciterGetParentElement(HELEMENT he, HELEMENT* out);
// The element itself or its nearest ancestor in the same document matching the
// selector; `depth` limits how many are tried, the element itself being the first
// (0: no limit). DOM_OK with null when none matches.
DomResult SciterSelectParent(HELEMENT he, const char* selector, UINT depth, HELEMENT* out);
DomResult SciterGetElementIndex(HELEMENT he, UINT* index);
// areas: AREA_VIEW or AREA_SELF.
DomResult SciterGetElementLocation(HELEMENT he, RECT* location, UINT areas);
// DOM_NOT_FOUND when the element has no such attribute. Names ignore case.
DomResult SciterGetAttributeByName(HELEMENT he, const char* name, std::wstring* out);
// A null value removes the attribute.
DomResult SciterSetAttributeByName(HELEMENT he, const char* name, const wchar_t* value);
DomResult SciterGetElementState(HELEMENT he, UINT* state);
// Clears then sets the bits. Setting STATE_FOCUS takes it from every other element of
// the window. `update` counts a repaint of the element.
DomResult SciterSetElementState(HELEMENT he, UINT bitsToSet, UINT bitsToClear, BOOL update);
DomResult SciterUpdateElement(HELEMENT he, BOOL force);
// Holds the element alive after its document is replaced or its window destroyed;
// each Use needs one Unuse. A held element that lost its document keeps its own
// attributes, state and children (they can be read and changed), while operations that
// need its document or window (selection, parents, location, events, page calls)
// fail with DOM_INVALID_HANDLE.
DomResult Sciter_UseElement(HELEMENT he);
DomResult Sciter_UnuseElement(HELEMENT he);

namespace uie {
// Selected elements in document order; empty also for a bad selector or handle.
std::vector<HELEMENT> Select(HELEMENT scope, const char* selector);
// Lower-case tag name; empty for a bad handle.
std::string ElementTag(HELEMENT he);
// The element's own text, entities decoded.
std::wstring ElementText(HELEMENT he);
// The window showing the element's document; null for a bad or detached handle.
HWND ElementWindow(HELEMENT he);
// The URI of the element's document.
std::wstring ElementDocumentUri(HELEMENT he);
}  // namespace uie
