// The demo server's answer to one packet request, from its data file: the command's reply
// with the request's fields and today's dates put in, or the protocol's refusal.
#pragma once

#include <ctime>
#include <functional>
#include <string>

#include "DemoData.h"
#include "LoopbackPacketServer.h"

struct DemoAnswer {
    PacketReply reply;
    bool refused = false;
    std::string logLine;  // the command's name with the request's fields, " refused" after a refusal
};

class DemoReplies {
public:
    using Clock = std::function<std::time_t()>;

    // data must outlive this object; clock gives the moment the dates are taken from.
    explicit DemoReplies(const DemoData& data, Clock clock = [] { return std::time(nullptr); });

    DemoAnswer Answer(const PacketRequest& request) const;

    // A reply's payload as the wire carries it (system code page, fields ended by code 2,
    // rows by code 3, then a NUL), before inversion.
    std::string Payload(const DemoReplyText& reply, const PacketRequest& request) const;

private:
    const DemoReplyText* Choose(const DemoCommand& command, const PacketRequest& request) const;
    // One field of the file with its placeholders filled, in the system code page.
    std::string Field(const std::string& field, const PacketRequest& request) const;
    std::string Placeholder(const std::string& name, const PacketRequest& request) const;
    // The command's name for the request log, in UTF-8.
    std::string LogLine(const std::string& name, const PacketRequest& request) const;

    const DemoData& data_;
    Clock clock_;
};
