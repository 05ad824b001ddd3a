// White-box access to a session's private state, for tests only.
#pragma once

#include "session/Orlin.h"

#include <QTimer>

#include <string>

class OrlinTestAccess
{
public:
    static QTimer* Timer(Orlin& o) { return o.m_pTimer; }
    static int HeartState(Orlin& o) { return o.m_nHeartState; }
    static __SCLOUD_LINK_CONTEXT& Link(Orlin& o) { return o.m_stLinkContext; }
    static CWylnOwner& Sink(Orlin& o) { return o.m_oWylnOwner; }
    static std::string SourceId(Orlin& o) { return o._SourceId().toStdString(); }
    static std::string ApplyInfo(Orlin& o) { return o.m_szApplyInfo; }
    static int GetErrorCode(Orlin& o, int code) { return o._GetErrorCode(code); }
    static int CreatPackage(Orlin& o, char* pBuf, unsigned int nLen, const char* pPayload, unsigned short wType)
    {
        return o._CreatPackage(pBuf, nLen, pPayload, wType);
    }
    static __SCLOUD_UPGRADE_REPORT_PARAM Report(Orlin& o) { return o._ReportSnapshot(); }
    static void SetReport(Orlin& o, const __SCLOUD_UPGRADE_REPORT_PARAM& st)
    {
        std::lock_guard<std::mutex> lock(o.m_mtxState);
        o.m_stReportParam = st;
    }
    static IWylnCreator* Creator(Orlin& o) { return o.m_pWylnCreator; }
};
