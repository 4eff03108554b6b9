// A communication object with one worker, talking to a loopback packet server, with
// the tick count frozen at a value of its own so log lines name this test's numbers.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>
#include <string>

#include "Communication.h"
#include "Hooks.h"
#include "LoopbackPacketServer.h"

class CommTest : public ::testing::Test {
protected:
    static constexpr int kTimeoutMs = 1000;

    CommTest() : tick_(1'000'000 + std::random_device{}() % 1'000'000'000) {
        Hooks().tickCount = [this] { return tick_; };
        comm_ = std::make_unique<CCommunication>();
        g_pCommunication = comm_.get();
        comm_->SetSocketThreadCount(3);
        comm_->SetServer(L"127.0.0.1", server_.PortText(), 1, kTimeoutMs);
    }
    ~CommTest() override { EndWorkers(); }

    // Joins the workers. Fixtures and tests call it before they let go of the objects a
    // reply reaches through the globals: a worker may still be handling one.
    void EndWorkers() {
        comm_.reset();
        g_pCommunication = nullptr;
    }

    CSocketThread* Worker() { return comm_->GetSocketThread(0); }
    // Exact while the pool has released nothing to the heap.
    int ContextsInUse() const { return comm_->GetMaxContexts() - comm_->GetFreeContextCount(); }

    struCommContext* Context(int commandId, const std::string& payload, int mode = COMM_MODE_SYNC) {
        struCommContext* context = comm_->AllocateContext();
        context->nMode = mode;
        context->nCommandID = commandId;
        context->nDataLen = static_cast<int>(payload.size());
        std::memcpy(context->szData, payload.data(), std::min<std::size_t>(payload.size(), sizeof context->szData));
        context->pSocketThread = Worker();
        return context;
    }

    // A synchronous exchange; the reply's payload goes to *reply.
    int Exchange(int commandId, const std::string& payload, std::string* reply = nullptr) {
        struCommContext* context = Context(commandId, payload);
        const int result = comm_->SendAndRecv(context);
        if (reply && result > kPackHeadSize) reply->assign(context->szRecv + kPackHeadSize, result - kPackHeadSize);
        comm_->FreeContext(context);
        return result;
    }

    HookScope hooks_;
    DWORD tick_;
    LoopbackPacketServer server_;
    std::unique_ptr<CCommunication> comm_;
};
