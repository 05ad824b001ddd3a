// Every fixed text of the protocol: the lines handed to the host's OnLog,
// the Qt debug lines of the file sender and the fixed texts of replies.
//
// They are spelled as peers and hosts expect them, misspellings and odd
// spacing included ("faild", "packate", "_MAX_PATH"): hosts match these lines
// and peers read the reply texts, so none of them may be "corrected". Texts
// with %1.. are QString::arg patterns.
#pragma once

namespace orlin {
namespace say {

// session and transport binding
inline constexpr char NotInitialised[] = " refused: session not initialised";  // after the operation's name
inline constexpr char LoadFailed[] = "wyln.dll Load failed,errstring=";
inline constexpr char NoNewInterface[] = "NewInterface api failed";
inline constexpr char CreatorFailed[] = "m_pWylnCreator new failed";
inline constexpr char NoReleaseInterface[] = "ReleaseInterface api failed";
inline constexpr char ClientFailed[] = "m_pWylnClient create failed";
inline constexpr char ErrorCode[] = "[SendPrintPrnFile]_GetErrorCode:iRetErrCode=%1";
inline constexpr char ReapplyId[] = "ID init faild,reapply id";

// heartbeat and report
inline constexpr char HeartbeatOvertime[] = "Recv heartbeat packet overtime!";
inline constexpr char HeartbeatSendFailed[] = "send heartbeat packet faild!";
inline constexpr char HeartbeatThreadRun[] = "heartbeat packet thread run!";
inline constexpr char ReportSendFailed[] = "send Report packet faild!";
inline constexpr char ReportErrorEntry[] = "len = %1,msg=%2,_MAX_PATH=%3;";

// receive path
inline constexpr char NullData[] = "pData is NULL";
inline constexpr char FrameTooShort[] = "len";
inline constexpr char FrameLengthFailed[] = "recv packate len failed";
inline constexpr char CrcFailed[] = "CRC failed";
inline constexpr char FrameReceived[] = "Recv msg,ID=%1,Name=%2,CmdVer=%3,CmdType=%4";
inline constexpr char PacketRefused[] = "Recv data handle fail,errcode=";
inline constexpr char NotJson[] = "JsonDoc is null";
inline constexpr char HandleFailed[] = "Recv json data handle fail,errcode=";
inline constexpr char GetClientFailed[] = "Recv msg is faild";

// commands whose "data" came as an array
inline constexpr char CheckBeforePrintArray[] = "Recv json data handle warning,check before print data is arr";
inline constexpr char DeviceInfoArray[] = "Recv json data handle warning,load device info data is arr";
inline constexpr char FileTransferArray[] = "Recv json data handle warning,FileTransfer data is arr";
inline constexpr char UpgradeArray[] = "Recv json data handle warning,upgrade data is arr";

// file sender
inline constexpr char SendPrnNull[] = "[SendPrintPrnFile] pSendPrnParam is NULL";
inline constexpr char SendPrnFile[] = "[SendPrintPrnFile]SendFile:id=%1,FileName=%2,sVer=%3,FileLen=%4";
inline constexpr char DebugSendPrn0[] = "SendPrintPrnFile0";
inline constexpr char DebugSendPrn1[] = "SendPrintPrnFile1";
inline constexpr char DebugSendPrnSizes[] = "SendPrintPrnFile;SendData=%1, Base64=%2,ChunkSize=%3";
inline constexpr char DebugTotalChunks[] = "totalChunks=%1";
inline constexpr char DebugChunk[] = "i=%1,chunkSize=%2";

// reply texts
inline constexpr char PathTooLong[] = "file_path too long";

} // namespace say
} // namespace orlin
