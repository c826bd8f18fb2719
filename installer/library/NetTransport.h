// The transport under the net install location: fetches one file at a time from an FTP or HTTP
// server and hands its bytes to a sink as they arrive. The location (cmp_TNetInstallLocation.h)
// keeps the rules (events, progress, abort, the local file, the error texts); the transport only
// moves bytes and says how a transfer failed. The default transport runs on libcurl; tests may
// install another through SetNetTransportFactory.
//
// One transport object is one session: it keeps its connection to the server between transfers
// while the server allows. Nothing waits forever: connecting gives up after 30 seconds and a
// transfer that receives nothing for 60 seconds fails as a read error.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace ostra {

enum TInternetProtocol { ipFTP, ipHTTP };

// The server and login of the following transfers.
struct TNetTarget {
    TInternetProtocol Protocol = ipHTTP;
    std::string Hostname;  // a name or address, optionally with ":port"
    bool Anonymous = true;
    std::string Username, Password;
};

// How a transfer ended.
enum class TNetFailure {
    None,          // complete
    Connect,       // the server could not be reached or refused the login
    SetDirectory,  // the FTP server refused the folder
    OpenFile,      // the server refused the file (FTP) or answered with an error status (HTTP)
    NotFound,      // the HTTP server answered 404 or 410
    Read,          // the transfer broke off
    Stopped,       // the sink asked to stop
};

struct TNetResult {
    TNetFailure Failure = TNetFailure::None;
    long Status = 0;     // the last status code of the server (HTTP status, FTP reply code)
    int ErrorCode = 0;   // the matching internet error number (12001 ...), 0 when none applies
};

// Receives a file: Start once before the first bytes with the expected size (0 when unknown),
// Data for each block; Data returns false to stop the transfer.
struct TNetSink {
    std::function<void(int64_t expectedSize)> Start;
    std::function<bool(const char* data, size_t size)> Data;
};

class INetTransport {
public:
    virtual ~INetTransport() = default;
    // Sets the server and login; the connection is made by the next transfer.
    virtual void Connect(const TNetTarget& target) = 0;
    // Fetches a file. FTP: changes the server folder to `directory` first, then retrieves `name`
    // there. HTTP: `name` is the object path (beginning with "/"), `directory` is unused.
    virtual TNetResult Fetch(const std::string& directory, const std::string& name, const TNetSink& sink) = 0;
    // The server's last response line; empty when there was none.
    virtual std::string LastResponse() const = 0;
    // Closes the connection; the next transfer connects again.
    virtual void Disconnect() = 0;
};

// Makes the transport of a new session; null when none can be made.
using TNetTransportFactory = std::function<std::unique_ptr<INetTransport>()>;
// Installs a factory (an empty one restores the libcurl transport); returns the previous one.
TNetTransportFactory SetNetTransportFactory(TNetTransportFactory factory);
std::unique_ptr<INetTransport> CreateNetTransport();

}  // namespace ostra
