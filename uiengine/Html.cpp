#include "internal/Html.h"

#include <algorithm>
#include <array>
#include <cwchar>

#include "Dom.h"
#include "Text.h"

namespace uie::detail {
namespace {

constexpr std::array kVoidTags{"area", "base", "br",    "col",   "embed",  "hr",    "img", "input",
                               "link", "meta", "param", "source", "track", "wbr", "frame"};
constexpr std::array kRawTextTags{"script", "style"};
// Opening one of these closes an open one of the same kind: <li>a<li>b.
constexpr std::array kSelfClosingSiblings{"li", "option", "p", "dt", "dd", "tr", "td", "th"};

template <std::size_t N>
bool In(const std::array<const char*, N>& set, std::string_view tag) {
    return std::any_of(set.begin(), set.end(), [tag](const char* t) { return tag == t; });
}

bool IsNameChar(wchar_t c) {
    return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || (c >= L'0' && c <= L'9') || c == L'-' ||
           c == L'_' || c == L':' || c == L'.';
}

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t' || c == L'\n' || c == L'\r' || c == L'\f'; }

std::string LowerAscii(std::wstring_view s) {
    std::string out;
    out.reserve(s.size());
    for (wchar_t c : s) {
        if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
        // Names are ASCII; anything else is kept as UTF-8 so it still compares.
        if (static_cast<std::uint32_t>(c) < 0x80) {
            out += static_cast<char>(c);
        } else {
            out += text::ToUtf8(std::wstring_view(&c, 1));
        }
    }
    return out;
}

std::wstring DecodeEntities(std::wstring_view s) {
    static const std::pair<std::wstring_view, wchar_t> kNamed[] = {
        {L"amp", L'&'}, {L"lt", L'<'},     {L"gt", L'>'},     {L"quot", L'"'},
        {L"apos", L'\''}, {L"nbsp", 0xA0}, {L"copy", 0xA9}, {L"reg", 0xAE},
    };
    std::wstring out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] != L'&') {
            out += s[i];
            continue;
        }
        std::size_t semi = s.find(L';', i + 1);
        if (semi == std::wstring_view::npos || semi - i > 12) {
            out += L'&';
            continue;
        }
        std::wstring_view name = s.substr(i + 1, semi - i - 1);
        bool done = false;
        if (name.size() > 1 && name[0] == L'#') {
            bool hex = name[1] == L'x' || name[1] == L'X';
            std::wstring digits(name.substr(hex ? 2 : 1));
            wchar_t* end = nullptr;
            unsigned long code = digits.empty() ? 0 : std::wcstoul(digits.c_str(), &end, hex ? 16 : 10);
            if (!digits.empty() && end != nullptr && *end == L'\0') {
                bool valid = code > 0 && code <= 0x10FFFF && !(code >= 0xD800 && code < 0xE000);
                out += valid ? static_cast<wchar_t>(code) : static_cast<wchar_t>(0xFFFD);
                done = true;
            }
        } else {
            for (const auto& [n, c] : kNamed) {
                if (n == name) {
                    out += c;
                    done = true;
                    break;
                }
            }
        }
        if (done) {
            i = semi;
        } else {
            out += L'&';
        }
    }
    return out;
}

class Parser {
public:
    explicit Parser(std::wstring text) : s_(std::move(text)) {
        holder_ = std::make_shared<Node>();
        stack_.push_back(holder_);
    }

    std::shared_ptr<Node> Run() {
        while (pos_ < s_.size()) {
            if (s_[pos_] == L'<' && Markup()) continue;
            Text();
        }
        return MakeRoot();
    }

private:
    Node& Top() { return *stack_.back(); }

    void Text() {
        std::size_t start = pos_;
        pos_ = s_.find(L'<', pos_ + 1);
        if (pos_ == std::wstring::npos) pos_ = s_.size();
        if (stack_.size() > 1) Top().text += DecodeEntities(std::wstring_view(s_).substr(start, pos_ - start));
    }

    void SkipPast(std::wstring_view end) {
        std::size_t at = s_.find(end, pos_);
        pos_ = at == std::wstring::npos ? s_.size() : at + end.size();
    }

    // Handles markup at '<'; false when the '<' is plain text.
    bool Markup() {
        std::wstring_view rest = std::wstring_view(s_).substr(pos_);
        if (rest.starts_with(L"<!--")) {
            pos_ += 4;
            SkipPast(L"-->");
            return true;
        }
        if (rest.starts_with(L"<!") || rest.starts_with(L"<?")) {
            SkipPast(L">");
            return true;
        }
        if (rest.size() > 2 && rest[1] == L'/' && IsNameChar(rest[2])) {
            pos_ += 2;
            EndTag(LowerAscii(Name()));
            SkipPast(L">");
            return true;
        }
        if (rest.size() > 1 && IsNameChar(rest[1])) {
            ++pos_;
            StartTag();
            return true;
        }
        return false;
    }

    std::wstring Name() {
        std::size_t start = pos_;
        while (pos_ < s_.size() && IsNameChar(s_[pos_])) ++pos_;
        return s_.substr(start, pos_ - start);
    }

    void EndTag(const std::string& tag) {
        for (std::size_t i = stack_.size(); i-- > 1;) {
            if (stack_[i]->tag == tag) {
                stack_.resize(i);
                return;
            }
        }
    }

    void StartTag() {
        auto node = std::make_shared<Node>();
        node->tag = LowerAscii(Name());
        bool selfClosed = Attributes(*node);
        while (stack_.size() > 1) {
            const std::string& top = Top().tag;
            bool sameKind = top == node->tag && In(kSelfClosingSiblings, top);
            bool cell = (node->tag == "td" || node->tag == "th" || node->tag == "tr") && (top == "td" || top == "th");
            if (!sameKind && !cell) break;
            stack_.pop_back();
        }
        node->parent = stack_.back();
        Top().children.push_back(node);
        if (selfClosed || In(kVoidTags, node->tag)) return;
        if (In(kRawTextTags, node->tag)) {
            // Script and style hold text up to their end tag, markup included.
            const std::string end = "</" + node->tag;
            std::size_t at = pos_;
            for (;; ++at) {
                at = s_.find(L"</", at);
                if (at == std::wstring::npos || LowerAscii(std::wstring_view(s_).substr(at, end.size())) == end) break;
            }
            std::size_t stop = at == std::wstring::npos ? s_.size() : at;
            node->line = LineAt(pos_);
            node->text = s_.substr(pos_, stop - pos_);
            pos_ = stop;
            if (at != std::wstring::npos) SkipPast(L">");
            return;
        }
        // An element at the deepest level stays empty and what would nest in it goes
        // beside it, so no page makes the tree's walks run deep. The engine has no log
        // to note such a page in.
        if (stack_.size() >= kMaxElementDepth) return;
        stack_.push_back(node);
    }

    // Reads attributes up to '>'; true for "/>".
    bool Attributes(Node& node) {
        for (;;) {
            while (pos_ < s_.size() && IsBlank(s_[pos_])) ++pos_;
            if (pos_ >= s_.size()) return false;
            if (s_[pos_] == L'>') {
                ++pos_;
                return false;
            }
            if (s_[pos_] == L'/') {
                ++pos_;
                if (pos_ < s_.size() && s_[pos_] == L'>') {
                    ++pos_;
                    return true;
                }
                continue;
            }
            std::size_t start = pos_;
            while (pos_ < s_.size() && !IsBlank(s_[pos_]) && s_[pos_] != L'=' && s_[pos_] != L'>' && s_[pos_] != L'/') {
                ++pos_;
            }
            if (pos_ == start) {  // a stray '=': skip it
                ++pos_;
                continue;
            }
            std::string name = LowerAscii(std::wstring_view(s_).substr(start, pos_ - start));
            std::wstring val;
            std::size_t save = pos_;
            while (pos_ < s_.size() && IsBlank(s_[pos_])) ++pos_;
            if (pos_ < s_.size() && s_[pos_] == L'=') {
                ++pos_;
                while (pos_ < s_.size() && IsBlank(s_[pos_])) ++pos_;
                val = AttributeValue();
            } else {
                pos_ = save;  // a boolean attribute
            }
            if (node.Attr(name) == nullptr) node.attrs.emplace_back(std::move(name), std::move(val));
        }
    }

    std::wstring AttributeValue() {
        if (pos_ < s_.size() && (s_[pos_] == L'"' || s_[pos_] == L'\'')) {
            wchar_t quote = s_[pos_++];
            std::size_t end = s_.find(quote, pos_);
            if (end == std::wstring::npos) end = s_.size();
            std::wstring v = DecodeEntities(std::wstring_view(s_).substr(pos_, end - pos_));
            pos_ = std::min(end + 1, s_.size());
            return v;
        }
        std::size_t start = pos_;
        while (pos_ < s_.size() && !IsBlank(s_[pos_]) && s_[pos_] != L'>') ++pos_;
        return DecodeEntities(std::wstring_view(s_).substr(start, pos_ - start));
    }

    // The line of a position, counting on from the last one asked (positions only grow).
    unsigned LineAt(std::size_t pos) {
        lines_ += static_cast<unsigned>(std::count(s_.begin() + static_cast<std::ptrdiff_t>(linesTo_),
                                                   s_.begin() + static_cast<std::ptrdiff_t>(pos), L'\n'));
        linesTo_ = pos;
        return lines_;
    }

    std::shared_ptr<Node> MakeRoot() {
        std::shared_ptr<Node> root;
        for (const auto& c : holder_->children) {
            if (c->tag == "html") {
                root = c;
                break;
            }
        }
        if (!root) {
            root = std::make_shared<Node>();
            root->tag = "html";
        }
        // Stray top-level elements go into the root, in their order.
        std::vector<std::shared_ptr<Node>> stray;
        for (const auto& c : holder_->children) {
            if (c != root) stray.push_back(c);
        }
        for (auto& c : stray) {
            c->parent = root;
            root->children.push_back(std::move(c));
        }
        root->parent.reset();
        return root;
    }

    std::wstring s_;
    std::size_t pos_ = 0;
    unsigned lines_ = 1;       // the line of linesTo_
    std::size_t linesTo_ = 0;
    std::shared_ptr<Node> holder_;
    std::vector<std::shared_ptr<Node>> stack_;
};

}  // namespace

std::shared_ptr<Node> ParseHtml(std::string_view bytes) {
    if (bytes.starts_with("\xEF\xBB\xBF")) bytes.remove_prefix(3);
    return Parser(text::FromUtf8(bytes)).Run();
}

}  // namespace uie::detail
