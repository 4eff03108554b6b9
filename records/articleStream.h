// What the two article streams share: the client's position in one of the server's
// article streams, loaded at start-up and moved on only by the article synchronisation.
#pragma once

#include <atomic>

#include "WinTypes.h"

class CArticleStream {
public:
    virtual ~CArticleStream() = default;
    CArticleStream(const CArticleStream&) = delete;
    CArticleStream& operator=(const CArticleStream&) = delete;

    // When the object was made; the synchronisation waits from here, never renewed.
    DWORD GetCheckTick() const { return m_dwCheckTick; }
    bool IsLoaded() const { return m_nLoaded.load() == 1; }

    // The start-up step: both marks from the user database, 0 for empty tables.
    void LoadFromDB();
    // Stores the deleted-record mark; a failure is not reported and the mark in
    // memory stays advanced.
    void SaveDeletedRecNo();

    // Written by the loading and the synchronisation threads, read by the socket thread.
    std::atomic<int> m_nMaxNo{-1};             // the highest article number held
    std::atomic<int> m_nMaxDeletedRecNo{-1};   // the highest deleted-record number applied

protected:
    // maxNoExpr and maxDeletedExpr read the marks; deletedColumn is where the second is stored.
    CArticleStream(const wchar_t* table, const wchar_t* maxNoExpr, const wchar_t* maxDeletedExpr,
                   const wchar_t* deletedColumn);

private:
    std::atomic<int> m_nLoaded{0};
    const DWORD m_dwCheckTick;
    const wchar_t* const m_table;
    const wchar_t* const m_maxNoExpr;
    const wchar_t* const m_maxDeletedExpr;
    const wchar_t* const m_deletedColumn;
};
