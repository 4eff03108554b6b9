#include "DemoArticleSync.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <map>

namespace {

std::string XmlAttribute(const std::string& s) {
    std::string out;
    for (const char c : s) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            default: out += c;
        }
    }
    return out;
}

// Texts of the data file go into SQL between quotes.
std::string SqlText(const std::string& s) {
    std::string out;
    for (const char c : s) out += c == '\'' ? std::string("''") : std::string(1, c);
    return out;
}

int NumberOf(const std::map<std::string, std::string>& form, const char* key) {
    const auto it = form.find(key);
    int n = -1;
    if (it != form.end()) std::from_chars(it->second.data(), it->second.data() + it->second.size(), n);
    return n;
}

std::string InsertRow(const DemoArticleKind& kind, int n) {
    const std::string number = std::to_string(n);
    return "insert into " + kind.table + " (" + kind.keyColumn +
           ", articleType, title, simpleTitle, sourceNote, pubTime, status) values (" + number + ", 1, '" +
           SqlText(kind.title) + " " + number + "', '" + SqlText(kind.title) +
           "', 'demo server', datetime('now','localtime'), '1')";
}

}  // namespace

HttpReply DemoArticleSync::Answer(const HttpRequest& request) const {
    const std::map<std::string, std::string> form = DecodeForm(request.body);
    const auto field = [&form](const char* key) {
        const auto it = form.find(key);
        return it != form.end() ? it->second : std::string();
    };
    const std::string bussID = field("bussID");
    const int minNo = NumberOf(form, "minNo");
    std::printf("demo server: article sync [%s] after %d\n", bussID.c_str(), minNo);
    std::fflush(stdout);
    const auto& kinds = data_.Articles();
    const auto kind = std::find_if(kinds.begin(), kinds.end(), [&](const DemoArticleKind& k) { return k.bussID == bussID; });
    const bool known = kind != kinds.end() && field("loginAccount") == data_.Account() &&
                       field("loginPassword") == data_.Password();
    std::string rows;
    int count = 0;
    for (int n = std::max(minNo, 0) + 1; known && n <= kind->count; ++n, ++count)
        rows += "<row sql=\"" + XmlAttribute(InsertRow(*kind, n)) + "\"/>";
    return HttpReply::Xml("<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<DataSync bussID=\"" + XmlAttribute(bussID) +
                          "\" retCode=\"" + (known ? "0" : "-1") + "\" dataRowCount=\"" + std::to_string(count) +
                          "\" DB=\"user\">" + rows + "</DataSync>");
}
