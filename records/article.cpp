#include "article.h"

#include <memory>

#include "Communication.h"
#include "DataClassKit.h"

CArticle* g_pArticle = nullptr;

namespace {

// One native function for both collection methods: the record says what changed.
uie::value Collection(HVM, const uie::NativeArgs& args) {
    const uie::value& record = uie::ArgMap(args, 0);
    return uie::value(g_pArticle != nullptr ? g_pArticle->CollectionUpload(record) : -1);
}

uie::value ViewArticle(HVM, const uie::NativeArgs& args) {
    const uie::value& view = uie::ArgMap(args, 0);
    return uie::value(g_pArticle != nullptr ? g_pArticle->UserViewArticle(view) : -1);
}

}  // namespace

CArticle::CArticle()
    : CArticleStream(L"tArticle", L"ifnull(max(articleNo),0)", L"ifnull(max(articleDeletedRecNo),0)",
                     L"articleDeletedRecNo") {}

int CArticle::CollectionUpload(const uie::value& collection) {
    return g_pCommunication != nullptr ? g_pCommunication->ArticleCollectionAddUpLoad_asyn(collection) : -1;
}

int CArticle::UserViewArticle(const uie::value& view) {
    using records::MemberInt;
    using records::MemberText;
    struArticleViewW record;
    record.articleNo = MemberInt(view, L"articleNo", -1);
    if (record.articleNo < 0) return -1;
    record.articleType = MemberInt(view, L"articleType", -1);
    record.mainChannelNo = MemberInt(view, L"mainChannelNo", -1);
    record.subChannelNo = MemberInt(view, L"subChannelNo", -1);
    record.sourceUrl = MemberText(view, L"sourceUrl");
    record.sourceNote = MemberText(view, L"sourceNote");
    record.homePageUrl = MemberText(view, L"homePageUrl");
    record.note = MemberText(view, L"note");
    record.title = MemberText(view, L"title");
    return g_pCommunication != nullptr ? g_pCommunication->ArticleViewListUpLoad_asyn(record) : -1;
}

int CArticle::RegisterScriptObject(HVM vm) {
    static const auto def = [] {
        auto d = std::make_shared<uie::NativeObjectDef>();
        d->methods = {{"CollectionAddAfterProc", Collection},
                      {"CollectionDelAfterProc", Collection},
                      {"UserViewArticle", ViewArticle}};
        return std::shared_ptr<const uie::NativeObjectDef>(std::move(d));
    }();
    uie::DefineNativeObject(vm, "article", def);
    return 1;
}
