#include "DemoReplies.h"

#include <cstdio>
#include <cstdlib>

#include "Text.h"

namespace {

constexpr std::size_t kLoggedFieldChars = 40;

std::string RequestField(const PacketRequest& request, std::size_t n) {
    return n >= 1 && n <= request.fields.size() ? request.fields[n - 1] : std::string();
}

// A file text (UTF-8) as the client reads it: the system code page.
std::string ToWire(const std::string& utf8) { return text::ToAnsi(text::FromUtf8(utf8)); }

std::string FormatTime(std::time_t when, const char* format) {
    std::tm local{};
    localtime_r(&when, &local);
    char out[32];
    const std::size_t n = std::strftime(out, sizeof(out), format, &local);
    return std::string(out, n);
}

// A field from the wire for a log line: UTF-8, cut short.
std::string Shown(const std::string& wire) {
    std::wstring shown = text::FromAnsi(wire);
    if (shown.size() > kLoggedFieldChars) shown.resize(kLoggedFieldChars);
    return text::ToUtf8(shown);
}

}  // namespace

DemoReplies::DemoReplies(const DemoData& data, Clock clock) : data_(data), clock_(std::move(clock)) {}

DemoAnswer DemoReplies::Answer(const PacketRequest& request) const {
    DemoAnswer answer;
    const DemoCommand* command = data_.Find(request.commandId);
    if (command == nullptr) {
        char name[32];
        std::snprintf(name, sizeof(name), "unknown 0x%04X", static_cast<unsigned>(request.commandId));
        answer.reply = PacketReply::Fields({"-1", "unknown request"});
        answer.refused = true;
        answer.logLine = std::string(name) + " [" + Shown(RequestField(request, 1)) + "] refused";
        return answer;
    }
    const DemoReplyText* chosen = Choose(*command, request);
    answer.refused = chosen == nullptr;
    answer.reply.payload = Payload(chosen != nullptr ? *chosen : command->refusal, request);
    answer.logLine = LogLine(command->name, request) + (answer.refused ? " refused" : "");
    return answer;
}

const DemoReplyText* DemoReplies::Choose(const DemoCommand& command, const PacketRequest& request) const {
    for (const auto& [field, wanted] : command.require)
        if (RequestField(request, static_cast<std::size_t>(field)) != ToWire(wanted)) return nullptr;
    if (command.pick == DemoCommand::Pick::First) return &command.replies.front();
    const long asked = std::strtol(RequestField(request, static_cast<std::size_t>(command.pickField)).c_str(), nullptr, 10);
    for (const DemoReplyText& reply : command.replies) {
        if (command.pick == DemoCommand::Pick::After ? reply.key > asked : reply.key == asked) return &reply;
    }
    return nullptr;
}

std::string DemoReplies::Payload(const DemoReplyText& reply, const PacketRequest& request) const {
    std::string payload;
    for (const std::string& row : reply.rows) {
        // Every separator ends a field: "a|b|" is three fields, the last one empty.
        for (std::size_t start = 0; start <= row.size();) {
            const std::size_t end = std::min(row.find(reply.separator, start), row.size());
            payload += Field(row.substr(start, end - start), request);
            payload += '\x02';
            start = end + 1;
        }
        if (reply.rowed) payload += '\x03';
    }
    payload += '\0';
    return payload;
}

std::string DemoReplies::Field(const std::string& field, const PacketRequest& request) const {
    std::string out;
    WalkPlaceholders(
        field, [&out](const std::string& piece) { out += ToWire(piece); },
        [&](const std::string& name) {
            out += Placeholder(name, request);
            return true;
        });
    return out;
}

std::string DemoReplies::LogLine(const std::string& name, const PacketRequest& request) const {
    std::string out;
    WalkPlaceholders(
        name, [&out](const std::string& piece) { out += piece; },
        [&](const std::string& placeholder) {
            out += Shown(Placeholder(placeholder, request));
            return true;
        });
    return out;
}

std::string DemoReplies::Placeholder(const std::string& name, const PacketRequest& request) const {
    const std::time_t now = clock_();
    if (name == "now") return FormatTime(now, "%Y-%m-%d %H:%M:%S");
    if (name == "date") return FormatTime(now, "%Y-%m-%d");
    if (name.rfind("today", 0) == 0) {
        const long days = name.size() > 6 ? std::strtol(name.c_str() + 5, nullptr, 10) : 0;
        return FormatTime(now + days * 86400, "%Y%m%d");
    }
    return RequestField(request, std::strtoul(name.c_str() + 4, nullptr, 10));  // "req:N"
}
