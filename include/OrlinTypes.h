// Plain structures exchanged between the Orlin library and its host.
//
// The layout of every structure is part of the binary contract: natural
// alignment, no packing, fields in the order given here. Every structure
// starts with the 16-bit version field sVer. Fixed character arrays hold
// UTF-8 text; unless a field says otherwise the text is zero-terminated
// inside the array.
//
// Texts longer than their field (inbound direction):
//  - a zero-terminated field receives the longest whole-character prefix
//    that leaves room for the terminator, so it never splits a UTF-8
//    character;
//  - the fields documented as "full width" (client records of a "getClient"
//    list, the three Wi-Fi texts, the upgrade's file path) receive the
//    text's first bytes up to the field's size, byte for byte: a text of the
//    field's size or longer fills the field with no terminator, and a
//    character that straddles the end of the field is cut there;
//  - a file path that does not fit its field is never delivered cut, because
//    a cut path names another file: a "print" command carrying one is refused
//    with result 29 and no reply, an "add_print_task" command carrying one is
//    answered {"code":29,"msg":"file_path too long","task_id":0} without
//    calling the host. Neither reaches the host or the task registry; both
//    are logged as "Recv json data handle fail,errcode=29" (for
//    "add_print_task", the transport's code instead when that answer cannot
//    be sent).
#pragma once

#include <stdint.h>

// Module kinds of a "getClient" record. The library forwards every value
// unchanged; it interprets only EM_CLOUD_MODULE_SERVICE (100), the client
// that receives task-status updates.
enum __EM_CLOUD_MODULE_TYPE : int32_t
{
    EM_CLOUD_MODULE_UNKNOWN = 0,
    EM_CLOUD_MODULE_SERVICE = 100
};

// One error entry of a device report. Outbound, all 260 bytes of szMsg
// travel, so terminate the text and zero what follows. Inbound, szMsg holds
// the 260 bytes the peer sent: full width, with no terminator when none of
// them is zero; it stays empty when the peer's "msg" is not the 348-character
// Base64 of 260 bytes.
struct __SCLOUD_ERROR_INFO
{
    int32_t iCode;
    char szMsg[260];
};
typedef __SCLOUD_ERROR_INFO SCLOUD_ERROR_INFO;

// The device-status record (UpgradeReportParam, heartbeats, reports).
// A default-constructed record is all zero except sVer 3, iDeviceStatus 1
// and iProgress 100.
struct __SCLOUD_UPGRADE_REPORT_PARAM
{
    int16_t sVer;
    int32_t iDeviceStatus;     // 1 idle, 2 printing, other values the host's
    int32_t iTaskId;
    int32_t iProgress;
    int32_t iPrintStatus;
    int32_t iConnectStatus;
    char szCapacity[32];
    char szPrintedArea[32];
    int32_t iPrintDoneCopys;
    int32_t iTotalPrintCopys;
    int32_t iUpgradeProcess;
    int32_t iErrorCount;       // entries at pErrorInfo
    __SCLOUD_ERROR_INFO* pErrorInfo;
    int32_t iAutoFlashStatus;
    int32_t iHeadTempStatus;
    int32_t iPrintSpanTime;
    int32_t iPrintRemainTime;

#ifdef __cplusplus
    __SCLOUD_UPGRADE_REPORT_PARAM()
        : sVer(3), iDeviceStatus(1), iTaskId(0), iProgress(100), iPrintStatus(0), iConnectStatus(0),
          szCapacity(), szPrintedArea(), iPrintDoneCopys(0), iTotalPrintCopys(0), iUpgradeProcess(0),
          iErrorCount(0), pErrorInfo(nullptr), iAutoFlashStatus(0), iHeadTempStatus(0),
          iPrintSpanTime(0), iPrintRemainTime(0)
    {
    }
#endif
};

// ---- print tasks -----------------------------------------------------------

struct __SCLOUD_PRINT_TASK
{
    int16_t sVer;
    int32_t iType;
    int32_t iPrintCount;
    int32_t iTaskId;
    int32_t iPrintSchemeId;
    int32_t iBidirectOffset;
    int32_t iStepOffset;
    float fWorkstationW;
    float fWorkstationH;
    char szFilePath[260];
};

struct __SCLOUD_PRINT_RESULT
{
    int16_t sVer;
    int32_t iType;
    int32_t iTaskId;
};

struct __SCLOUD_ADD_PRINT_TASK
{
    int16_t sVer;
    char szFilePath[260];
};

// Result of "add_print_task" and "set_task_param".
struct __SCLOUD_TASK_RESULT
{
    int16_t sVer;
    int32_t iTaskId;
    int32_t iCode;
    char szMsg[260];
};

// Result of "client_show_type", "check_before_print", "config_wifi_info"
// and "upgrade".
struct __SCLOUD_CMD_RESULT
{
    int16_t sVer;
    int32_t iCode;
    char szMsg[260];
};

struct __SCLOUD_GET_TASK_LIST_INFO
{
    int16_t sVer;
    int32_t iType;
};

struct __SCLOUD_PRINT_MODE
{
    char szName[32];
    int32_t iIndex;
};

struct __SCLOUD_PRINT_TASK_INFO
{
    int32_t iTaskId;
    int32_t iTaskIndex;
    int32_t iPrintModeCount;
    __SCLOUD_PRINT_MODE* pPrintMode;
    int32_t iCurMode;
    int32_t iTaskStatus;
    int32_t iPrintCopys;
    double dPrintH;
    double dPrintW;
    double dTaskH;
    double dTaskW;
    char szThumbPath[260];
    char szTaskName[260];
};

struct __SCLOUD_HISTORY_TASK_INFO
{
    int32_t iTaskId;
    int32_t iTaskIndex;
    char szPrintMode[32];
    int32_t iTaskStatus;
    double dPrintH;
    double dPrintW;
    double dTaskH;
    double dTaskW;
    char szThumbPath[260];
    char szTaskName[260];
};

struct __SCLOUD_GET_TASK_LIST_INFO_RESULT
{
    int16_t sVer;
    int32_t iPrintTaskCount;
    __SCLOUD_PRINT_TASK_INFO* pPrintTaskInfo;
    int32_t iHistoryTaskCount;
    __SCLOUD_HISTORY_TASK_INFO* pHistoryTaskInfo;
};

struct __SCLOUD_SET_TASK_PARAM
{
    int16_t sVer;
    int32_t iTaskId;
    int32_t iPrintModeIndex;   // -2: not given
    int32_t iPrintCopys;       // -2: not given
};

struct __SCLOUD_CLIENT_SHOW_TYPE
{
    int16_t sVer;
    int32_t iType;
};

// ---- file transfer, reports, task status ----------------------------------

// A print file to send. The host allocates
// offsetof(__SCLOUD_SEND_PRN, szFileData) + iFileLen bytes (at least
// sizeof(__SCLOUD_SEND_PRN)) and places the file's bytes at szFileData; the
// library reads exactly iFileLen bytes from there.
struct __SCLOUD_SEND_PRN
{
    int16_t sVer;
    char szFileName[262];
    int32_t iFileLen;
    char szFileData[4];
};

// One inbound file chunk; pData holds iChunkSize decoded bytes followed by a
// zero byte, or is null when the chunk carried no data. pData starts on a
// 4096-byte boundary, so the host may write it with unbuffered (direct) file
// I/O as it is; it stays valid until OnFileTransfer returns. A chunk reaches the
// host only when its text has "chunk_size" characters and matches its MD5;
// text that is not Base64 arrives with iChunkSize 0. szMd5 is all zero when
// the chunk carried no "md5". Image sizes arrive as JSON numbers or decimal
// strings; other values give 0.
// A "file_name" longer than 259 bytes is cut to its longest whole-character
// prefix that fits: the chunk still arrives, every chunk of one transfer is
// cut alike, and the reply's file_path tells the peer where the file went.
struct __SCLOUD_FILE_TRANSFER
{
    int16_t sVer;
    unsigned char szMd5[16];
    int32_t iTotalChunks;
    int32_t iChunkIndex;
    int64_t llFileSize;
    int32_t iChunkSize;
    char szFileName[260];
    int32_t iReserved;
    int32_t iFileType;
    uint64_t ullImgWidth;
    uint64_t ullImgHeight;
    uint64_t ullImgLinesize;
    int32_t iImgBitcount;
    int32_t iImgChannelCount;
    double dImgXresolution;
    double dImgYresolution;
    unsigned char* pData;
};

struct __SCLOUD_FILE_TRANSFER_RESULT
{
    int16_t sVer;
    char szFilePath[262];
    int32_t iCode;
};

struct __SCLOUD_UPGRADE_PRINT_STATUS
{
    int16_t sVer;
    int32_t iTaskId;
    int32_t iStatus;           // 2 also forgets the task
};

// ---- clients -------------------------------------------------------------

// One client record. Text fields are full width: a text of the field's size
// or longer fills the field with its first bytes and has no terminator.
struct __SCLOUD_CLIENT_INFO
{
    int32_t iType;
    int32_t iStatus;
    char szId[32];
    char szName[260];
    char szCreateTime[32];
    char szUpdateTime[32];
};

struct __SCLOUD_GET_CLIENT
{
    int16_t sVer;
    int32_t iCount;
    __SCLOUD_CLIENT_INFO* pClients;
};

// ---- machine actions -------------------------------------------------------

struct __SCLOUD_MOTOR_RUN
{
    int16_t sVer;
    int32_t iMotor;
    int32_t iDir;
    float fRunLen;
    float fSpeed;
    float fAccLen;
    int32_t iRunType;
    float fIRunType;
};

struct __SCLOUD_CLEAN
{
    int16_t sVer;
    int32_t iType;
    int32_t iHeadNum;
};

struct __SCLOUD_LOAD_INK
{
    int16_t sVer;
    int32_t iHeadNum;
};

struct __SCLOUD_RUN_MACHINE
{
    int16_t sVer;
    int32_t iType;
};

struct __SCLOUD_SIG
{
    int16_t sVer;
    int32_t iSigType;
};

// ---- print parameters ------------------------------------------------------

struct __SCLOUD_LOAD_PARAM
{
    int16_t sVer;
    int32_t iParamType;
};

struct __SCLOUD_PRINT_SCHEME
{
    char szPrintSchemeName[260];
    int32_t iPrintSchemeId;
};

struct __SCLOUD_CANVAS
{
    float fCanvasW;
    float fCanvasH;
};

struct __SCLOUD_LOAD_PARAM_RESULT
{
    int16_t sVer;
    int32_t iSchemeCount;
    __SCLOUD_PRINT_SCHEME* pSchemes;
    int32_t iCanvasCount;
    __SCLOUD_CANVAS* pCanvases;
};

// ---- device information ----------------------------------------------------

struct __SCLOUD_LOAD_DEVICE_INFO
{
    int16_t sVer;
    int32_t iInfoType;
};

struct __SCLOUD_CARD_INFO
{
    int32_t iIndex;
    char szCardType[32];
    char szLogicType[32];
    char szHardwareType[32];
    char szLogicVer[32];
    char szMcnVer[32];
};

struct __SCLOUD_LOAD_DEVICE_INFO_RESULT
{
    int16_t sVer;
    char szMbSnId[64];
    char szMbSerial[32];
    char szMbLogicVer[32];
    char szMbProgramVer[32];
    char szConfigureVer[32];
    char szParamterVer[32];
    char szSoftVer[32];
    char szDevManagerVer[32];
    char szDataProcessVer[32];
    int32_t iHbCount;
    __SCLOUD_CARD_INFO* pHbInfo;
    int32_t iDbCount;
    __SCLOUD_CARD_INFO* pDbInfo;
    int32_t iEbCount;
    __SCLOUD_CARD_INFO* pEbInfo;
};

// ---- pre-print check, Wi-Fi, statistics, upgrade -----------------------------

struct __SCLOUD_CHECK_BEFORE_PRINT
{
    int16_t sVer;
    double dCanvasW;
    double dCanvasH;
    int32_t iPrintSchemeId;
};

// Text fields are full width: a text of the field's size or longer fills the
// field with its first bytes and has no terminator. The password is user
// data: the library never logs it.
struct __SCLOUD_CONFIG_WIFI_INFO
{
    int16_t sVer;
    char szName[260];
    char szPassword[32];
    char szIpInWifi[32];
};

struct __SCLOUD_STATISTICS
{
    int16_t sVer;
    int32_t iYear;
    int32_t iMonth;
    int32_t iDay;
};

struct __SCLOUD_TASK_STATISTICS
{
    char szTaskName[260];
    float fPrintArea;
    float fPrintLen;
    float fK;
    float fC;
    float fM;
    float fY;
};

struct __SCLOUD_STATISTICS_RESULT
{
    int16_t sVer;
    float fTotalInk;
    float fTotalArea;
    float fTotalLen;
    int32_t iTaskCount;
    __SCLOUD_TASK_STATISTICS* pTaskInfo;
};

// szFilePath is full width: a path of 260 bytes or more fills the field with
// its first 260 bytes and has no terminator.
struct __SCLOUD_UPGRADE
{
    int16_t sVer;
    char szFilePath[260];
    int32_t iType;
};
