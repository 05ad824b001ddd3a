// Orlin: the host's view of a session.
//
// Life of a session:
//   IOrlin* p = NewInterface();        // constructs, loads nothing
//   p->Init(&owner, host, port, ...);  // loads the wyln transport, logs in
//   ... IOrlin operations, from the thread that called Init ...
//   ReleaseInterface(p);               // Exit, then delete
//
// Threads: the one contract of the library.
//  - The host's thread: NewInterface, Init, every IOrlin operation, Orlin::Exit
//    and ReleaseInterface are called from one and the same thread, never two
//    at once. The heartbeat timer that Init starts belongs to that thread
//    (and to the session NewInterface made there), and the heartbeat runs on
//    that thread's Qt event loop: without a running loop no heartbeat is
//    sent. Init on a thread that has no Qt event loop at all still returns
//    its result, after one log line "Init: no Qt event loop on this thread,
//    heartbeats will not be sent".
//  - The transport's thread: every IOrlinOwner callback except OnLog comes
//    from it, one inbound packet at a time. OnLog comes from both threads,
//    also at the same time. Callbacks may arrive from the moment the
//    transport logs in, so also after an Init that then fails, until Exit
//    (or ReleaseInterface) returns; Exit waits for a callback in progress,
//    so never call Exit or ReleaseInterface from inside a callback.
//  - No operation throws.
//
// Pointers that may be null: Init's pOwner (result 11, nothing else
// happens); the 7-argument Init's szApplyInfo (taken as empty) and szId (the
// transport assigns an identifier); szTargetId of SendData (then sent to the
// service), StartPrintingTask and SendPrintPrnFile (then an empty target);
// szId, szName, szIp and pTypes of SendMsgToGetSourceIdFromMsg (taken as
// empty or absent); pSendPrnParam and pReportParam (result -1). A null
// szHost or pData is handed to the transport, which refuses it. pTask and
// pStatus must not be null.
//
// Result codes (int):
//    0       success
//   -1       a transport code outside the table below, a refused attach, a
//            missing or empty file, a failed start-up client query, or a call
//            made before a successful Init (logged as
//            "<operation> refused: session not initialised")
//    1..8, 13..27
//            transport codes mapped: 1001->1 1002->2 1003->3 1004->14
//            1005->15 1251->16 1301..1305->4..8 1306..1309->17..20 1310->13
//            1501..1507->21..27
//   11       Init got no owner
//   12       the transport plug-in is missing or incomplete, its factory
//            returned nothing, or it created no client
//
// Every transport result that an operation maps is also logged as
// "[SendPrintPrnFile]_GetErrorCode:iRetErrCode=<transport code>", 0 included.
//
// The transport plug-in is "wyln.dll" on Windows; elsewhere "libwyln.so",
// looked up first in the directory of the running executable, then on the
// system's library search path.
#pragma once

#include "IOrlinOwner.h"
#include "OrlinExport.h"
#include "OrlinTypes.h"

class IOrlin
{
public:
    virtual ~IOrlin() {}

    // Loads the transport, connects to szHost:nPort, logs in under an
    // identifier the transport assigns, and starts the 3000 ms heartbeat.
    // The session's own identifier becomes "<szHost>:<nPort>".
    // nClientMode 1 turns off the heartbeat's silence test; any non-zero mode
    // makes the addressed senders re-apply for an identifier before each send.
    // Returns 0, 11, 12 or a mapped transport code. Calling Init again
    // first releases what the previous Init made, as Exit does.
    //
    // Slot order is part of the binary contract: the destructor, this Init,
    // the seven-argument Init, then the rest as declared. The Microsoft ABI
    // groups overloads of one name and lays them out last-declared first, so
    // there the seven-argument form is declared before this one.
#if defined(_MSC_VER)
    virtual int Init(IOrlinOwner* pOwner, const char* szHost, int nPort, int nLoginParam,
                     const char* const szApplyInfo, char* const szId, int nClientMode) = 0;
#endif
    virtual int Init(IOrlinOwner* pOwner, const char* szHost, int nPort, int nLoginParam, int nClientMode) = 0;

    // As above, logging in under the identifier in szId (a 260-byte buffer
    // of the caller, which may be empty and which the transport may rewrite;
    // a null szId logs in under whatever identifier the transport assigns).
    // In mode 0 an empty szId is applied for first. A login refused with
    // transport code 8 is logged as "ID init faild,reapply id", re-applied and
    // retried once. Then asks the service for its clients (module type 100,
    // status 1); -1 when that request cannot be sent.
#if !defined(_MSC_VER)
    virtual int Init(IOrlinOwner* pOwner, const char* szHost, int nPort, int nLoginParam,
                     const char* const szApplyInfo, char* const szId, int nClientMode) = 0;
#endif

    // Raw data without envelope. A null szTargetId sends pData as
    // zero-terminated text to the service (nLen unused); otherwise nLen bytes
    // go to szTargetId. Returns the mapped transport code.
    virtual int SendData(const char* szTargetId, const char* pData, int nLen, int nTimeoutMs) = 0;

    // Sends a "print" request to szTargetId. The request text is logged.
    // Returns the mapped transport code.
    virtual int StartPrintingTask(const char* szTargetId, __SCLOUD_PRINT_TASK* pTask, int nTimeoutMs) = 0;

    // Sends a file in Base64 chunks of 8388608 characters (6291456 file
    // bytes), each with the MD5 of its text, back to back without waiting for
    // answers; nTimeoutMs goes to every send. Each chunk is encoded just
    // before it is sent, so a transfer adds about 13 MiB to the peak memory
    // besides the host's structure, whatever the file's size. A null
    // szTargetId sends with an empty target. Returns -1 for a null parameter
    // or an empty file (logged as "[SendPrintPrnFile] pSendPrnParam is
    // NULL"), otherwise the mapped result of the last send attempted: the
    // first failure stops the transfer, and -1 also stands for a chunk that
    // found no memory. Every transfer that began ends with the log line
    // "[SendPrintPrnFile]SendFile:id=<target>,FileName=<name>,sVer=<sVer>,FileLen=<bytes>".
    virtual int SendPrintPrnFile(const char* szTargetId, __SCLOUD_SEND_PRN* pSendPrnParam, int nTimeoutMs) = 0;

    // Asks the service (Send) for its clients, filtered by the non-empty
    // texts, nStatus (unless -1) and the first nTypeCount module types.
    // The request text is logged. The answer arrives through OnGetClient.
    virtual int SendMsgToGetSourceIdFromMsg(const char* const szId, const char* const szName, int nTypeCount,
                                            __EM_CLOUD_MODULE_TYPE* pTypes, int nStatus, const char* szIp,
                                            int nTimeoutMs) = 0;

    // Stores the device's status; sends a "report" to the service when it
    // changed (always while printing, and whenever error entries are given).
    // The print fields are taken only while printing (iTaskId > 0 and
    // iDeviceStatus 2); texts that fill their field are cut to a terminated
    // whole-character prefix. The error entries are copied and sent from last
    // to first; sVer is never taken. Returns 0, also when the report could
    // not be sent (logged as "send Report packet faild!"); -1 for a null
    // pReportParam.
    virtual int UpgradeReportParam(__SCLOUD_UPGRADE_REPORT_PARAM* pReportParam, int nReserved) = 0;

    // Tells the peer that gave task pStatus->iTaskId (the key OnPrint
    // delivered) how it stands, as "updateTaskStatus" with the peer's own
    // task id (-1 for an unknown key); status 2 forgets the task, also when
    // the request then fails. In client mode 0 the request goes to the
    // service client of the last "getClient" list, otherwise to the task's
    // peer (an empty target for an unknown key). The request text is logged.
    // Safe against inbound "print" commands and client lists arriving at the
    // same time. Returns the mapped transport code.
    virtual int UpgradePrintStatus(__SCLOUD_UPGRADE_PRINT_STATUS* pStatus, int nTimeoutMs) = 0;
};

extern "C" {
// Constructs a session; nothing is loaded or started.
ORLIN_EXPORT IOrlin* NewInterface();
// Exits and deletes a session. A null pointer does nothing.
ORLIN_EXPORT void ReleaseInterface(IOrlin* p);
}
