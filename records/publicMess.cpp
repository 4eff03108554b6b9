#include "publicMess.h"

#include <memory>

#include "Communication.h"
#include "DataClassKit.h"
#include "MessageWin.h"
#include "Text.h"

CPublicMess* g_pPublicMess = nullptr;

CPublicMess::CPublicMess()
    : CMessFeed(L"CPublicMess", COMMAND_PUBLICMESS_QUEST, L"tPublicMess", L"", L"publicMessNo", true) {}

int CPublicMess::BussDataProc(const std::wstring& reply) {
    if (!IsWhole(reply, kReplyFields)) return 0;
    struPublicMessW m;
    if (!ReadMessNo(reply, 1, m.publicMessNo)) return 0;
    m.publicMess = records::ReplyField(reply, 2);
    ReadTail(reply, 3, m);
    if (!IsNew(m.publicMessNo)) return 0;

    const int no = m.publicMessNo, op = m.operatorNo;
    const std::wstring mess = text::QuoteSql(m.publicMess);
    const QuotedTail t(m);
    const int stored = Store(no, L"",
                             L"insert into tPublicMess (publicMessNo, publicMess, pubTime, validTime, operatorNo, "
                             L"\tstatus, note,modifyTime) values (%0d, '%s', '%s', '%s', %0d, '%s', "
                             L"'%s',datetime('now','localtime'))",
                             no, mess.c_str(), t.pubTime.c_str(), t.validTime.c_str(), op, t.status.c_str(),
                             t.note.c_str());
    if (stored == 1) QueueNotice(no, m.publicMess);
    return stored;
}

void CPublicMess::QueueNotice(int publicMessNo, const std::wstring& publicMess) {
    CMessageWin* const window = g_pMessageWin;
    if (window == nullptr) return;
    uie::value list = uie::value::make_array();
    list.append(records::MakeObject({{L"funcName", uie::value(L"BandCommonMessage")},
                                     {L"alertType", uie::value(L"3")},
                                     {L"alertNo", uie::value(publicMessNo)},
                                     {L"additionalMessage", uie::value(L"")},
                                     {L"message", uie::value(publicMess)}}));
    window->AddMessage(list, 1);
}

int CPublicMess::RegisterScriptObject(HVM vm) {
    static const auto def = std::make_shared<const uie::NativeObjectDef>();
    uie::DefineNativeObject(vm, "publicMess", def);
    return 1;
}
