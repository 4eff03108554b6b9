// The client's position in the subscription article stream.
#pragma once

#include <atomic>
#include <string>

#include "ScriptVM.h"

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

class CArticle {
public:
    CArticle();

    void LoadFromDB();
    int RegisterScriptObject(HVM vm);

    // The highest article number held locally; -1 until loaded.
    std::atomic<int> m_nMaxNo{-1};
};

extern CArticle* g_pArticle;
