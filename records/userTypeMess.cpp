#include "userTypeMess.h"

#include <memory>

#include "Communication.h"
#include "DataClassKit.h"
#include "Text.h"

CUserTypeMess* g_pUserTypeMess = nullptr;

CUserTypeMess::CUserTypeMess()
    : CMessFeed(L"CUserTypeMess", COMMAND_USERTYPEMESS_QUEST, L"tUserTypeMess", L"userType", L"userTypeMessNo", true) {}

int CUserTypeMess::BussDataProc(const std::wstring& reply) {
    if (TakeMarker(reply) || !IsWhole(reply, kReplyFields)) return 0;
    struUserTypeMessW m;
    m.userType = records::ReplyField(reply, 1);  // as sent: the number served the marker test only
    if (!ReadMessNo(reply, 2, m.userTypeMessNo)) return 0;
    m.userTypeMess = records::ReplyField(reply, 3);
    ReadTail(reply, 4, m);
    if (!IsNew(m.userTypeMessNo)) return 0;

    const int no = m.userTypeMessNo, op = m.operatorNo;
    const std::wstring type = text::QuoteSql(m.userType), mess = text::QuoteSql(m.userTypeMess);
    const QuotedTail t(m);
    return Store(no, L"'" + type + L"'",
                 L"insert into tUserTypeMess (userType, userTypeMessNo, userTypeMess, pubTime, validTime, "
                 L"\toperatorNo, status, note,modifyTime) values ('%s', %0d, '%s', '%s', '%s', %0d, '%s', "
                 L"'%s',datetime('now','localtime'))",
                 type.c_str(), no, mess.c_str(), t.pubTime.c_str(), t.validTime.c_str(), op, t.status.c_str(),
                 t.note.c_str());
}

int CUserTypeMess::RegisterScriptObject(HVM vm) {
    static const auto def = std::make_shared<const uie::NativeObjectDef>();
    uie::DefineNativeObject(vm, "userTypeMess", def);
    return 1;
}
