#include "internal/Selector.h"

#include <cwctype>

#include "EngineConstants.h"
#include "Text.h"

namespace uie::detail {
namespace {

struct PseudoClass {
    std::string_view name;
    UINT state;
};
constexpr PseudoClass kPseudoClasses[] = {
    {"current", STATE_CURRENT}, {"expanded", STATE_EXPANDED}, {"collapsed", STATE_COLLAPSED},
    {"focus", STATE_FOCUS},     {"hover", STATE_HOVER},       {"checked", STATE_CHECKED},
};

bool IsIdentChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_' ||
           static_cast<unsigned char>(c) >= 0x80;
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f'; }

std::string Lower(std::string s) {
    for (char& c : s) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return s;
}

class SelectorParser {
public:
    explicit SelectorParser(std::string_view s) : s_(s) {}

    std::optional<SelectorList> Run() {
        SelectorList list;
        for (;;) {
            Complex complex;
            if (!ParseComplex(complex)) return std::nullopt;
            list.push_back(std::move(complex));
            SkipBlanks();
            if (pos_ == s_.size()) return list;
            if (s_[pos_] != ',') return std::nullopt;
            ++pos_;
        }
    }

private:
    void SkipBlanks() {
        while (pos_ < s_.size() && IsBlank(s_[pos_])) ++pos_;
    }

    std::string Ident() {
        std::size_t start = pos_;
        while (pos_ < s_.size() && IsIdentChar(s_[pos_])) ++pos_;
        return std::string(s_.substr(start, pos_ - start));
    }

    bool ParseComplex(Complex& out) {
        SkipBlanks();
        for (;;) {
            Compound compound;
            if (!ParseCompound(compound)) return false;
            out.parts.push_back(std::move(compound));
            std::size_t before = pos_;
            SkipBlanks();
            if (pos_ == s_.size() || s_[pos_] == ',') return true;
            if (s_[pos_] == '>') {
                ++pos_;
                SkipBlanks();
                out.combinators.push_back('>');
            } else if (pos_ > before) {
                out.combinators.push_back(' ');
            } else {
                return false;
            }
        }
    }

    bool ParseCompound(Compound& out) {
        bool any = false;
        if (pos_ < s_.size() && s_[pos_] == '*') {
            ++pos_;
            any = true;
        } else if (pos_ < s_.size() && IsIdentChar(s_[pos_])) {
            out.tag = Lower(Ident());
            any = true;
        }
        while (pos_ < s_.size()) {
            char c = s_[pos_];
            if (c == '#' || c == '.') {
                ++pos_;
                std::string name = Ident();
                if (name.empty()) return false;
                (c == '#' ? out.ids : out.classes).push_back(text::FromUtf8(name));
            } else if (c == '[') {
                ++pos_;
                if (!ParseAttribute(out)) return false;
            } else if (c == ':') {
                ++pos_;
                std::string name = Lower(Ident());
                if (name == "root") {
                    out.root = true;
                } else {
                    bool known = false;
                    for (const auto& p : kPseudoClasses) {
                        if (p.name == name) {
                            out.states |= p.state;
                            known = true;
                        }
                    }
                    if (!known) return false;
                }
            } else {
                break;
            }
            any = true;
        }
        return any;
    }

    bool ParseAttribute(Compound& out) {
        SkipBlanks();
        AttributeTest test;
        test.name = Lower(Ident());
        if (test.name.empty()) return false;
        SkipBlanks();
        if (pos_ < s_.size() && s_[pos_] == '=') {
            ++pos_;
            SkipBlanks();
            std::string v;
            if (pos_ < s_.size() && (s_[pos_] == '"' || s_[pos_] == '\'')) {
                char quote = s_[pos_++];
                for (;;) {
                    if (pos_ >= s_.size()) return false;
                    char c = s_[pos_++];
                    if (c == quote) break;
                    if (c == '\\' && pos_ < s_.size()) c = s_[pos_++];
                    v += c;
                }
            } else {
                v = Ident();
                if (v.empty()) return false;
            }
            test.value = text::FromUtf8(v);
            SkipBlanks();
        }
        if (pos_ >= s_.size() || s_[pos_] != ']') return false;
        ++pos_;
        out.attributes.push_back(std::move(test));
        return true;
    }

    std::string_view s_;
    std::size_t pos_ = 0;
};

bool HasClass(const Node& node, std::wstring_view cls) {
    const std::wstring* attr = node.Attr("class");
    if (attr == nullptr) return false;
    std::wstring_view all = *attr;
    std::size_t i = 0;
    while (i < all.size()) {
        while (i < all.size() && std::iswspace(all[i])) ++i;
        std::size_t start = i;
        while (i < all.size() && !std::iswspace(all[i])) ++i;
        if (i > start && all.substr(start, i - start) == cls) return true;
    }
    return false;
}

bool MatchCompound(const Compound& c, const Node& node, const Node& scope) {
    if (!c.tag.empty() && c.tag != node.tag) return false;
    if (c.root && &node != &scope) return false;
    if ((node.state & c.states) != c.states) return false;
    for (const auto& id : c.ids) {
        const std::wstring* v = node.Attr("id");
        if (v == nullptr || *v != id) return false;
    }
    for (const auto& cls : c.classes) {
        if (!HasClass(node, cls)) return false;
    }
    for (const auto& a : c.attributes) {
        const std::wstring* v = node.Attr(a.name);
        if (v == nullptr || (a.value && *v != *a.value)) return false;
    }
    return true;
}

std::shared_ptr<Node> ParentInDocument(const Node& node) {
    auto p = node.parent.lock();
    return p && p->doc == node.doc ? p : nullptr;
}

// Does parts[0..index] match with parts[index] on `node`?
bool MatchFrom(const Complex& cx, std::size_t index, const Node& node, const Node& scope) {
    if (!MatchCompound(cx.parts[index], node, scope)) return false;
    if (index == 0) return true;
    char comb = cx.combinators[index - 1];
    auto p = ParentInDocument(node);
    if (comb == '>') return p && MatchFrom(cx, index - 1, *p, scope);
    for (; p; p = ParentInDocument(*p)) {
        if (MatchFrom(cx, index - 1, *p, scope)) return true;
    }
    return false;
}

}  // namespace

std::optional<SelectorList> ParseSelector(std::string_view text) { return SelectorParser(text).Run(); }

bool Matches(const SelectorList& list, const Node& node, const Node& scope) {
    for (const auto& cx : list) {
        if (MatchFrom(cx, cx.parts.size() - 1, node, scope)) return true;
    }
    return false;
}

}  // namespace uie::detail
