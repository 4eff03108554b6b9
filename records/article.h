// The client's position in the subscription article stream, and the pages' article
// actions: views and collection changes, passed on to the server.
#pragma once

#include <string>

#include "ScriptVM.h"
#include "articleStream.h"

// An article the user opened, uploaded as it is viewed.
struct struArticleViewW {
    int articleType = 0;
    int articleNo = 0;
    int mainChannelNo = 0;
    int subChannelNo = 0;
    std::wstring title;
    std::wstring sourceNote;
    std::wstring sourceUrl;
    std::wstring homePageUrl;
    std::wstring note;
};

// An article the user added to a collection folder.
struct struArticleCollectionW {
    int userNo = -1;
    int articleNo = 0;
    int preNode = 0;
    int node = 0;
    std::wstring title;
    std::wstring simpleTitle;
    std::wstring keyWords;
    std::wstring articleSimpleBody;
    std::wstring sourceNote;
    std::wstring sourceUrl;
    std::wstring homePageUrl;
    std::wstring collectionFlag;
    int viewTimes = 0;
    std::wstring folderFlag;
    int nodeDispNo = 0;
    int dispNo = 0;
    std::wstring sourceType;
    std::wstring status;
    std::wstring note;
};

class CArticle : public CArticleStream {
public:
    CArticle();

    // Defines "article" on a page's VM; 1.
    int RegisterScriptObject(HVM vm);

    // A page's collection record, saved or removed, goes to the server as it is (its own
    // fields tell which); the builder's result, -1 without a communication object.
    int CollectionUpload(const uie::value& collection);
    // A page's view of an article: -1 and nothing sent without an "articleNo" of 0 or
    // more, else the result of queuing the view.
    int UserViewArticle(const uie::value& view);
};

extern CArticle* g_pArticle;
