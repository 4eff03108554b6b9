// The HTTP client against a loopback server: what arrives, what comes back in both
// write modes, which options it sets, and how failures are reported.
#include "HttpClient.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "LoopbackHttpServer.h"
#include "LoopbackPacketServer.h"

namespace {

class HttpClientTest : public ::testing::Test {
protected:
    HttpClientTest() { client_.Init(); }
    ~HttpClientTest() override { CHttpClient::OptionRecorder() = nullptr; }

    // The options of one request, in the order they were set.
    std::vector<std::pair<CURLoption, HttpOptionValue>> RecordOptions(const std::string& body) {
        std::vector<std::pair<CURLoption, HttpOptionValue>> options;
        CHttpClient::OptionRecorder() = [&](CURLoption option, const HttpOptionValue& value) {
            options.emplace_back(option, value);
        };
        std::string reply;
        client_.Request(server_.Url("/o"), body, &reply);
        CHttpClient::OptionRecorder() = nullptr;
        return options;
    }
    static const HttpOptionValue* Find(const std::vector<std::pair<CURLoption, HttpOptionValue>>& options,
                                       CURLoption option) {
        for (const auto& [o, value] : options)
            if (o == option) return &value;
        return nullptr;
    }

    LoopbackHttpServer server_;
    CHttpClient client_;
};

// Many blocks on the wire and many calls of the write callback.
std::string LargeBody() {
    std::string body;
    for (int i = 0; body.size() < 300 * 1024; ++i) body += "<row n=\"" + std::to_string(i) + "\"/>\n";
    return body;
}

TEST_F(HttpClientTest, PostBodyArrivesAsSentAndAnEmptyBodyIsAGetOfTheSameUrl) {
    server_.Enqueue(HttpReply::Xml("first"));
    server_.Enqueue(HttpReply::Xml("second"));
    const std::string body = "bussID=syndata_article&loginAccount=a%26b&minNo=-1&x=\xD6\xD0";
    std::string reply;
    EXPECT_EQ(client_.Request(server_.Url("/x/DataSync/BussDataSync.aspx"), body, &reply), CURLE_OK);
    EXPECT_EQ(client_.Request(server_.Url("/x/DataSync/BussDataSync.aspx"), "", &reply), CURLE_OK);
    EXPECT_EQ(reply, "firstsecond");  // appended, as the caller's string holds it

    const std::vector<HttpRequest> requests = server_.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].method, "POST");
    EXPECT_EQ(requests[0].target, "/x/DataSync/BussDataSync.aspx");
    EXPECT_EQ(requests[0].body, body);
    // The second goes out on the handle the POST used: still a GET, without the old body.
    EXPECT_EQ(requests[1].method, "GET");
    EXPECT_EQ(requests[1].target, "/x/DataSync/BussDataSync.aspx");
    EXPECT_EQ(requests[1].body, "");
    EXPECT_EQ(requests[1].Header("Content-Length"), "");
}

TEST_F(HttpClientTest, BothWriteModesReceiveAManyBlockBodyWholeInBothKindsOfRequest) {
    const std::string large = LargeBody();
    server_.OnRequest([&](const HttpRequest&) { return HttpReply::Xml(large); });
    for (const std::string& body : {std::string("a=1"), std::string()}) {
        SCOPED_TRACE(body.empty() ? "GET" : "POST");
        client_.m_nWriteMode = 1;
        std::string text;
        EXPECT_EQ(client_.Request(server_.Url("/big"), body, &text), CURLE_OK);
        EXPECT_EQ(text, large);

        client_.m_nWriteMode = CHttpClient::kWriteToFile;
        const std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::tmpfile(), &std::fclose);
        ASSERT_NE(file, nullptr);
        EXPECT_EQ(client_.Request(server_.Url("/big"), body, file.get()), CURLE_OK);
        std::string written(large.size() + 1, '\0');
        std::rewind(file.get());
        written.resize(std::fread(written.data(), 1, written.size(), file.get()));
        EXPECT_EQ(written, large);
        // A target of the other kind is none: the transfer stops with a write error.
        EXPECT_EQ(client_.Request(server_.Url("/big"), body, &text), CURLE_WRITE_ERROR);
    }
}

TEST_F(HttpClientTest, DefaultsSetNoProxyProgressOrSpeedOptionAndPostsResumeFromZero) {
    const auto post = RecordOptions("a=1");
    for (const CURLoption unset : {CURLOPT_PROXY, CURLOPT_PROXYPORT, CURLOPT_PROXYUSERPWD, CURLOPT_NOPROGRESS,
                                   CURLOPT_XFERINFOFUNCTION, CURLOPT_MAX_RECV_SPEED_LARGE, CURLOPT_VERBOSE})
        EXPECT_EQ(Find(post, unset), nullptr) << unset;
    ASSERT_FALSE(post.empty());
    EXPECT_EQ(post.front().first, CURLOPT_URL);
    EXPECT_EQ(post.front().second.text, server_.Url("/o"));
    EXPECT_EQ(post.back().first, CURLOPT_RESUME_FROM_LARGE);
    EXPECT_EQ(post.back().second.number, 0);
    ASSERT_NE(Find(post, CURLOPT_NOSIGNAL), nullptr);
    EXPECT_EQ(Find(post, CURLOPT_NOSIGNAL)->number, 1);
    EXPECT_EQ(Find(post, CURLOPT_CONNECTTIMEOUT)->number, 30);
    EXPECT_EQ(Find(post, CURLOPT_TIMEOUT)->number, 6000);
    EXPECT_EQ(Find(post, CURLOPT_LOW_SPEED_TIME)->number, 60);

    const auto get = RecordOptions("");
    EXPECT_EQ(Find(get, CURLOPT_POSTFIELDS), nullptr);
    EXPECT_EQ(Find(get, CURLOPT_RESUME_FROM_LARGE), nullptr);
    ASSERT_NE(Find(get, CURLOPT_HTTPGET), nullptr);
}

TEST_F(HttpClientTest, SettingsBecomeTheirOptionsSpeedInBytesProxyLastTraceFirst) {
    client_.m_nSpeedLimit = 5;
    client_.m_bDebug = true;
    client_.m_proxy = "127.0.0.1";  // nothing listens behind it: only the options matter here
    client_.m_nProxyPort = 1;
    client_.m_proxyUserPwd = "u:p";
    client_.m_progress = [](void*, curl_off_t, curl_off_t, curl_off_t, curl_off_t) { return 0; };
    const auto options = RecordOptions("a=1");
    ASSERT_NE(Find(options, CURLOPT_MAX_RECV_SPEED_LARGE), nullptr);
    EXPECT_EQ(Find(options, CURLOPT_MAX_RECV_SPEED_LARGE)->number, 5120);
    ASSERT_NE(Find(options, CURLOPT_NOPROGRESS), nullptr);
    EXPECT_EQ(Find(options, CURLOPT_NOPROGRESS)->number, 0);
    ASSERT_GE(options.size(), 3u);
    EXPECT_EQ(options[0].first, CURLOPT_VERBOSE);
    EXPECT_EQ(options[1].first, CURLOPT_DEBUGFUNCTION);
    EXPECT_EQ(options[options.size() - 3].first, CURLOPT_PROXY);
    EXPECT_EQ(options[options.size() - 2].second.number, 1);
    EXPECT_EQ(options.back().second.text, "u:p");
}

TEST_F(HttpClientTest, RefusedPortErrorStatusesAndBrokenTransfersAreFailures) {
    std::string reply;
    const std::string refused = "http://127.0.0.1:" + std::to_string(LoopbackPacketServer::ClosedPort()) + "/";
    EXPECT_EQ(client_.Request(refused, "a=1", &reply), CURLE_COULDNT_CONNECT);

    server_.Enqueue(HttpReply::Status(404));
    server_.Enqueue(HttpReply::Status(500));
    server_.Enqueue(HttpReply::Status(302));  // not followed
    EXPECT_EQ(client_.Request(server_.Url("/"), "a=1", &reply), CURLE_HTTP_RETURNED_ERROR);
    EXPECT_EQ(client_.Request(server_.Url("/"), "", &reply), CURLE_HTTP_RETURNED_ERROR);
    EXPECT_EQ(client_.Request(server_.Url("/"), "a=1", &reply), CURLE_HTTP_RETURNED_ERROR);

    // A body that ends before its Content-Length.
    HttpReply cut = HttpReply::Xml(std::string(1000, 'x'));
    cut.bodyBytes = 400;
    server_.Enqueue(cut);
    EXPECT_EQ(client_.Request(server_.Url("/"), "a=1", &reply), CURLE_PARTIAL_FILE);
}

TEST_F(HttpClientTest, ASlowAnswerOrAStalledBodyEndsWithinTheShortenedTimeOuts) {
    client_.m_nTimeout = 1;
    HttpReply late = HttpReply::Xml("late");
    late.delay = std::chrono::milliseconds(1500);
    server_.Enqueue(late);
    std::string reply;
    EXPECT_EQ(client_.Request(server_.Url("/"), "a=1", &reply), CURLE_OPERATION_TIMEDOUT);
    EXPECT_EQ(std::string(client_.LastError()).rfind("Operation timed out after", 0), 0u) << client_.LastError();

    // Under 1 byte/s for the stall time fails long before the whole time-out.
    client_.m_nTimeout = 30;
    client_.m_nStallTime = 1;
    HttpReply stalled = HttpReply::Xml(std::string(1000, 'x'));
    stalled.bodyBytes = 0;  // the head, then nothing
    stalled.holdAfter = std::chrono::seconds(5);
    server_.Enqueue(stalled);
    EXPECT_EQ(client_.Request(server_.Url("/"), "a=1", &reply), CURLE_OPERATION_TIMEDOUT);
    EXPECT_EQ(std::string(client_.LastError()).rfind("Operation too slow.", 0), 0u) << client_.LastError();
}

TEST_F(HttpClientTest, AReplyPastTheLimitEndsTheTransferAnnouncedOrNot) {
    client_.m_nMaxReplyBytes = 1000;
    std::string reply;
    server_.Enqueue(HttpReply::Xml(std::string(1000, 'x')));
    EXPECT_EQ(client_.Request(server_.Url("/"), "a=1", &reply), CURLE_OK);
    HttpReply announced = HttpReply::Xml(std::string(1001, 'x'));
    server_.Enqueue(announced);
    EXPECT_EQ(client_.Request(server_.Url("/"), "a=1", &reply), CURLE_FILESIZE_EXCEEDED);
    HttpReply unannounced = announced;
    unannounced.withLength = false;
    server_.Enqueue(unannounced);
    reply.clear();
    EXPECT_EQ(client_.Request(server_.Url("/"), "a=1", &reply), CURLE_FILESIZE_EXCEEDED);
    EXPECT_LE(reply.size(), 1000u);
}

TEST(HttpFormValue, EscapesAllButUnreservedCharactersAndDecodesToItself) {
    EXPECT_EQ(CHttpClient::EscapeFormValue("demo_01.x-y~"), "demo_01.x-y~");
    const std::string odd = "p&w=d+%1 \xD6\xD0";
    EXPECT_EQ(CHttpClient::EscapeFormValue(odd), "p%26w%3Dd%2B%251%20%D6%D0");
    EXPECT_EQ(DecodeForm("k=" + CHttpClient::EscapeFormValue(odd) + "&j=2").at("k"), odd);
}

}  // namespace
