#include "pedometerWin.h"

#include "Communication.h"
#include "Config.h"
#include "DataClassKit.h"
#include "Hooks.h"

CPedometerWin* g_pPedometer = nullptr;

CPedometerWin::CPedometerWin() {
    m_cs.ownThread = true;
    m_cs.name = L"PedometerWin";
    m_cs.page = g_Config.m_config.pedometerPage;
    m_cs.style = WS_POPUP | WS_VISIBLE | WS_SYSMENU;
    m_cs.showOnCreate = true;
}

int CPedometerWin::QuestPedoRank() {
    if (m_bRankReceived && GetTickCount() - m_rankTick.load() < kRankRefreshMs) return 0;
    CCommunication* comm = g_pCommunication;
    return comm != nullptr ? comm->QuestPedoRank_asyn(-1) : -1;
}

int CPedometerWin::BussDataProc_PedoRank(const std::wstring& reply) {
    const int retCode = records::ReplyInt(reply, 1);
    if (retCode < 0) return retCode;
    m_rankTick = GetTickCount();
    m_bRankReceived = true;
    return 0;
}

int CPedometerWin::GetPeriodDatePercent() const { return -1; }

int CPedometerWin::GetPeriodLeadPercent() const { return -1; }

int CPedometerWin::BussDataProc_OrigData(const std::wstring&) { return 0; }

int CPedometerWin::DevChangeProc(const struHealthElementSourceTypeW*, int) { return 0; }
