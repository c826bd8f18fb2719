// The net install location: a component that downloads one file at a time from an FTP or HTTP
// server into a local file, for install objects whose archive is not on the local media. It holds
// the server's login (TLoginInformation), opens its transport (NetTransport.h) when first needed,
// keeps one session and connection between downloads, reports every block received through its
// events, and stops when the library-wide abort flag is set (the copy dialog's cancel sets it).
//
// Paths on the server: a Directory that is blank becomes "/", backslashes become slashes. FTP
// changes to that folder before every download; HTTP asks for the object path "/<folder>/<name>"
// (always with its leading slash). An HTTP answer counts as missing by its status code (404), not
// by what the page says; progress is measured against the file's real size and never passes 100.
//
// Errors are ENIL exceptions whose text says what failed, then the internet error's name, the
// server of the location that connected last and the server's last response.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "host/Component.h"
#include "installer/library/NetTransport.h"
#include "installer/library/routines_Exceptions.h"

namespace ostra {

class TCustomNetInstallLocation;

// Download errors; the message is completed with the error name, server and response.
class ENIL : public Exception {
public:
    using Exception::Exception;
};
#define OSTRA_NET_ERROR(Name, Base)   \
    class Name : public Base {        \
    public:                           \
        using Base::Base;             \
    }
OSTRA_NET_ERROR(ENIL_OpenSession, ENIL);
OSTRA_NET_ERROR(ENIL_OpenService, ENIL);
OSTRA_NET_ERROR(ENIL_FailDataQuery, ENIL);
OSTRA_NET_ERROR(ENIL_ReadFile, ENIL);
OSTRA_NET_ERROR(ENIL_FileNotFound, ENIL);
OSTRA_NET_ERROR(ENIL_FTP, ENIL);
OSTRA_NET_ERROR(ENIL_FTPSetDir, ENIL_FTP);
OSTRA_NET_ERROR(ENIL_FTPOpenFile, ENIL_FTP);
OSTRA_NET_ERROR(ENIL_FTPCloseFile, ENIL_FTP);
OSTRA_NET_ERROR(ENIL_HTTP, ENIL);
OSTRA_NET_ERROR(ENIL_HTTPOpenFile, ENIL_HTTP);
OSTRA_NET_ERROR(ENIL_HTTPSendRequest, ENIL_HTTP);
OSTRA_NET_ERROR(IENetList, ENIL);
OSTRA_NET_ERROR(ENIL_WriteDestFile, Exception);
OSTRA_NET_ERROR(ENIL_FailLoadWININET, Exception);
OSTRA_NET_ERROR(ENIL_FailLoadDLLProc, Exception);
#undef OSTRA_NET_ERROR

// The name of an internet error number ("ERROR_INTERNET_TIMEOUT" ...; "Unregistered error code").
std::string InternetErrorName(int code);

// The login data of a server.
class TCustomLoginInformation : public TPersistent {
public:
    explicit TCustomLoginInformation(TCustomNetInstallLocation* location = nullptr) : FLocation(location) {}
    TCustomNetInstallLocation* Location() const { return FLocation; }

    bool Anonymous() const { return FAnonymous; }
    void SetAnonymous(bool value) { FAnonymous = value; }
    const std::string& Directory() const { return FDirectory; }
    void SetDirectory(const std::string& value) { FDirectory = value; }
    const std::string& Hostname() const { return FHostname; }
    void SetHostname(const std::string& value) { FHostname = value; }
    const std::string& Password() const { return FPassword; }
    void SetPassword(const std::string& value) { FPassword = value; }
    TInternetProtocol Protocol() const { return FProtocol; }
    void SetProtocol(TInternetProtocol value) { FProtocol = value; }
    const std::string& Username() const { return FUsername; }
    void SetUsername(const std::string& value) { FUsername = value; }

    // Anonymous: a host name is given; otherwise any one of host, password and user name.
    bool IsFilledIn() const;
    // The folder as the server spells it: "/" for a blank Directory, else with slashes.
    std::string ServerPath() const;

    void Assign(const TPersistent* Source) override;

private:
    TCustomNetInstallLocation* FLocation;
    bool FAnonymous = true;
    std::string FDirectory, FHostname, FPassword, FUsername;
    TInternetProtocol FProtocol = ipHTTP;
};
class TLoginInformation : public TCustomLoginInformation {
public:
    using TCustomLoginInformation::TCustomLoginInformation;
};

// The HTTP object path of a file: "/", the server path of `directory` with a slash, and the name.
std::string HttpObjectPath(const std::string& directory, const std::string& remoteName);

using TNetLocationEvent = std::function<void(TCustomNetInstallLocation* Location)>;
using TNetAfterDownloadEvent = std::function<void(TCustomNetInstallLocation* Location, bool Aborted)>;
// A block received: the remote name, the block, the expected size (0 when unknown), the bytes
// received so far (this block included) and the size of this block.
using TNetDataReceivedEvent =
    std::function<void(TCustomNetInstallLocation* Location, const std::string& RemoteName, const char* Buffer,
                       int64_t FileSize, int64_t TotalBytes, int64_t Bytes)>;

class TCustomNetInstallLocation : public TComponent {
public:
    // The largest block handed to the data events.
    static constexpr size_t BlockSize = 8192;

    explicit TCustomNetInstallLocation(TComponent* AOwner);
    // Disconnects, frees the transport and leaves the global list.
    ~TCustomNetInstallLocation() override;

    // Opens the transport; ENIL_FailLoadWININET when none can be made.
    virtual void LoadWinInet();
    virtual void SetLoginInformation(const TCustomLoginInformation* source);
    // Opens the session and, the first time, "connects" (between OnBeforeConnect and OnAfterConnect).
    virtual void Connect();
    // Downloads `remoteName` from the login's folder into the Windows-form path `localName`,
    // replacing that file. A transfer stopped by the abort flag keeps what was received so far.
    virtual void Download(const std::string& remoteName, const std::string& localName);
    void Disconnect();

    TCustomLoginInformation* LoginInformation() const { return FLogin.get(); }
    bool WinInetLoaded() const { return FTransport != nullptr; }
    bool Connected() const { return FConnected; }
    const std::string& RemoteName() const { return FRemoteName; }
    const std::string& LocalName() const { return FLocalName; }
    // The server's last response line (empty before any).
    std::string LastResponse() const;

    TNetLocationEvent OnBeforeConnect, OnAfterConnect, OnBeforeDownload;
    TNetAfterDownloadEvent OnAfterDownload;
    TNetDataReceivedEvent OnDataReceived;
    // Set by the install object that downloads, for the time of its download.
    TNetDataReceivedEvent OnOwnerDataReceived;

private:
    [[noreturn]] void RaiseFailure(const TNetResult& result);

    std::unique_ptr<TLoginInformation> FLogin;
    std::unique_ptr<INetTransport> FTransport;
    bool FConnected = false;
    int FLastError = 0;
    std::string FRemoteName, FLocalName;
};

class TNetInstallLocation : public TCustomNetInstallLocation {
public:
    using TCustomNetInstallLocation::TCustomNetInstallLocation;
};

// Every live location, in creation order.
const std::vector<TCustomNetInstallLocation*>& NetInstallLocations();
// The install's default location (cleared when it is destroyed).
TCustomNetInstallLocation* DefaultNetLocation();
void SetDefaultNetLocation(TCustomNetInstallLocation* location);
// The library-wide abort flag of downloads; false at start.
bool NetAbort();
void SetNetAbort(bool value);

}  // namespace ostra
