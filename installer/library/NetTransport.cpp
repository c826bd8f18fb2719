// The libcurl transport of the net install location (see the header).
#include "installer/library/NetTransport.h"

#include <curl/curl.h>

#include <mutex>

namespace ostra {

namespace {

// Internet error numbers the location's error texts name.
enum : int {
    errTimeout = 12002, errExtended = 12003, errInvalidUrl = 12005, errNameNotResolved = 12007,
    errLoginFailure = 12015, errCannotConnect = 12029, errConnectionAborted = 12030, errConnectionReset = 12031,
};

bool GlobalInit() {
    static const bool ok = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    return ok;
}

class CurlTransport : public INetTransport {
public:
    CurlTransport() : FCurl(curl_easy_init()) {}
    ~CurlTransport() override {
        if (FCurl) curl_easy_cleanup(FCurl);
    }
    bool Valid() const { return FCurl != nullptr; }

    void Connect(const TNetTarget& target) override { FTarget = target; }

    TNetResult Fetch(const std::string& directory, const std::string& name, const TNetSink& sink) override {
        if (!FCurl) FCurl = curl_easy_init();
        curl_easy_reset(FCurl);
        FSink = &sink;
        FStarted = false;
        FLastResponse.clear();

        std::string url = (FTarget.Protocol == ipFTP ? "ftp://" : "http://") + FTarget.Hostname;
        curl_slist* quote = nullptr;
        if (FTarget.Protocol == ipFTP) {
            url += "/" + Escape(name);
            quote = curl_slist_append(quote, ("CWD " + directory).c_str());
            curl_easy_setopt(FCurl, CURLOPT_QUOTE, quote);
            curl_easy_setopt(FCurl, CURLOPT_FTP_FILEMETHOD, static_cast<long>(CURLFTPMETHOD_NOCWD));
            if (!FTarget.Anonymous) {
                curl_easy_setopt(FCurl, CURLOPT_USERNAME, FTarget.Username.c_str());
                curl_easy_setopt(FCurl, CURLOPT_PASSWORD, FTarget.Password.c_str());
            }
        } else {
            url += EscapePath(name);
            curl_easy_setopt(FCurl, CURLOPT_FAILONERROR, 1L);
            if (!FTarget.Anonymous) {
                curl_easy_setopt(FCurl, CURLOPT_USERNAME, FTarget.Username.c_str());
                curl_easy_setopt(FCurl, CURLOPT_PASSWORD, FTarget.Password.c_str());
            }
        }
        curl_easy_setopt(FCurl, CURLOPT_URL, url.c_str());
        curl_easy_setopt(FCurl, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(FCurl, CURLOPT_CONNECTTIMEOUT, 30L);
        curl_easy_setopt(FCurl, CURLOPT_LOW_SPEED_LIMIT, 1L);
        curl_easy_setopt(FCurl, CURLOPT_LOW_SPEED_TIME, 60L);
        curl_easy_setopt(FCurl, CURLOPT_WRITEFUNCTION, &CurlTransport::OnWrite);
        curl_easy_setopt(FCurl, CURLOPT_WRITEDATA, this);
        curl_easy_setopt(FCurl, CURLOPT_DEBUGFUNCTION, &CurlTransport::OnDebug);
        curl_easy_setopt(FCurl, CURLOPT_DEBUGDATA, this);
        curl_easy_setopt(FCurl, CURLOPT_VERBOSE, 1L);

        CURLcode code = curl_easy_perform(FCurl);
        curl_easy_setopt(FCurl, CURLOPT_QUOTE, nullptr);
        curl_slist_free_all(quote);
        FSink = nullptr;

        TNetResult result;
        curl_easy_getinfo(FCurl, CURLINFO_RESPONSE_CODE, &result.Status);
        Classify(code, result);
        return result;
    }

    std::string LastResponse() const override { return FLastResponse; }

    void Disconnect() override {
        if (FCurl) curl_easy_cleanup(FCurl);
        FCurl = nullptr;
    }

private:
    static size_t OnWrite(char* data, size_t size, size_t count, void* user) {
        auto* self = static_cast<CurlTransport*>(user);
        const size_t bytes = size * count;
        if (!self->FStarted) {
            self->FStarted = true;
            curl_off_t length = -1;
            curl_easy_getinfo(self->FCurl, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
            if (self->FSink->Start) self->FSink->Start(length > 0 ? static_cast<int64_t>(length) : 0);
        }
        if (bytes == 0) return 0;
        return self->FSink->Data(data, bytes) ? bytes : 0;
    }

    static int OnDebug(CURL*, curl_infotype type, char* data, size_t size, void* user) {
        if (type != CURLINFO_HEADER_IN) return 0;
        auto* self = static_cast<CurlTransport*>(user);
        std::string line(data, size);
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
        // HTTP: the status line; FTP: every reply line, the last one kept.
        if (self->FTarget.Protocol == ipFTP || line.rfind("HTTP/", 0) == 0) self->FLastResponse = line;
        return 0;
    }

    std::string Escape(const std::string& text) const {
        char* escaped = curl_easy_escape(FCurl, text.c_str(), static_cast<int>(text.size()));
        std::string result = escaped ? escaped : "";
        curl_free(escaped);
        return result;
    }
    // Escapes every segment of a path, keeping its slashes.
    std::string EscapePath(const std::string& path) const {
        std::string result;
        size_t start = 0;
        while (true) {
            size_t slash = path.find('/', start);
            result += Escape(path.substr(start, slash == std::string::npos ? std::string::npos : slash - start));
            if (slash == std::string::npos) break;
            result += '/';
            start = slash + 1;
        }
        return result;
    }

    // How a libcurl result reads as a failure and an internet error number. Errors without their
    // own row are connection failures before the first byte and broken transfers after it.
    void Classify(CURLcode code, TNetResult& result) const {
        struct Row {
            CURLcode Code;
            TNetFailure Failure;
            int Error;
        };
        static const Row rows[] = {
            {CURLE_OK, TNetFailure::None, 0},
            {CURLE_WRITE_ERROR, TNetFailure::Stopped, 0},
            {CURLE_COULDNT_RESOLVE_HOST, TNetFailure::Connect, errNameNotResolved},
            {CURLE_COULDNT_CONNECT, TNetFailure::Connect, errCannotConnect},
            {CURLE_LOGIN_DENIED, TNetFailure::Connect, errLoginFailure},
            {CURLE_URL_MALFORMAT, TNetFailure::Connect, errInvalidUrl},
            {CURLE_QUOTE_ERROR, TNetFailure::SetDirectory, errExtended},
            {CURLE_REMOTE_FILE_NOT_FOUND, TNetFailure::OpenFile, errExtended},
            {CURLE_FTP_COULDNT_RETR_FILE, TNetFailure::OpenFile, errExtended},
            {CURLE_REMOTE_ACCESS_DENIED, TNetFailure::OpenFile, errExtended},
        };
        for (const Row& row : rows)
            if (row.Code == code) {
                result.Failure = row.Failure;
                result.ErrorCode = row.Error;
                return;
            }
        if (code == CURLE_HTTP_RETURNED_ERROR) {
            result.Failure = result.Status == 404 || result.Status == 410 ? TNetFailure::NotFound : TNetFailure::OpenFile;
            return;
        }
        result.Failure = FStarted ? TNetFailure::Read : TNetFailure::Connect;
        result.ErrorCode = code == CURLE_OPERATION_TIMEDOUT ? errTimeout
                           : code == CURLE_SEND_ERROR       ? errConnectionReset
                                                            : errConnectionAborted;
    }

    CURL* FCurl = nullptr;
    TNetTarget FTarget;
    const TNetSink* FSink = nullptr;
    bool FStarted = false;
    std::string FLastResponse;
};

std::mutex gFactoryMutex;
TNetTransportFactory gFactory;

}  // namespace

TNetTransportFactory SetNetTransportFactory(TNetTransportFactory factory) {
    std::lock_guard<std::mutex> lock(gFactoryMutex);
    TNetTransportFactory previous = std::move(gFactory);
    gFactory = std::move(factory);
    return previous;
}

std::unique_ptr<INetTransport> CreateNetTransport() {
    {
        std::lock_guard<std::mutex> lock(gFactoryMutex);
        if (gFactory) return gFactory();
    }
    if (!GlobalInit()) return nullptr;
    auto transport = std::make_unique<CurlTransport>();
    if (!transport->Valid()) return nullptr;
    return transport;
}

}  // namespace ostra
