// The demo server's data as its replies see it: the shipped data file, or one a test
// writes, and the fields of a reply split into rows as the client splits them.
#pragma once

#include <cstdint>
#include <ctime>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "DemoData.h"
#include "DemoReplies.h"
#include "TempDir.h"
#include "Text.h"

using DemoRows = std::vector<std::vector<std::string>>;

class DemoDataFixture : public ::testing::Test {
protected:
    // 2026-12-09 08:30:00 local time: the dates a reply's placeholders give.
    static std::time_t Moment() {
        std::tm t{};
        t.tm_year = 126;
        t.tm_mon = 11;
        t.tm_mday = 9;
        t.tm_hour = 8;
        t.tm_min = 30;
        t.tm_isdst = -1;
        return std::mktime(&t);
    }

    // Loads a data file written from text; the load's error, "" on success.
    std::string LoadText(const std::string& text) {
        const auto file = dir_ / "demo.xml";
        std::ofstream(file) << text;
        std::string error;
        return data_.Load(file.string(), error) ? std::string() : error;
    }

    static PacketRequest Request(std::uint16_t command, std::vector<std::string> fields = {}) {
        PacketRequest request;
        request.commandId = command;
        request.fields = std::move(fields);
        return request;
    }
    DemoAnswer Ask(std::uint16_t command, std::vector<std::string> fields = {}) const {
        return replies_.Answer(Request(command, std::move(fields)));
    }
    // The reply's rows (one for a plain reply), each split into fields, texts in UTF-8.
    static DemoRows Rows(const PacketReply& reply) {
        DemoRows rows(1);
        std::string field;
        for (const char c : reply.payload) {
            if (c == '\0') break;
            if (c == '\x02') {
                rows.back().push_back(text::ToUtf8(text::FromAnsi(field)));
                field.clear();
            } else if (c == '\x03') {
                rows.emplace_back();
            } else {
                field += c;
            }
        }
        if (rows.size() > 1 && rows.back().empty()) rows.pop_back();  // after the last row's mark
        return rows;
    }

    TempDir dir_;
    DemoData data_;
    DemoReplies replies_{data_, [] { return Moment(); }};
};
