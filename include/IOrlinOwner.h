// The host's callback interface.
//
// The host implements IOrlinOwner and hands it to IOrlin::Init. The library
// never owns or deletes it; the object must outlive the session (the library
// calls it until Exit has destroyed the transport client).
//
// Threads: IOrlin.h states which thread calls what. A command's reply is
// sent after its callback returns.
//
// Ownership. Every structure passed by pointer belongs to the library and is
// valid only during the call; copy what you want to keep. A result structure
// (pResult) is zero-filled before the call and read after it returns.
// Arrays that the host places into a result structure stay the host's: the
// library reads them while it builds the reply and hands each one back
// through OnFreeMemory; do not touch an array after it was handed back.
//
// Inbound text that is not a JSON document is logged as "JsonDoc is null"
// and "Recv json data handle fail,errcode=33" and dropped. An object that
// repeats a key is read as Qt's JSON parser reads it, at every depth: the
// key's last value (in objects of more than 16 members, the one the parser's
// sort leaves, which need not be the last).
//
// Results. Where a callback returns bool, false means "refused": the library
// logs "Recv json data handle fail,errcode=35" (or, for OnRecvPacket,
// "Recv data handle fail,errcode=35") and, for OnPrint, sends no reply.
// OnReport's result counts for inbound "report" messages, not for heartbeats.
#pragma once

#include "OrlinTypes.h"

class IOrlinOwner
{
public:
    virtual ~IOrlinOwner() {}

    // Every diagnostic text of the library: 8-bit, zero-terminated, without
    // prefix, time or line end. Valid only during the call.
    virtual void OnLog(const char* szText) = 0;
    // Gives back an array the host placed into a result structure
    // ("get_task_list_info", "load_param", "load_device_info", "statistics").
    virtual void OnFreeMemory(void* p) = 0;
    // A framed binary packet (command version 0, type 1) passed its checks.
    // pPayload is not zero-terminated; its length is the little-endian 32-bit
    // value stored 8 bytes before it (the frame's length field).
    virtual bool OnRecvPacket(const char* szPeerId, const char* pPayload) = 0;
    // A "getClient" client list. The type-100 record is not listed: it names
    // the peer that receives task-status updates.
    virtual void OnGetClient(__SCLOUD_GET_CLIENT* pList) = 0;
    // An inbound "print" command. Fill pResult and return true to answer;
    // false refuses the command and no reply is sent. When the command names
    // a print file (a path of 4 bytes or more), pTask->iTaskId is the
    // library's key for the peer's task, which UpgradePrintStatus translates
    // back; the same peer and task id always give the same key. Keys come
    // from the C library's rand() reseeded with the current second, so tasks
    // registered within one second share a key (the most recent wins when it
    // is translated back).
    virtual bool OnPrint(__SCLOUD_PRINT_TASK* pTask, __SCLOUD_PRINT_RESULT* pResult) = 0;
    // A print result (a reply whose "func" is "getClient").
    virtual bool OnPrintResult(__SCLOUD_PRINT_RESULT* pResult) = 0;
    virtual bool OnSig(__SCLOUD_SIG* pCmd) = 0;
    virtual void OnMotorRun(__SCLOUD_MOTOR_RUN* pCmd) = 0;
    // Fill pResult; pSchemes and pCanvases come back through OnFreeMemory
    // when their count is positive.
    virtual void OnLoadParam(__SCLOUD_LOAD_PARAM* pCmd, __SCLOUD_LOAD_PARAM_RESULT* pResult) = 0;
    virtual void OnClean(__SCLOUD_CLEAN* pCmd) = 0;
    virtual void OnLoadInk(__SCLOUD_LOAD_INK* pCmd) = 0;
    virtual void OnRunMachine(__SCLOUD_RUN_MACHINE* pCmd) = 0;
    // Fill pResult; pTaskInfo comes back through OnFreeMemory when
    // iTaskCount is positive.
    virtual void OnStatistics(__SCLOUD_STATISTICS* pCmd, __SCLOUD_STATISTICS_RESULT* pResult) = 0;
    // An accepted file chunk (digest checked, data decoded). Store it and
    // fill pResult with the file's path and a code; both go back to the peer.
    // A refused chunk never gets here: the peer is answered with code 1 and
    // an empty path.
    virtual void OnFileTransfer(__SCLOUD_FILE_TRANSFER* pChunk, __SCLOUD_FILE_TRANSFER_RESULT* pResult) = 0;
    // Fill pResult; each card array with a positive count comes back through
    // OnFreeMemory.
    virtual void OnLoadDeviceInfo(__SCLOUD_LOAD_DEVICE_INFO* pCmd, __SCLOUD_LOAD_DEVICE_INFO_RESULT* pResult) = 0;
    virtual void OnUpgrade(__SCLOUD_UPGRADE* pCmd, __SCLOUD_CMD_RESULT* pResult) = 0;
    virtual void OnCheckBeforePrint(__SCLOUD_CHECK_BEFORE_PRINT* pCmd, __SCLOUD_CMD_RESULT* pResult) = 0;
    // The peer's status after an inbound report or heartbeat. pErrorInfo is
    // valid only during the call.
    virtual bool OnReport(__SCLOUD_UPGRADE_REPORT_PARAM* pPeerParam) = 0;
    virtual void OnConfigWifiInfo(__SCLOUD_CONFIG_WIFI_INFO* pCmd, __SCLOUD_CMD_RESULT* pResult) = 0;
    virtual void OnAddPrintTask(__SCLOUD_ADD_PRINT_TASK* pCmd, __SCLOUD_TASK_RESULT* pResult) = 0;
    virtual bool OnAddPrintTaskResult(__SCLOUD_TASK_RESULT* pResult) = 0;
    // Fill pResult. Counts and arrays are read together: at most the counted
    // entries, none from a null array. Every non-null array comes back
    // through OnFreeMemory, also when its count is 0 or less, before the
    // reply is sent: the print modes of entry 0, 1, ... up to the count,
    // then the waiting-task array, then the history array. Print modes of
    // entries beyond iPrintTaskCount are not read and do not come back.
    virtual void OnGetTaskListInfo(__SCLOUD_GET_TASK_LIST_INFO* pCmd, __SCLOUD_GET_TASK_LIST_INFO_RESULT* pResult) = 0;
    // The arrays belong to the library and are valid only during the call.
    // A list counts "task_count" entries; entries the peer did not send are
    // zero. A count without an array (no "task_info" array, a count above
    // 16384, or more entries than memory allows) arrives with a null array.
    virtual bool OnGetTaskListInfoResult(__SCLOUD_GET_TASK_LIST_INFO_RESULT* pResult) = 0;
    virtual void OnClientShowType(__SCLOUD_CLIENT_SHOW_TYPE* pCmd, __SCLOUD_CMD_RESULT* pResult) = 0;
    virtual bool OnClientShowTypeResult(__SCLOUD_CMD_RESULT* pResult) = 0;
    virtual void OnSetTaskParam(__SCLOUD_SET_TASK_PARAM* pCmd, __SCLOUD_TASK_RESULT* pResult) = 0;
    virtual bool OnSetTaskParamResult(__SCLOUD_TASK_RESULT* pResult) = 0;
};
