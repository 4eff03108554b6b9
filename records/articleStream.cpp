#include "articleStream.h"

#include "Hooks.h"
#include "MyDatabase.h"

CArticleStream::CArticleStream(const wchar_t* table, const wchar_t* maxNoExpr, const wchar_t* maxDeletedExpr,
                               const wchar_t* deletedColumn)
    : m_dwCheckTick(GetTickCount()),
      m_table(table),
      m_maxNoExpr(maxNoExpr),
      m_maxDeletedExpr(maxDeletedExpr),
      m_deletedColumn(deletedColumn) {}

void CArticleStream::LoadFromDB() {
    m_nLoaded = 1;
    if (g_pMyDatabase == nullptr) return;
    m_nMaxNo = g_pMyDatabase->ReadFieldValueField(m_table, m_maxNoExpr, L"", 0);
    m_nMaxDeletedRecNo = g_pMyDatabase->ReadFieldValueField(L"tMaxDeletedRecNo", m_maxDeletedExpr, L"", 0);
}

void CArticleStream::SaveDeletedRecNo() {
    if (g_pMyDatabase != nullptr) g_pMyDatabase->SetMaxDeletedRecNo(m_deletedColumn, m_nMaxDeletedRecNo);
}
