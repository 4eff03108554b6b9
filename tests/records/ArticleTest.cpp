// The two article streams against a real user database and a loopback server: their
// marks, the stored deleted-record mark, and what the "article" object sends.
#include "article.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "DataClassKit.h"
#include "RecordsFixture.h"
#include "focusArticle.h"

namespace {

using uie::value;
using uie::test::CallNative;

class ArticleTest : public RecordsTest {
protected:
    ArticleTest() {
        comm_->m_nUserNo = 1001;
        article_.RegisterScriptObject(vm_);
        g_pArticle = &article_;
    }
    ~ArticleTest() override {
        EndWorkers();
        g_pArticle = nullptr;
    }

    std::vector<std::string> Fields(std::size_t request) {
        const std::vector<PacketRequest> requests = server_.Requests();
        return request < requests.size() ? requests[request].fields : std::vector<std::string>{};
    }

    CArticle article_;
    CFocusArticle focus_;
};

TEST_F(ArticleTest, MarksLoadFromTheTablesAndEmptyTablesGiveZero) {
    EXPECT_EQ(article_.m_nMaxNo, -1);
    EXPECT_EQ(focus_.m_nMaxDeletedRecNo, -1);
    article_.LoadFromDB();
    focus_.LoadFromDB();
    EXPECT_TRUE(article_.IsLoaded());
    EXPECT_EQ(article_.m_nMaxNo, 0);
    EXPECT_EQ(article_.m_nMaxDeletedRecNo, 0);
    EXPECT_EQ(focus_.m_nMaxNo, 0);
    EXPECT_EQ(focus_.m_nMaxDeletedRecNo, 0);

    Exec(L"insert into tArticle (articleNo, title) values (7, 'a'), (3, 'b')");
    Exec(L"insert into tFocusArticle (focusArticleNo, title) values (12, 'c')");
    Exec(L"update tMaxDeletedRecNo set articleDeletedRecNo=4, focusArticleDeletedRecNo=9");
    article_.LoadFromDB();
    focus_.LoadFromDB();
    EXPECT_EQ(article_.m_nMaxNo, 7);
    EXPECT_EQ(article_.m_nMaxDeletedRecNo, 4);
    EXPECT_EQ(focus_.m_nMaxNo, 12);
    EXPECT_EQ(focus_.m_nMaxDeletedRecNo, 9);
}

TEST_F(ArticleTest, SaveDeletedRecNoWritesOnlyItsOwnColumn) {
    Exec(L"update tMaxDeletedRecNo set articleDeletedRecNo=11, focusArticleDeletedRecNo=22");
    article_.m_nMaxDeletedRecNo = 30;
    article_.SaveDeletedRecNo();
    EXPECT_EQ(FirstValue(L"select articleDeletedRecNo || '/' || focusArticleDeletedRecNo from tMaxDeletedRecNo"),
              L"30/22");
    focus_.m_nMaxDeletedRecNo = 40;
    focus_.SaveDeletedRecNo();
    EXPECT_EQ(FirstValue(L"select articleDeletedRecNo || '/' || focusArticleDeletedRecNo from tMaxDeletedRecNo"),
              L"30/40");
}

TEST_F(ArticleTest, UserViewArticleNeedsAnArticleNumberAndSendsNineMembersInOrder) {
    EXPECT_EQ(CallNative(vm_, "article", "UserViewArticle", {value::make_map()}).result, value(-1));
    value negative = value::make_map();
    negative.set_item(value(L"articleNo"), value(-3));
    negative.set_item(value(L"title"), value(L"t"));
    EXPECT_EQ(CallNative(vm_, "article", "UserViewArticle", {negative}).result, value(-1));

    value view = records::MakeObject({{L"articleNo", value(42)},
                                      {L"articleType", value(2)},
                                      {L"sourceUrl", value(L"http://s/")},
                                      {L"sourceNote", value(L"src")},
                                      {L"homePageUrl", value(L"http://h/")},
                                      {L"mainChannelNo", value(5)},
                                      {L"subChannelNo", value(6)},
                                      {L"note", value(L"n")},
                                      {L"title", value(L"健康")}});
    EXPECT_EQ(CallNative(vm_, "article", "UserViewArticle", {view}).result, value(0));
    // Missing members: numbers -1, texts empty.
    EXPECT_EQ(CallNative(vm_, "article", "UserViewArticle", {records::MakeObject({{L"articleNo", value(0)}})}).result,
              value(0));
    ASSERT_TRUE(server_.WaitForRequests(2));
    EXPECT_EQ(server_.Requests()[0].commandId, COMMAND_ARTICLEVIEW_UPLOAD);
    EXPECT_EQ(Fields(0), (std::vector<std::string>{"1001", "2", "42", "5", "6", "\xBD\xA1\xBF\xB5", "src", "http://s/",
                                                    "http://h/", "n"}));
    EXPECT_EQ(Fields(1), (std::vector<std::string>{"1001", "-1", "0", "-1", "-1", "", "", "", "", ""}));

    const uie::test::CallResult wrong = CallNative(vm_, "article", "UserViewArticle", {value(42)});
    EXPECT_FALSE(wrong.ok);
    EXPECT_EQ(wrong.error, L"parameter 1, expecting object");
}

TEST_F(ArticleTest, CollectionDelAfterProcSendsWhatCollectionAddAfterProcSends) {
    const value record = records::MakeObject({{L"userNo", value(1001)},
                                              {L"articleNo", value(8)},
                                              {L"title", value(L"it's")},
                                              {L"collectionFlag", value(L"0")},
                                              {L"viewTimes", value(3)},
                                              {L"status", value(L"2")}});
    EXPECT_EQ(CallNative(vm_, "article", "CollectionAddAfterProc", {record}).result, value(0));
    ASSERT_TRUE(server_.WaitForRequests(1));
    EXPECT_EQ(CallNative(vm_, "article", "CollectionDelAfterProc", {record}).result, value(0));
    ASSERT_TRUE(server_.WaitForRequests(2));
    EXPECT_EQ(server_.Requests()[1].commandId, COMMAND_ARTICLECOLLECTION_UPLOAD);
    EXPECT_EQ(Fields(1), Fields(0));
    EXPECT_EQ(Fields(0).size(), 18u);

    EXPECT_FALSE(CallNative(vm_, "article", "CollectionDelAfterProc", {value(L"8")}).ok);
    EXPECT_EQ(server_.RequestCount(), 2u);
}

}  // namespace
