#include "DemoData.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <tinyxml.h>

namespace {

constexpr const char* kDefaultRefusal = "-1|refused";

std::string Attr(const TiXmlElement& element, const char* name) {
    const char* value = element.Attribute(name);
    return value != nullptr ? value : "";
}

std::string TextOf(const TiXmlElement& element) {
    const char* text = element.GetText();
    return text != nullptr ? text : "";
}

// A whole decimal or 0x-hex number; false for anything else.
bool ParseNumber(const std::string& text, long& out) {
    if (text.empty()) return false;
    char* end = nullptr;
    errno = 0;
    out = std::strtol(text.c_str(), &end, 0);
    return errno == 0 && end == text.c_str() + text.size();
}

std::string Place(const TiXmlBase& node) {
    return std::to_string(node.Row()) + ":" + std::to_string(node.Column());
}

bool AllDigits(const std::string& s) {
    return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

}  // namespace

bool WalkPlaceholders(const std::string& text, const std::function<void(const std::string&)>& literal,
                      const std::function<bool(const std::string&)>& placeholder) {
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t open = text.find('{', at);
        literal(text.substr(at, open - at));
        if (open == std::string::npos) return true;
        const std::size_t close = text.find('}', open);
        if (close == std::string::npos || !placeholder(text.substr(open + 1, close - open - 1))) return false;
        at = close + 1;
    }
    return true;
}

bool DemoData::IsRequestPlaceholder(const std::string& name) {
    if (name == "today" || name == "now" || name == "date") return true;
    if (name.rfind("today+", 0) == 0 || name.rfind("today-", 0) == 0) return AllDigits(name.substr(6));
    return name.rfind("req:", 0) == 0 && AllDigits(name.substr(4)) && name.substr(4) != "0";
}

bool DemoData::Load(const std::string& file, std::string& error) {
    *this = DemoData();
    errorAt_ = nullptr;
    TiXmlDocument document;
    if (!document.LoadFile(file.c_str(), TIXML_ENCODING_UTF8)) {
        // A file that cannot be opened has no place in it.
        error = document.ErrorRow() > 0 ? file + ":" + std::to_string(document.ErrorRow()) + ":" +
                                              std::to_string(document.ErrorCol()) + ": " + document.ErrorDesc()
                                        : file + ": cannot be read";
        return false;
    }
    const TiXmlElement* root = document.RootElement();
    if (root == nullptr || std::string(root->Value()) != "demo") {
        error = file + ":" + (root != nullptr ? Place(*root) : std::string("1:1")) + ": the document's root is not <demo>";
        return false;
    }
    account_ = Attr(*root, "account");
    password_ = Attr(*root, "password");
    names_ = {{"account", account_}, {"password", password_}};
    std::string what;
    for (const TiXmlElement* e = root->FirstChildElement(); e != nullptr; e = e->NextSiblingElement()) {
        const std::string tag = e->Value();
        bool ok = true;
        if (tag == "text") {
            ok = ReadText(*e, what);
        } else if (tag == "command") {
            ok = ReadCommand(*e, what);
        } else if (tag == "articles") {
            ok = ReadArticles(*e, what);
        } else {
            what = "unknown element <" + tag + ">";
            ok = false;
        }
        if (!ok) {
            error = file + ":" + Place(errorAt_ != nullptr ? *errorAt_ : *e) + ": " + what;
            return false;
        }
    }
    return true;
}

bool DemoData::ReadText(const TiXmlElement& element, std::string& what) {
    std::string expanded;
    if (!ExpandNames(TextOf(element), expanded, what)) return false;
    const std::string name = Attr(element, "name");
    if (name.empty() || !names_.emplace(name, expanded).second) {
        what = "<text> without a name of its own";
        return false;
    }
    return true;
}

bool DemoData::ReadCommand(const TiXmlElement& element, std::string& what) {
    DemoCommand command;
    long id = 0;
    if (!ParseNumber(Attr(element, "id"), id) || id <= 0 || id > 0xFFFF || Find(static_cast<std::uint16_t>(id))) {
        what = "command id \"" + Attr(element, "id") + "\" is no new number in 1..0xFFFF";
        return false;
    }
    command.id = static_cast<std::uint16_t>(id);
    // The request log's line; it may show request fields ("login [{req:1}]").
    if (!ExpandNames(Attr(element, "name"), command.name, what)) return false;
    if (!ReadPick(element, command, what) || !ReadRequire(element, command, what)) return false;
    const std::string refusal = element.Attribute("refuse") != nullptr ? Attr(element, "refuse") : kDefaultRefusal;
    if (!ExpandNames(refusal, command.refusal.rows.emplace_back(), what)) return false;
    for (const TiXmlElement* r = element.FirstChildElement(); r != nullptr; r = r->NextSiblingElement()) {
        errorAt_ = r;
        if (std::string(r->Value()) != "reply") {
            what = "a command holds <reply> elements only";
            return false;
        }
        if (!ReadReply(*r, command.replies.emplace_back(), what)) return false;
    }
    errorAt_ = nullptr;
    if (command.replies.empty() || (command.pick == DemoCommand::Pick::First && command.replies.size() > 1)) {
        what = "command " + Attr(element, "id") + " needs one <reply>, or a pick among several";
        return false;
    }
    commands_.push_back(std::move(command));
    return true;
}

bool DemoData::ReadPick(const TiXmlElement& element, DemoCommand& command, std::string& what) const {
    const std::string pick = Attr(element, "pick");
    if (pick.empty()) return true;
    long field = 0;
    command.pick = pick == "after" ? DemoCommand::Pick::After : DemoCommand::Pick::Match;
    if ((pick != "after" && pick != "match") || !ParseNumber(Attr(element, "field"), field) || field < 1) {
        what = "pick must be \"after\" or \"match\", with a request field from 1";
        return false;
    }
    command.pickField = static_cast<int>(field);
    return true;
}

// require="1={account};2={password}": request fields that must hold those texts.
bool DemoData::ReadRequire(const TiXmlElement& element, DemoCommand& command, std::string& what) const {
    std::string require;
    if (!ExpandNames(Attr(element, "require"), require, what)) return false;
    for (std::size_t start = 0; start < require.size();) {
        const std::size_t end = std::min(require.find(';', start), require.size());
        const std::string item = require.substr(start, end - start);
        const std::size_t equals = item.find('=');
        long field = 0;
        if (equals == std::string::npos || !ParseNumber(item.substr(0, equals), field) || field < 1) {
            what = "require item \"" + item + "\" is not <field>=<text>";
            return false;
        }
        command.require.emplace_back(static_cast<int>(field), item.substr(equals + 1));
        start = end + 1;
    }
    return true;
}

bool DemoData::ReadReply(const TiXmlElement& element, DemoReplyText& reply, std::string& what) {
    what.clear();
    const std::string key = Attr(element, "key");
    if (!key.empty() && !ParseNumber(key, reply.key)) {
        what = "key \"" + key + "\" is no number";
        return false;
    }
    const std::string separator = Attr(element, "sep");
    if (!separator.empty()) {
        if (separator.size() != 1) {
            what = "sep must be one character";
            return false;
        }
        reply.separator = separator.front();
    }
    const TiXmlElement* row = element.FirstChildElement();
    if (row == nullptr) return ExpandNames(TextOf(element), reply.rows.emplace_back(), what);
    reply.rowed = true;
    for (; row != nullptr; row = row->NextSiblingElement()) {
        errorAt_ = row;
        if (std::string(row->Value()) != "row") {
            what = "a reply holds text or <row> elements";
            return false;
        }
        if (!ExpandNames(TextOf(*row), reply.rows.emplace_back(), what)) return false;
    }
    errorAt_ = &element;
    return true;
}

bool DemoData::ReadArticles(const TiXmlElement& element, std::string& what) {
    DemoArticleKind kind{Attr(element, "bussID"), Attr(element, "table"), Attr(element, "key"), Attr(element, "title")};
    long count = 0;
    if (kind.bussID.empty() || kind.table.empty() || kind.keyColumn.empty() ||
        !ParseNumber(Attr(element, "count"), count) || count < 0 || count > 1000) {
        what = "articles need bussID, table, key and a count in 0..1000";
        return false;
    }
    kind.count = static_cast<int>(count);
    articles_.push_back(std::move(kind));
    return true;
}

bool DemoData::ExpandNames(const std::string& in, std::string& out, std::string& what) const {
    out.clear();
    what.clear();
    const bool closed = WalkPlaceholders(
        in, [&out](const std::string& piece) { out += piece; },
        [&](const std::string& name) {
            if (const auto it = names_.find(name); it != names_.end()) {
                out += it->second;
            } else if (IsRequestPlaceholder(name)) {
                out += "{" + name + "}";  // filled when the request comes
            } else {
                what = "unknown placeholder {" + name + "}";
                return false;
            }
            return true;
        });
    if (!closed && what.empty()) what = "a '{' without its '}'";  // else the unknown name
    return closed;
}

const DemoCommand* DemoData::Find(std::uint16_t id) const {
    const auto it = std::find_if(commands_.begin(), commands_.end(), [id](const DemoCommand& c) { return c.id == id; });
    return it != commands_.end() ? &*it : nullptr;
}
