// The demo server's HTTP article synchronisation: for a known account, one insert row per
// article of the asked kind after the client's highest number.
#pragma once

#include "DemoData.h"
#include "LoopbackHttpServer.h"

class DemoArticleSync {
public:
    // data must outlive this object.
    explicit DemoArticleSync(const DemoData& data) : data_(data) {}

    HttpReply Answer(const HttpRequest& request) const;

private:
    const DemoData& data_;
};
