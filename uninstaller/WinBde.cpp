// The database-engine stand-in: the session, the configuration file and the OEM conversion.
#include "uninstaller/WinBde.h"

#include <optional>

#include "installer/library/routines_Registry.h"
#include "uninstaller/IniText.h"

namespace ostra {

namespace {

constexpr int LocalMachine = 4;

// The one session of the process.
struct TBdeSession {
    std::string ConfigPath;
    TIniText Config;
};
std::optional<TBdeSession> gSession;

// Windows-1252 0x80-0xFF in code page 850.
constexpr unsigned char kOemOfAnsi[128] = {
    0x3F, 0x3F, 0x2C, 0x9F, 0x22, 0x2E, 0x3F, 0x3F, 0x5E, 0x3F, 0x53, 0x3C, 0x4F, 0x3F, 0x5A, 0x3F,  // 80-8F
    0x3F, 0x27, 0x27, 0x22, 0x22, 0xFA, 0x2D, 0x2D, 0x7E, 0x3F, 0x73, 0x3E, 0x6F, 0x3F, 0x7A, 0x59,  // 90-9F
    0xFF, 0xAD, 0xBD, 0x9C, 0xCF, 0xBE, 0xDD, 0xF5, 0xF9, 0xB8, 0xA6, 0xAE, 0xAA, 0xF0, 0xA9, 0xEE,  // A0-AF
    0xF8, 0xF1, 0xFD, 0xFC, 0xEF, 0xE6, 0xF4, 0xFA, 0xF7, 0xFB, 0xA7, 0xAF, 0xAC, 0xAB, 0xF3, 0xA8,  // B0-BF
    0xB7, 0xB5, 0xB6, 0xC7, 0x8E, 0x8F, 0x92, 0x80, 0xD4, 0x90, 0xD2, 0xD3, 0xDE, 0xD6, 0xD7, 0xD8,  // C0-CF
    0xD1, 0xA5, 0xE3, 0xE0, 0xE2, 0xE5, 0x99, 0x9E, 0x9D, 0xEB, 0xE9, 0xEA, 0x9A, 0xED, 0xE8, 0xE1,  // D0-DF
    0x85, 0xA0, 0x83, 0xC6, 0x84, 0x86, 0x91, 0x87, 0x8A, 0x82, 0x88, 0x89, 0x8D, 0xA1, 0x8C, 0x8B,  // E0-EF
    0xD0, 0xA4, 0x95, 0xA2, 0x93, 0xE4, 0x94, 0xF6, 0x9B, 0x97, 0xA3, 0x96, 0x81, 0xEC, 0xE7, 0x98,  // F0-FF
};

}  // namespace

TDbiResult DbiInitFn(uint16_t version, const void*) {
    if (gSession) return dbiAlreadyInitialized;
    if (version != DbiInterfaceVersion) return dbiVersionMismatch;
    TBdeSession session;
    session.ConfigPath = ReadRegistryString(LocalMachine, BdeEngineKey, BdeConfigFileValue, "");
    if (session.ConfigPath.empty() || !session.Config.LoadFromFile(session.ConfigPath) ||
        session.Config.Lines().empty() || session.Config.Lines().front() != BdeConfigMagic)
        return dbiNotInstalled;
    gSession = std::move(session);
    return dbiOk;
}

TDbiResult DbiDeleteAlias(hDBICfg cfg, const std::string& oemName) {
    if (!gSession) return dbiNotInitialized;
    return gSession->Config.EraseSection(oemName) ? dbiOk : dbiAliasNotFound;
}

TDbiResult DbiCfgSave(hDBICfg cfg, const char* fileName, bool persistent) {
    if (!gSession) return dbiNotInitialized;
    if (!persistent) return dbiOk;
    return gSession->Config.SaveToFile(fileName ? fileName : gSession->ConfigPath) ? dbiOk : dbiWriteFailed;
}

TDbiResult DbiExit() {
    if (!gSession) return dbiNotInitialized;
    gSession.reset();
    return dbiOk;
}

std::string CharToOem(const std::string& ansi) {
    std::string oem = ansi;
    for (char& c : oem) {
        auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x80) c = static_cast<char>(kOemOfAnsi[byte - 0x80]);
    }
    return oem;
}

}  // namespace ostra
