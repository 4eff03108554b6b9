// What the demo server answers, read from its data file: one XML document that holds the
// account, named texts, one reply (or rows, or a choice of replies) per command and the
// articles of the HTTP synchronisation. See demo.xml for the format.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include <functional>

class TiXmlBase;
class TiXmlElement;

// Walks a text of the data file: literal gets the text between placeholders, placeholder
// each placeholder's name without its braces, in order; false (after the text before it)
// when a '{' has no '}'.
bool WalkPlaceholders(const std::string& text, const std::function<void(const std::string&)>& literal,
                      const std::function<bool(const std::string&)>& placeholder);

// One reply of a command: its fields (or rows of fields) as written, named texts already
// put in; the request and date placeholders stay for the moment of the request.
struct DemoReplyText {
    long key = 0;                   // what a choice by request field compares with
    char separator = '|';           // between the fields in the file
    std::vector<std::string> rows;  // one for a plain reply
    bool rowed = false;             // written as <row> elements: each row ends with the record mark
};

struct DemoCommand {
    enum class Pick {
        First,  // the one reply
        After,  // the first reply whose key is above the request field
        Match,  // the reply whose key equals the request field
    };
    std::uint16_t id = 0;
    std::string name;               // the request log's line, placeholders and all
    Pick pick = Pick::First;
    int pickField = 0;              // the request field a choice reads, from 1
    std::vector<std::pair<int, std::string>> require;  // request field n must be this text
    DemoReplyText refusal;          // when no reply fits or a requirement fails
    std::vector<DemoReplyText> replies;
};

struct DemoArticleKind {
    std::string bussID;
    std::string table;
    std::string keyColumn;
    std::string title;  // followed by the article's number
    int count = 0;      // numbers 1 to count
};

class DemoData {
public:
    // false, with error "<file>:<row>:<column>: <what is wrong>", when the file cannot be
    // read, does not parse or holds something the server cannot answer with.
    bool Load(const std::string& file, std::string& error);

    // Null for a command the file does not know.
    const DemoCommand* Find(std::uint16_t id) const;
    const std::vector<DemoCommand>& Commands() const { return commands_; }
    const std::vector<DemoArticleKind>& Articles() const { return articles_; }
    const std::string& Account() const { return account_; }
    const std::string& Password() const { return password_; }

    // The placeholders a reply may hold when the request comes, without braces.
    static bool IsRequestPlaceholder(const std::string& name);

private:
    bool ReadText(const TiXmlElement& element, std::string& what);
    bool ReadCommand(const TiXmlElement& element, std::string& what);
    bool ReadPick(const TiXmlElement& element, DemoCommand& command, std::string& what) const;
    bool ReadRequire(const TiXmlElement& element, DemoCommand& command, std::string& what) const;
    bool ReadReply(const TiXmlElement& element, DemoReplyText& reply, std::string& what);
    bool ReadArticles(const TiXmlElement& element, std::string& what);
    // Puts the named texts in; false for an unknown or unclosed placeholder.
    bool ExpandNames(const std::string& in, std::string& out, std::string& what) const;

    // The innermost element of a failed read, so that the error names its place.
    const TiXmlBase* errorAt_ = nullptr;
    std::string account_;
    std::string password_;
    std::map<std::string, std::string> names_;
    std::vector<DemoCommand> commands_;
    std::vector<DemoArticleKind> articles_;
};
