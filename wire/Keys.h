// Every JSON key and "func" name of the protocol, spelled as on the wire.
#pragma once

#include <QLatin1String>

namespace orlin {

// Constant texts: constexpr so that tables built from them in other files
// never depend on the order of static initialisation.
template <int N>
constexpr QLatin1String Text(const char (&s)[N])
{
    return QLatin1String(s, N - 1);
}

namespace key {

// envelope
inline constexpr QLatin1String Header = Text("header");
inline constexpr QLatin1String Body = Text("body");
inline constexpr QLatin1String Version = Text("version");
inline constexpr QLatin1String MsgType = Text("msg_type");
inline constexpr QLatin1String MsgId = Text("msg_id");
inline constexpr QLatin1String SourceId = Text("source_id");
inline constexpr QLatin1String TargetId = Text("target_id");
inline constexpr QLatin1String Timestamp = Text("timestamp");
inline constexpr QLatin1String Func = Text("func");
inline constexpr QLatin1String Data = Text("data");
inline constexpr QLatin1String Message = Text("message");

// results
inline constexpr QLatin1String Code = Text("code");
inline constexpr QLatin1String Msg = Text("msg");
inline constexpr QLatin1String RetType = Text("ret_type");

// device status (heartbeat, report)
inline constexpr QLatin1String DeviceStatus = Text("device_status");
inline constexpr QLatin1String DeviceDoing = Text("device_doing");
inline constexpr QLatin1String ConnectStatus = Text("connect_status");
inline constexpr QLatin1String AutoFlashStatus = Text("auto_flash_status");
inline constexpr QLatin1String HeadTempStatus = Text("head_temp_status");
inline constexpr QLatin1String PrintInfo = Text("print_info");
inline constexpr QLatin1String TaskId = Text("task_id");
inline constexpr QLatin1String Progress = Text("progress");
inline constexpr QLatin1String Capacity = Text("capacity");
inline constexpr QLatin1String PrintedArea = Text("printed_area");
inline constexpr QLatin1String PrintStatus = Text("print_status");
inline constexpr QLatin1String PrintDoneCopys = Text("print_done_copys");
inline constexpr QLatin1String TotalPrintCopys = Text("total_print_copys");
inline constexpr QLatin1String PrintSpanTime = Text("print_span_time");
inline constexpr QLatin1String PrintRemainTime = Text("print_Remain_time");
inline constexpr QLatin1String UpgradeInfo = Text("upgrade_info");
inline constexpr QLatin1String Process = Text("process");
inline constexpr QLatin1String ErrorInfo = Text("error_info");

// print tasks
inline constexpr QLatin1String Type = Text("type");
inline constexpr QLatin1String FilePath = Text("file_path");
inline constexpr QLatin1String PrintSchemeId = Text("print_scheme_id");
inline constexpr QLatin1String PrintCount = Text("print_count");
inline constexpr QLatin1String BidirectOffset = Text("bidirect_offset");
inline constexpr QLatin1String StepOffset = Text("step_offset");
inline constexpr QLatin1String WorkstationW = Text("workstation_w");
inline constexpr QLatin1String WorkstationH = Text("workstation_h");
inline constexpr QLatin1String PrintList = Text("print_list");
inline constexpr QLatin1String HistoryList = Text("history_list");
inline constexpr QLatin1String TaskCount = Text("task_count");
inline constexpr QLatin1String TaskInfo = Text("task_info");
inline constexpr QLatin1String TaskIndex = Text("task_index");
inline constexpr QLatin1String PrintMode = Text("print_mode");
inline constexpr QLatin1String CurMode = Text("cur_mode");
inline constexpr QLatin1String TaskStatus = Text("task_status");
inline constexpr QLatin1String PrintCopys = Text("print_copys");
inline constexpr QLatin1String PrintH = Text("print_h");
inline constexpr QLatin1String PrintW = Text("print_w");
inline constexpr QLatin1String TaskH = Text("task_h");
inline constexpr QLatin1String TaskW = Text("task_w");
inline constexpr QLatin1String ThumbPath = Text("thumb_path");
inline constexpr QLatin1String TaskName = Text("task_name");
inline constexpr QLatin1String Name = Text("name");
inline constexpr QLatin1String Index = Text("index");
inline constexpr QLatin1String PrintModeIndex = Text("print_mode_index");
inline constexpr QLatin1String Id = Text("id");
inline constexpr QLatin1String Status = Text("status");

// file transfer
inline constexpr QLatin1String FileName = Text("file_name");
inline constexpr QLatin1String FileSize = Text("file_size");
inline constexpr QLatin1String ChunkSize = Text("chunk_size");
inline constexpr QLatin1String Md5 = Text("md5");
inline constexpr QLatin1String TotalChunks = Text("total_chunks");
inline constexpr QLatin1String ChunkIndex = Text("chunk_index");
inline constexpr QLatin1String FileType = Text("file_type");
inline constexpr QLatin1String FileInfo = Text("file_info");
inline constexpr QLatin1String ImgWidth = Text("img_width");
inline constexpr QLatin1String ImgHeight = Text("img_height");
inline constexpr QLatin1String ImgLinesize = Text("img_linesize");
inline constexpr QLatin1String ImgBitcount = Text("img_bitcount");
inline constexpr QLatin1String ImgChannelCount = Text("img_channel_count");
inline constexpr QLatin1String ImgXresolution = Text("img_xresolution");
inline constexpr QLatin1String ImgYresolution = Text("img_yresolution");

// clients
inline constexpr QLatin1String Ip = Text("ip");
inline constexpr QLatin1String CreateTime = Text("create_time");
inline constexpr QLatin1String UpdateTime = Text("update_time");

// machine actions
inline constexpr QLatin1String Motor = Text("motor");
inline constexpr QLatin1String Dir = Text("dir");
inline constexpr QLatin1String RunLen = Text("run_len");
inline constexpr QLatin1String Speed = Text("speed");
inline constexpr QLatin1String AccLen = Text("acc_len");
inline constexpr QLatin1String RunType = Text("run_type");
inline constexpr QLatin1String IRunType = Text("iRunType");
inline constexpr QLatin1String HeadNum = Text("head_num");
inline constexpr QLatin1String SigType = Text("sig_type");

// print parameters, device information
inline constexpr QLatin1String ParamType = Text("param_type");
inline constexpr QLatin1String PrintScheme = Text("print_scheme");
inline constexpr QLatin1String PrintSchemeName = Text("print_scheme_name");
inline constexpr QLatin1String Canvas = Text("canvas");
inline constexpr QLatin1String CanvasW = Text("canvas_w");
inline constexpr QLatin1String CanvasH = Text("canvas_h");
inline constexpr QLatin1String InfoType = Text("info_type");
inline constexpr QLatin1String MbInfo = Text("mb_info");
inline constexpr QLatin1String MbSnId = Text("mb_sn_id");
inline constexpr QLatin1String MbSerial = Text("mb_serial");
inline constexpr QLatin1String MbLogicVer = Text("mb_logic_ver");
inline constexpr QLatin1String MbProgramVer = Text("mb_program_ver");
inline constexpr QLatin1String ConfigureVer = Text("configure_ver");
inline constexpr QLatin1String ParamterVer = Text("paramter_ver");
inline constexpr QLatin1String SoftInfo = Text("soft_info");
inline constexpr QLatin1String SoftVer = Text("soft_ver");
inline constexpr QLatin1String DevManagerVer = Text("dev_manager_ver");
inline constexpr QLatin1String DataProcessVer = Text("data_process_ver");
inline constexpr QLatin1String HbInfo = Text("hb_info");
inline constexpr QLatin1String DbInfo = Text("db_info");
inline constexpr QLatin1String EbInfo = Text("eb_info");
inline constexpr QLatin1String CardType = Text("card_type");
inline constexpr QLatin1String LogicType = Text("logic_type");
inline constexpr QLatin1String HardwareType = Text("hardware_type");
inline constexpr QLatin1String LogicVer = Text("logic_ver");
inline constexpr QLatin1String McnVer = Text("mcn_ver");

// Wi-Fi, statistics
inline constexpr QLatin1String Password = Text("password");
inline constexpr QLatin1String IpInWifi = Text("ip_in_wifi");
inline constexpr QLatin1String Year = Text("year");
inline constexpr QLatin1String Month = Text("month");
inline constexpr QLatin1String Day = Text("day");
inline constexpr QLatin1String TotalInk = Text("total_ink");
inline constexpr QLatin1String TotalArea = Text("total_area");
inline constexpr QLatin1String TotalLen = Text("total_len");
inline constexpr QLatin1String PrintArea = Text("print_area");
inline constexpr QLatin1String PrintLen = Text("print_len");
inline constexpr QLatin1String InkK = Text("k");
inline constexpr QLatin1String InkC = Text("c");
inline constexpr QLatin1String InkM = Text("m");
inline constexpr QLatin1String InkY = Text("y");

} // namespace key

namespace func {

inline constexpr QLatin1String GetClient = Text("getClient");
inline constexpr QLatin1String Print = Text("print");
inline constexpr QLatin1String MotorRun = Text("motor_run");
inline constexpr QLatin1String Sig = Text("sig");
inline constexpr QLatin1String LoadParam = Text("load_param");
inline constexpr QLatin1String Clean = Text("clean");
inline constexpr QLatin1String LoadInk = Text("load_ink");
inline constexpr QLatin1String RunMachine = Text("run_machine");
inline constexpr QLatin1String Statistics = Text("statistics");
inline constexpr QLatin1String FileTransfer = Text("file_transfer");
inline constexpr QLatin1String LoadDeviceInfo = Text("load_device_info");
inline constexpr QLatin1String Upgrade = Text("upgrade");
inline constexpr QLatin1String CheckBeforePrint = Text("check_before_print");
inline constexpr QLatin1String ConfigWifiInfo = Text("config_wifi_info");
inline constexpr QLatin1String AddPrintTask = Text("add_print_task");
inline constexpr QLatin1String GetTaskListInfo = Text("get_task_list_info");
inline constexpr QLatin1String ClientShowType = Text("client_show_type");
inline constexpr QLatin1String SetTaskParam = Text("set_task_param");
inline constexpr QLatin1String Report = Text("report");
inline constexpr QLatin1String UpdateTaskStatus = Text("updateTaskStatus");

} // namespace func

namespace value {

// The service's identifier: target of heartbeats and reports.
inline constexpr QLatin1String ServiceId = Text("wyln");
// The only "message" of a "getClient" list that is accepted.
inline constexpr QLatin1String Success = Text("success");

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
