// Values between page scripts and native code. undefined, null, booleans and texts map
// to their kinds; a number is an int when it is whole and in int32 range (not -0), else
// a float; a symbol is a symbol (Symbol.for(name)); an array an array; a Uint8Array (or
// any buffer) bytes; a plain object a map of its own enumerable properties in their
// order; a function a function value that can be called later (CallFunctionRef) and is
// released with its last copy; a native instance or a C++ function the value it stands
// for. Texts keep their UTF-16: a character outside the BMP is one wchar_t native-side
// and a surrogate pair script-side.
//
// Both directions may throw (ScriptHeap.h): call them in a protected call.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include <duktape.h>

#include "Value.h"

namespace uie::detail {

// What a script may hand to native code in one value, and native code to a script; more is
// a RangeError.
constexpr int kMaxValueDepth = 256;                          // arrays and maps inside one another
constexpr std::size_t kMaxTextChars = std::size_t{1} << 20;  // one text
constexpr std::size_t kMaxValueUnits = std::size_t{4} << 20;  // items and characters in all

void ReadValue(duk_context* ctx, duk_idx_t idx, value& out);
// ReadValue of a value that cannot make it throw (undefined, null, a boolean, a number or a
// text of at most kPlainTextBytes), so that it needs no protected call; nor do several,
// read one after the other, while together they stay within kMaxValueUnits. False, with
// nothing read, for any other value.
constexpr std::size_t kPlainTextBytes = std::size_t{16} << 10;
bool ReadPlainValue(duk_context* ctx, duk_idx_t idx, value& out);
// Pushes an undefined, null, boolean or number value, which cannot throw once there is room
// for it; false, with nothing pushed, for any other value or without room.
bool PushPlainValue(duk_context* ctx, const value& v);
// A text as a script string, made in Duktape's memory directly.
void PushText(duk_context* ctx, std::wstring_view s);
void PushValue(duk_context* ctx, const value& v);

// Texts as Duktape holds them (CESU-8: UTF-8 with surrogates encoded one by one), and back.
std::string ToScriptText(std::wstring_view s);
std::wstring FromScriptText(std::string_view s);

}  // namespace uie::detail
