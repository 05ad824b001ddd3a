// Interfaces of the wyln transport plug-in, as this library calls them.
//
// The plug-in is a shared library ("wyln.dll" on Windows, "libwyln.so"
// elsewhere) exporting two C functions:
//   IWylnCreator* NewInterface();
//   void ReleaseInterface(IWylnCreator*);
// The virtual slot order below is the binary contract with the plug-in; do
// not reorder, insert or remove members.
#pragma once

namespace WYLN {

// Receive sink implemented by the library and handed to IWylnClient::Login.
class IWylnOwner
{
public:
    virtual ~IWylnOwner() {}
    // Called by the transport for every inbound packet, on a thread of its
    // choosing, one packet at a time. szPeerId points to a 260-byte buffer
    // holding the sender's identifier; szPeerName may be null.
    virtual void OnRecv(const char* pData, int nLen, const char* szPeerId, const char* szPeerName) = 0;
};

} // namespace WYLN

// One connection of the transport. Every int result is 0 on success or a
// transport code that the library maps to its own codes.
class IWylnClient
{
public:
    virtual ~IWylnClient() {}
    virtual int Connect(const char* szHost, int nPort) = 0;
    // szId is a 260-byte buffer. Returns exactly 8 when the identifier is not
    // accepted and a new one must be applied for. From this call on the
    // transport delivers packets to pSink.
    virtual int Login(char* szId, WYLN::IWylnOwner* pSink, int nLoginParam) = 0;
    // Writes a new identifier into the 260-byte buffer szId.
    virtual int ApplyId(const char* szApplyInfo, char* szId, int nLoginParam) = 0;
    // Called with the arguments of every inbound packet before the library
    // examines it. The result is ignored.
    virtual int NotifyRecv(const char* pData, int nLen, const char* szPeerId) = 0;
    // Sends zero-terminated text to the peer the connection is logged in to.
    virtual int Send(const char* pData, int nTimeoutMs) = 0;
    // Sends nLen bytes to the client szTargetId.
    virtual int SendTo(const char* szTargetId, const char* pData, int nLen, int nTimeoutMs) = 0;
};

// The plug-in's factory.
class IWylnCreator
{
public:
    virtual ~IWylnCreator() {}
    virtual IWylnClient* CreateClient(int nClientMode) = 0;
    virtual void DestroyClient(IWylnClient* pClient) = 0;
};

typedef IWylnCreator* (*PFN_WYLN_NEW_INTERFACE)();
typedef void (*PFN_WYLN_RELEASE_INTERFACE)(IWylnCreator*);
