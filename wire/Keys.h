// Every JSON key and "func" name of the protocol, spelled as on the wire.
#pragma once

#include <QLatin1String>

namespace orlin {

// Constant texts: constexpr so that tables built from them in other files
// never depend on the order of static initialisation.
template <int N>
constexpr QLatin1String Latin1(const char (&s)[N])
{
    return QLatin1String(s, N - 1);
}

namespace key {

// envelope
inline constexpr QLatin1String Header = Latin1("header");
inline constexpr QLatin1String Body = Latin1("body");
inline constexpr QLatin1String Version = Latin1("version");
inline constexpr QLatin1String MsgType = Latin1("msg_type");
inline constexpr QLatin1String MsgId = Latin1("msg_id");
inline constexpr QLatin1String SourceId = Latin1("source_id");
inline constexpr QLatin1String TargetId = Latin1("target_id");
inline constexpr QLatin1String Timestamp = Latin1("timestamp");
inline constexpr QLatin1String Func = Latin1("func");
inline constexpr QLatin1String Data = Latin1("data");
inline constexpr QLatin1String Message = Latin1("message");

// results
inline constexpr QLatin1String Code = Latin1("code");
inline constexpr QLatin1String Msg = Latin1("msg");
inline constexpr QLatin1String RetType = Latin1("ret_type");

// device status (heartbeat, report)
inline constexpr QLatin1String DeviceStatus = Latin1("device_status");
inline constexpr QLatin1String DeviceDoing = Latin1("device_doing");
inline constexpr QLatin1String ConnectStatus = Latin1("connect_status");
inline constexpr QLatin1String AutoFlashStatus = Latin1("auto_flash_status");
inline constexpr QLatin1String HeadTempStatus = Latin1("head_temp_status");
inline constexpr QLatin1String PrintInfo = Latin1("print_info");
inline constexpr QLatin1String TaskId = Latin1("task_id");
inline constexpr QLatin1String Progress = Latin1("progress");
inline constexpr QLatin1String Capacity = Latin1("capacity");
inline constexpr QLatin1String PrintedArea = Latin1("printed_area");
inline constexpr QLatin1String PrintStatus = Latin1("print_status");
inline constexpr QLatin1String PrintDoneCopys = Latin1("print_done_copys");
inline constexpr QLatin1String TotalPrintCopys = Latin1("total_print_copys");
inline constexpr QLatin1String PrintSpanTime = Latin1("print_span_time");
inline constexpr QLatin1String PrintRemainTime = Latin1("print_Remain_time");
inline constexpr QLatin1String UpgradeInfo = Latin1("upgrade_info");
inline constexpr QLatin1String Process = Latin1("process");
inline constexpr QLatin1String ErrorInfo = Latin1("error_info");

// print tasks
inline constexpr QLatin1String Type = Latin1("type");
inline constexpr QLatin1String FilePath = Latin1("file_path");
inline constexpr QLatin1String PrintSchemeId = Latin1("print_scheme_id");
inline constexpr QLatin1String PrintCount = Latin1("print_count");
inline constexpr QLatin1String BidirectOffset = Latin1("bidirect_offset");
inline constexpr QLatin1String StepOffset = Latin1("step_offset");
inline constexpr QLatin1String WorkstationW = Latin1("workstation_w");
inline constexpr QLatin1String WorkstationH = Latin1("workstation_h");
inline constexpr QLatin1String PrintList = Latin1("print_list");
inline constexpr QLatin1String HistoryList = Latin1("history_list");
inline constexpr QLatin1String TaskCount = Latin1("task_count");
inline constexpr QLatin1String TaskInfo = Latin1("task_info");
inline constexpr QLatin1String TaskIndex = Latin1("task_index");
inline constexpr QLatin1String PrintMode = Latin1("print_mode");
inline constexpr QLatin1String CurMode = Latin1("cur_mode");
inline constexpr QLatin1String TaskStatus = Latin1("task_status");
inline constexpr QLatin1String PrintCopys = Latin1("print_copys");
inline constexpr QLatin1String PrintH = Latin1("print_h");
inline constexpr QLatin1String PrintW = Latin1("print_w");
inline constexpr QLatin1String TaskH = Latin1("task_h");
inline constexpr QLatin1String TaskW = Latin1("task_w");
inline constexpr QLatin1String ThumbPath = Latin1("thumb_path");
inline constexpr QLatin1String TaskName = Latin1("task_name");
inline constexpr QLatin1String Name = Latin1("name");
inline constexpr QLatin1String Index = Latin1("index");
inline constexpr QLatin1String PrintModeIndex = Latin1("print_mode_index");
inline constexpr QLatin1String Id = Latin1("id");
inline constexpr QLatin1String Status = Latin1("status");

// file transfer
inline constexpr QLatin1String FileName = Latin1("file_name");
inline constexpr QLatin1String FileSize = Latin1("file_size");
inline constexpr QLatin1String ChunkSize = Latin1("chunk_size");
inline constexpr QLatin1String Md5 = Latin1("md5");
inline constexpr QLatin1String TotalChunks = Latin1("total_chunks");
inline constexpr QLatin1String ChunkIndex = Latin1("chunk_index");
inline constexpr QLatin1String FileType = Latin1("file_type");
inline constexpr QLatin1String FileInfo = Latin1("file_info");
inline constexpr QLatin1String ImgWidth = Latin1("img_width");
inline constexpr QLatin1String ImgHeight = Latin1("img_height");
inline constexpr QLatin1String ImgLinesize = Latin1("img_linesize");
inline constexpr QLatin1String ImgBitcount = Latin1("img_bitcount");
inline constexpr QLatin1String ImgChannelCount = Latin1("img_channel_count");
inline constexpr QLatin1String ImgXresolution = Latin1("img_xresolution");
inline constexpr QLatin1String ImgYresolution = Latin1("img_yresolution");

// clients
inline constexpr QLatin1String Ip = Latin1("ip");
inline constexpr QLatin1String CreateTime = Latin1("create_time");
inline constexpr QLatin1String UpdateTime = Latin1("update_time");

// machine actions
inline constexpr QLatin1String Motor = Latin1("motor");
inline constexpr QLatin1String Dir = Latin1("dir");
inline constexpr QLatin1String RunLen = Latin1("run_len");
inline constexpr QLatin1String Speed = Latin1("speed");
inline constexpr QLatin1String AccLen = Latin1("acc_len");
inline constexpr QLatin1String RunType = Latin1("run_type");
inline constexpr QLatin1String IRunType = Latin1("iRunType");
inline constexpr QLatin1String HeadNum = Latin1("head_num");
inline constexpr QLatin1String SigType = Latin1("sig_type");

// print parameters, device information
inline constexpr QLatin1String ParamType = Latin1("param_type");
inline constexpr QLatin1String PrintScheme = Latin1("print_scheme");
inline constexpr QLatin1String PrintSchemeName = Latin1("print_scheme_name");
inline constexpr QLatin1String Canvas = Latin1("canvas");
inline constexpr QLatin1String CanvasW = Latin1("canvas_w");
inline constexpr QLatin1String CanvasH = Latin1("canvas_h");
inline constexpr QLatin1String InfoType = Latin1("info_type");
inline constexpr QLatin1String MbInfo = Latin1("mb_info");
inline constexpr QLatin1String MbSnId = Latin1("mb_sn_id");
inline constexpr QLatin1String MbSerial = Latin1("mb_serial");
inline constexpr QLatin1String MbLogicVer = Latin1("mb_logic_ver");
inline constexpr QLatin1String MbProgramVer = Latin1("mb_program_ver");
inline constexpr QLatin1String ConfigureVer = Latin1("configure_ver");
inline constexpr QLatin1String ParamterVer = Latin1("paramter_ver");
inline constexpr QLatin1String SoftInfo = Latin1("soft_info");
inline constexpr QLatin1String SoftVer = Latin1("soft_ver");
inline constexpr QLatin1String DevManagerVer = Latin1("dev_manager_ver");
inline constexpr QLatin1String DataProcessVer = Latin1("data_process_ver");
inline constexpr QLatin1String HbInfo = Latin1("hb_info");
inline constexpr QLatin1String DbInfo = Latin1("db_info");
inline constexpr QLatin1String EbInfo = Latin1("eb_info");
inline constexpr QLatin1String CardType = Latin1("card_type");
inline constexpr QLatin1String LogicType = Latin1("logic_type");
inline constexpr QLatin1String HardwareType = Latin1("hardware_type");
inline constexpr QLatin1String LogicVer = Latin1("logic_ver");
inline constexpr QLatin1String McnVer = Latin1("mcn_ver");

// Wi-Fi, statistics
inline constexpr QLatin1String Password = Latin1("password");
inline constexpr QLatin1String IpInWifi = Latin1("ip_in_wifi");
inline constexpr QLatin1String Year = Latin1("year");
inline constexpr QLatin1String Month = Latin1("month");
inline constexpr QLatin1String Day = Latin1("day");
inline constexpr QLatin1String TotalInk = Latin1("total_ink");
inline constexpr QLatin1String TotalArea = Latin1("total_area");
inline constexpr QLatin1String TotalLen = Latin1("total_len");
inline constexpr QLatin1String PrintArea = Latin1("print_area");
inline constexpr QLatin1String PrintLen = Latin1("print_len");
inline constexpr QLatin1String InkK = Latin1("k");
inline constexpr QLatin1String InkC = Latin1("c");
inline constexpr QLatin1String InkM = Latin1("m");
inline constexpr QLatin1String InkY = Latin1("y");

} // namespace key

namespace func {

inline constexpr QLatin1String GetClient = Latin1("getClient");
inline constexpr QLatin1String Print = Latin1("print");
inline constexpr QLatin1String MotorRun = Latin1("motor_run");
inline constexpr QLatin1String Sig = Latin1("sig");
inline constexpr QLatin1String LoadParam = Latin1("load_param");
inline constexpr QLatin1String Clean = Latin1("clean");
inline constexpr QLatin1String LoadInk = Latin1("load_ink");
inline constexpr QLatin1String RunMachine = Latin1("run_machine");
inline constexpr QLatin1String Statistics = Latin1("statistics");
inline constexpr QLatin1String FileTransfer = Latin1("file_transfer");
inline constexpr QLatin1String LoadDeviceInfo = Latin1("load_device_info");
inline constexpr QLatin1String Upgrade = Latin1("upgrade");
inline constexpr QLatin1String CheckBeforePrint = Latin1("check_before_print");
inline constexpr QLatin1String ConfigWifiInfo = Latin1("config_wifi_info");
inline constexpr QLatin1String AddPrintTask = Latin1("add_print_task");
inline constexpr QLatin1String GetTaskListInfo = Latin1("get_task_list_info");
inline constexpr QLatin1String ClientShowType = Latin1("client_show_type");
inline constexpr QLatin1String SetTaskParam = Latin1("set_task_param");
inline constexpr QLatin1String Report = Latin1("report");
inline constexpr QLatin1String UpdateTaskStatus = Latin1("updateTaskStatus");

} // namespace func

namespace value {

// The service's identifier: target of heartbeats and reports.
inline constexpr QLatin1String ServiceId = Latin1("wyln");
// The only "message" of a "getClient" list that is accepted.
inline constexpr QLatin1String Success = Latin1("success");

} // namespace value

// Message types of the envelope's "msg_type".
enum MsgType : int
{
    MsgRequest = 0,
    MsgReply = 1,
    MsgReport = 2,
    MsgHeartbeat = 3
};

// Results of the receive path's handlers (besides 0 and transport codes).
enum HandlerResult : int
{
    ResultOk = 0,
    ResultMissingMember = 28,
    ResultPathTooLong = 29,
    ResultPeerFailed = 30,
    ResultNotJson = 33,
    ResultRefused = 35
};

// Time-out of every send the library makes on its own.
constexpr int kDefaultTimeoutMs = 3000;

} // namespace orlin
