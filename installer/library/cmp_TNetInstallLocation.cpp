// The net install location (see the header).
#include "installer/library/cmp_TNetInstallLocation.h"

#include <algorithm>
#include <exception>

#include "host/PropertyRegistry.h"
#include "host/SysUtils.h"
#include "host/UIServices.h"
#include "installer/library/WinFileStream.h"

namespace ostra {

namespace {

const char* const ProtocolNames[] = {"ipFTP", "ipHTTP"};

[[maybe_unused]] const bool kPublished =
    Publish<TCustomLoginInformation, TPersistent>()
        .Boolean("Anonymous", &TCustomLoginInformation::Anonymous, &TCustomLoginInformation::SetAnonymous)
        .Default(true)
        .String("Directory", &TCustomLoginInformation::Directory, &TCustomLoginInformation::SetDirectory)
        .String("Hostname", &TCustomLoginInformation::Hostname, &TCustomLoginInformation::SetHostname)
        .String("Password", &TCustomLoginInformation::Password, &TCustomLoginInformation::SetPassword)
        .Enum("Protocol", &TCustomLoginInformation::Protocol, &TCustomLoginInformation::SetProtocol, ProtocolNames)
        .Default(ipHTTP)
        .String("Username", &TCustomLoginInformation::Username, &TCustomLoginInformation::SetUsername) &&
    Publish<TLoginInformation, TCustomLoginInformation>();

std::vector<TCustomNetInstallLocation*>& Locations() {
    static std::vector<TCustomNetInstallLocation*> list;
    return list;
}
TCustomNetInstallLocation* gLastConnected = nullptr;
TCustomNetInstallLocation* gDefault = nullptr;
bool gAbort = false;

bool Blank(const std::string& s) { return Trim(s).empty(); }

const char* const InternetErrors[] = {
    "ERROR_INTERNET_OUT_OF_HANDLES", "ERROR_INTERNET_TIMEOUT", "ERROR_INTERNET_EXTENDED_ERROR",
    "ERROR_INTERNET_INTERNAL_ERROR", "ERROR_INTERNET_INVALID_URL", "ERROR_INTERNET_UNRECOGNIZED_SCHEME",
    "ERROR_INTERNET_NAME_NOT_RESOLVED", "ERROR_INTERNET_PROTOCOL_NOT_FOUND", "ERROR_INTERNET_INVALID_OPTION",
    "ERROR_INTERNET_BAD_OPTION_LENGTH", "ERROR_INTERNET_OPTION_NOT_SETTABLE", "ERROR_INTERNET_SHUTDOWN",
    "ERROR_INTERNET_INCORRECT_USER_NAME", "ERROR_INTERNET_INCORRECT_PASSWORD", "ERROR_INTERNET_LOGIN_FAILURE",
    "ERROR_INTERNET_INVALID_OPERATION", "ERROR_INTERNET_OPERATION_CANCELLED", "ERROR_INTERNET_INCORRECT_HANDLE_TYPE",
    "ERROR_INTERNET_INCORRECT_HANDLE_STATE", "ERROR_INTERNET_NOT_PROXY_REQUEST",
    "ERROR_INTERNET_REGISTRY_VALUE_NOT_FOUND", "ERROR_INTERNET_BAD_REGISTRY_PARAMETER",
    "ERROR_INTERNET_NO_DIRECT_ACCESS", "ERROR_INTERNET_NO_CONTEXT", "ERROR_INTERNET_NO_CALLBACK",
    "ERROR_INTERNET_REQUEST_PENDING", "ERROR_INTERNET_INCORRECT_FORMAT", "ERROR_INTERNET_ITEM_NOT_FOUND",
    "ERROR_INTERNET_CANNOT_CONNECT", "ERROR_INTERNET_CONNECTION_ABORTED", "ERROR_INTERNET_CONNECTION_RESET"};
const char* const GopherErrors[] = {
    "ERROR_GOPHER_PROTOCOL_ERROR",   "ERROR_GOPHER_NOT_FILE",          "ERROR_GOPHER_DATA_ERROR",
    "ERROR_GOPHER_END_OF_DATA",      "ERROR_GOPHER_INVALID_LOCATOR",   "ERROR_GOPHER_INCORRECT_LOCATOR_TYPE",
    "ERROR_GOPHER_NOT_GOPHER_PLUS",  "ERROR_GOPHER_ATTRIBUTE_NOT_FOUND", "ERROR_GOPHER_UNKNOWN_LOCATOR"};
const char* const HttpErrors[] = {"ERROR_HTTP_HEADER_NOT_FOUND",       "ERROR_HTTP_DOWNLEVEL_SERVER",
                                  "ERROR_HTTP_INVALID_SERVER_RESPONSE", "ERROR_HTTP_INVALID_HEADER",
                                  "ERROR_HTTP_INVALID_QUERY_REQUEST",   "ERROR_HTTP_HEADER_ALREADY_EXISTS"};

}  // namespace

std::string InternetErrorName(int code) {
    if (code == 6) return "ERROR_INVALID_HANDLE";
    if (code >= 12001 && code <= 12031) return InternetErrors[code - 12001];
    if (code == 12032) return "ERROR_INTERNET_FORCE_RETRY";
    if (code == 12036) return "ERROR_INTERNET_HANDLE_EXISTS";
    if (code == 12041) return "ERROR_INTERNET_MIXED_SECURITY";
    if (code == 12110) return "ERROR_FTP_TRANSFER_IN_PROGRESS";
    if (code == 12111) return "ERROR_FTP_DROPPED";
    if (code >= 12130 && code <= 12138) return GopherErrors[code - 12130];
    if (code >= 12150 && code <= 12155) return HttpErrors[code - 12150];
    return "Unregistered error code";
}

const std::vector<TCustomNetInstallLocation*>& NetInstallLocations() { return Locations(); }
TCustomNetInstallLocation* DefaultNetLocation() { return gDefault; }
void SetDefaultNetLocation(TCustomNetInstallLocation* location) { gDefault = location; }
bool NetAbort() { return gAbort; }
void SetNetAbort(bool value) { gAbort = value; }

// ---------------------------------------------------------------- login information

bool TCustomLoginInformation::IsFilledIn() const {
    if (FAnonymous) return !Blank(FHostname);
    return !Blank(FHostname) || !Blank(FPassword) || !Blank(FUsername);
}

std::string TCustomLoginInformation::ServerPath() const {
    if (Blank(FDirectory)) return "/";
    std::string path = FDirectory;
    std::replace(path.begin(), path.end(), '\\', '/');
    return path;
}

void TCustomLoginInformation::Assign(const TPersistent* Source) {
    if (auto* other = dynamic_cast<const TCustomLoginInformation*>(Source)) {
        FAnonymous = other->FAnonymous;
        FDirectory = other->FDirectory;
        FHostname = other->FHostname;
        FPassword = other->FPassword;
        FProtocol = other->FProtocol;
        FUsername = other->FUsername;
        return;
    }
    TPersistent::Assign(Source);
}

std::string HttpObjectPath(const std::string& directory, const std::string& remoteName) {
    std::string path;
    if (!Blank(directory)) {
        path = directory;
        std::replace(path.begin(), path.end(), '\\', '/');
    }
    if (path.empty() || path.front() != '/') path.insert(path.begin(), '/');
    if (path.back() != '/') path += '/';
    return path + remoteName;
}

// ---------------------------------------------------------------- the location

TCustomNetInstallLocation::TCustomNetInstallLocation(TComponent* AOwner)
    : TComponent(AOwner), FLogin(std::make_unique<TLoginInformation>(this)) {
    Locations().push_back(this);
}

TCustomNetInstallLocation::~TCustomNetInstallLocation() {
    Disconnect();
    FTransport.reset();
    if (gLastConnected == this) gLastConnected = nullptr;
    if (gDefault == this) gDefault = nullptr;
    auto& list = Locations();
    list.erase(std::remove(list.begin(), list.end(), this), list.end());
}

void TCustomNetInstallLocation::LoadWinInet() {
    FTransport = CreateNetTransport();
    if (!FTransport)
        throw ENIL_FailLoadWININET(
            "Failed to load the Wininet.dll. If this is a hybrid installation, you might want to include the "
            "WININET.DLL file in the PresetupFiles property of the TInstall component");
}

void TCustomNetInstallLocation::SetLoginInformation(const TCustomLoginInformation* source) { FLogin->Assign(source); }

void TCustomNetInstallLocation::Connect() {
    gLastConnected = this;
    if (!FTransport) LoadWinInet();
    if (!FConnected) {
        if (OnBeforeConnect) OnBeforeConnect(this);
        TNetTarget target;
        target.Protocol = FLogin->Protocol();
        target.Hostname = FLogin->Hostname();
        target.Anonymous = FLogin->Anonymous();
        if (!target.Anonymous) {
            target.Username = FLogin->Username();
            target.Password = FLogin->Password();
        }
        FTransport->Connect(target);
        FConnected = true;
        if (OnAfterConnect) OnAfterConnect(this);
    }
}

void TCustomNetInstallLocation::Disconnect() {
    if (FTransport && FConnected) FTransport->Disconnect();
    FConnected = false;
}

std::string TCustomNetInstallLocation::LastResponse() const { return FTransport ? FTransport->LastResponse() : ""; }

void TCustomNetInstallLocation::RaiseFailure(const TNetResult& result) {
    FLastError = result.ErrorCode;
    auto text = [&](const std::string& message) {
        const TCustomNetInstallLocation* last = gLastConnected;
        std::string response = last ? last->LastResponse() : "";
        return Format("%s. Error message %s. Server %s. Response from server %s",
                      {message, InternetErrorName(FLastError), last ? last->FLogin->Hostname() : std::string(),
                       response.empty() ? std::string("No server response") : response});
    };
    const bool ftp = FLogin->Protocol() == ipFTP;
    switch (result.Failure) {
        case TNetFailure::Connect:
            // A refused login or an unreachable server: the connection must be made again.
            Disconnect();
            throw ENIL_OpenService(text(Format("Cannot connect to host %s", {FLogin->Hostname()})));
        case TNetFailure::SetDirectory:
            throw ENIL_FTPSetDir(text(Format("Cannot set directory on server to %s", {FLogin->ServerPath()})));
        case TNetFailure::OpenFile:
            if (ftp) throw ENIL_FTPOpenFile(text(Format("Cannot open file %s on server", {FRemoteName})));
            throw ENIL_HTTPOpenFile(text(Format("Cannot open file %s on server", {FRemoteName})));
        case TNetFailure::NotFound:
            throw ENIL_FileNotFound(text(Format("Could not find the file %s on the server", {FRemoteName})));
        case TNetFailure::Read:
        case TNetFailure::Stopped:
        case TNetFailure::None:
            break;
    }
    throw ENIL_ReadFile(text(Format("Could not read from file %s on the server", {FRemoteName})));
}

void TCustomNetInstallLocation::Download(const std::string& remoteName, const std::string& localName) {
    Connect();
    FRemoteName = remoteName;
    FLocalName = localName;
    if (OnBeforeDownload) OnBeforeDownload(this);

    TWinFileStream local;
    int64_t expected = 0, total = 0;
    bool aborted = false;
    std::exception_ptr failure;
    TNetSink sink;
    sink.Start = [&](int64_t size) { expected = size; };
    sink.Data = [&](const char* data, size_t size) -> bool {
        try {
            if (!local.IsOpen() &&
                !local.Open(localName, platform::FileAccess::Write, platform::FileShare::DenyWrite,
                            platform::FileCreate::CreateAlways))
                throw ENIL_WriteDestFile(
                    Format("%s could not write to the local dest file %s", {Name(), localName}));
            for (size_t at = 0; at < size; at += BlockSize) {
                const size_t bytes = std::min(BlockSize, size - at);
                total += static_cast<int64_t>(bytes);
                if (OnDataReceived) OnDataReceived(this, remoteName, data + at, expected, total, bytes);
                if (OnOwnerDataReceived) OnOwnerDataReceived(this, remoteName, data + at, expected, total, bytes);
                ApplicationProcessMessages();
                if (gAbort) {
                    aborted = true;
                    return false;
                }
                if (local.Write(data + at, static_cast<int64_t>(bytes)) != static_cast<int64_t>(bytes))
                    throw ENIL_WriteDestFile(
                        Format("%s could not write to the local dest file %s", {Name(), localName}));
            }
            return true;
        } catch (...) {
            failure = std::current_exception();
            return false;
        }
    };

    const std::string directory = FLogin->ServerPath();
    TNetResult result = FLogin->Protocol() == ipFTP
                            ? FTransport->Fetch(directory, remoteName, sink)
                            : FTransport->Fetch(directory, HttpObjectPath(FLogin->Directory(), remoteName), sink);
    local.Close();
    if (failure) std::rethrow_exception(failure);
    if (!aborted) {
        if (result.Failure != TNetFailure::None) RaiseFailure(result);
        if (total == 0)
            RaiseFailure({TNetFailure::NotFound, result.Status, result.ErrorCode});
    }
    if (OnAfterDownload) OnAfterDownload(this, gAbort);
}

}  // namespace ostra
