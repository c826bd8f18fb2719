// The file-backed registry: the in-memory tree, its text form, the lock and change counter shared
// between processes, and the handle table of this process.
#include "platform/Registry.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <thread>
#include <unordered_map>

#include "platform/AnsiCase.h"
#include "platform/File.h"
#include "platform/LastError.h"
#include "platform/Machine.h"

namespace ostra::platform {
namespace {

constexpr const char* Header = "OSTRA-REGISTRY 1";
constexpr size_t MaxNameLength = 255;
// The byte of registry.lock that readers lock shared and writers exclusively; the change counter
// lies in bytes 0..7, away from it.
constexpr off_t LockByte = 64;
constexpr auto LockWaitLimit = std::chrono::seconds(30);

const char* const RootNames[RegistryRootCount] = {"HKEY_CLASSES_ROOT",  "HKEY_CURRENT_CONFIG", "HKEY_CURRENT_USER",
                                                  "HKEY_DYN_DATA",      "HKEY_LOCAL_MACHINE",  "HKEY_USERS"};
const HKEY RootHandles[RegistryRootCount] = {HKEY_CLASSES_ROOT, HKEY_CURRENT_CONFIG, HKEY_CURRENT_USER,
                                             HKEY_DYN_DATA,     HKEY_LOCAL_MACHINE,  HKEY_USERS};

// ---- The tree

struct Value {
    std::string Name;
    RegistryValue Data;
};

// One key: its name as created, its subkeys by folded name (which gives the enumeration order)
// and its values in the order they were first written.
struct Key {
    std::string Name;
    std::map<std::string, std::unique_ptr<Key>> Subkeys;
    std::vector<Value> Values;

    Key* Subkey(const std::string& name) const {
        auto it = Subkeys.find(AnsiFoldName(name));
        return it == Subkeys.end() ? nullptr : it->second.get();
    }
    Value* FindValue(const std::string& name) {
        for (Value& v : Values)
            if (AnsiSameName(v.Name, name)) return &v;
        return nullptr;
    }
};

struct Image {
    Key Roots[RegistryRootCount];
    Image() {
        for (int i = 0; i < RegistryRootCount; ++i) Roots[i].Name = RootNames[i];
    }
};

// A key as a handle names it: root index and path names in the caller's spelling.
struct Location {
    int Root = -1;
    std::vector<std::string> Path;
};

std::string JoinPath(const std::vector<std::string>& path) {
    std::string text;
    for (const std::string& name : path) {
        if (!text.empty()) text += '\\';
        text += name;
    }
    return text;
}

Key* Find(Image& image, const Location& at) {
    Key* key = &image.Roots[at.Root];
    for (const std::string& name : at.Path) {
        key = key->Subkey(name);
        if (!key) return nullptr;
    }
    return key;
}

// ---- The text form

char HexDigit(int v) { return "0123456789ABCDEF"[v & 15]; }
char LowerHexDigit(int v) { return "0123456789abcdef"[v & 15]; }

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

bool IsPlain(unsigned char b) { return b >= 0x20 && b < 0x7F; }

std::string EscapeKeyName(const std::string& name) {
    std::string out;
    for (unsigned char b : name) {
        if (IsPlain(b) && b != '%') {
            out += static_cast<char>(b);
        } else {
            out += '%';
            out += HexDigit(b >> 4);
            out += HexDigit(b);
        }
    }
    return out;
}

std::string Quote(const std::string& text) {
    std::string out = "\"";
    for (unsigned char b : text) {
        if (b == '\\' || b == '"') {
            out += '\\';
            out += static_cast<char>(b);
        } else if (IsPlain(b)) {
            out += static_cast<char>(b);
        } else {
            out += "\\x";
            out += HexDigit(b >> 4);
            out += HexDigit(b);
        }
    }
    return out + '"';
}

void WriteKey(std::string& out, const Key& key, const std::string& path) {
    out += "key " + path + "\n";
    for (const Value& v : key.Values) {
        switch (v.Data.Type) {
            case regString: out += "  sz " + Quote(v.Name) + " " + Quote(v.Data.Data) + "\n"; break;
            case regInteger: out += "  dword " + Quote(v.Name) + " " + std::to_string(v.Data.AsInteger()) + "\n"; break;
            case regBinary: {
                out += "  binary " + Quote(v.Name) + " ";
                for (unsigned char b : v.Data.Data) {
                    out += LowerHexDigit(b >> 4);
                    out += LowerHexDigit(b);
                }
                out += "\n";
                break;
            }
        }
    }
    for (const auto& [folded, sub] : key.Subkeys) WriteKey(out, *sub, path + "\\" + EscapeKeyName(sub->Name));
}

std::string Serialize(const Image& image) {
    std::string out = std::string(Header) + "\n";
    for (const Key& root : image.Roots) WriteKey(out, root, root.Name);
    return out;
}

// Reads the text form; false when it is not well formed.
class Parser {
public:
    explicit Parser(const std::string& text) : FText(text) {}

    bool Parse(Image& image) {
        std::string line;
        if (!NextLine(line) || line != Header) return false;
        Key* current = nullptr;
        while (NextLine(line)) {
            if (line.rfind("key ", 0) == 0) {
                current = ParseKeyLine(image, line.substr(4));
                if (!current) return false;
            } else if (line.rfind("  ", 0) == 0 && current) {
                if (!ParseValueLine(*current, line.substr(2))) return false;
            } else {
                return false;
            }
        }
        return true;
    }

private:
    bool NextLine(std::string& line) {
        if (FPos >= FText.size()) return false;
        size_t end = FText.find('\n', FPos);
        if (end == std::string::npos) end = FText.size();
        line = FText.substr(FPos, end - FPos);
        FPos = end + 1;
        return true;
    }

    static bool UnescapeKeyName(const std::string& text, std::string& name) {
        name.clear();
        for (size_t i = 0; i < text.size(); ++i) {
            if (text[i] != '%') {
                name += text[i];
                continue;
            }
            if (i + 2 >= text.size()) return false;
            int hi = HexValue(text[i + 1]), lo = HexValue(text[i + 2]);
            if (hi < 0 || lo < 0) return false;
            name += static_cast<char>(hi * 16 + lo);
            i += 2;
        }
        return !name.empty() && name.size() <= MaxNameLength && name.find('\\') == std::string::npos;
    }

    static Key* ParseKeyLine(Image& image, const std::string& text) {
        size_t cut = text.find('\\');
        std::string rootName = text.substr(0, cut);
        Key* key = nullptr;
        for (Key& root : image.Roots)
            if (root.Name == rootName) key = &root;
        if (!key) return nullptr;
        while (cut != std::string::npos) {
            size_t next = text.find('\\', cut + 1);
            std::string name;
            if (!UnescapeKeyName(text.substr(cut + 1, next == std::string::npos ? std::string::npos : next - cut - 1), name))
                return nullptr;
            std::unique_ptr<Key>& slot = key->Subkeys[AnsiFoldName(name)];
            if (!slot) {
                slot = std::make_unique<Key>();
                slot->Name = name;
            }
            key = slot.get();
            cut = next;
        }
        return key;
    }

    // Reads a quoted text at pos; pos moves past it.
    static bool Unquote(const std::string& text, size_t& pos, std::string& out) {
        out.clear();
        if (pos >= text.size() || text[pos] != '"') return false;
        for (++pos; pos < text.size(); ++pos) {
            char c = text[pos];
            if (c == '"') {
                ++pos;
                return true;
            }
            if (c != '\\') {
                out += c;
                continue;
            }
            if (++pos >= text.size()) return false;
            if (text[pos] == '\\' || text[pos] == '"') {
                out += text[pos];
            } else if (text[pos] == 'x' && pos + 2 < text.size()) {
                int hi = HexValue(text[pos + 1]), lo = HexValue(text[pos + 2]);
                if (hi < 0 || lo < 0) return false;
                out += static_cast<char>(hi * 16 + lo);
                pos += 2;
            } else {
                return false;
            }
        }
        return false;
    }

    static bool ParseValueLine(Key& key, const std::string& text) {
        size_t blank = text.find(' ');
        if (blank == std::string::npos) return false;
        std::string type = text.substr(0, blank);
        size_t pos = blank + 1;
        Value v;
        if (!Unquote(text, pos, v.Name) || pos >= text.size() || text[pos] != ' ') return false;
        if (key.FindValue(v.Name)) return false;
        std::string rest = text.substr(pos + 1);
        if (type == "sz") {
            size_t at = 0;
            v.Data.Type = regString;
            if (!Unquote(rest, at, v.Data.Data) || at != rest.size()) return false;
        } else if (type == "dword") {
            if (rest.empty() || rest.size() > 10 || rest.find_first_not_of("0123456789") != std::string::npos) return false;
            unsigned long long n = std::stoull(rest);
            if (n > 0xFFFFFFFFull) return false;
            v.Data = RegistryValue::Integer(static_cast<uint32_t>(n));
        } else if (type == "binary") {
            if (rest.size() % 2 != 0) return false;
            v.Data.Type = regBinary;
            for (size_t i = 0; i < rest.size(); i += 2) {
                int hi = HexValue(rest[i]), lo = HexValue(rest[i + 1]);
                if (hi < 0 || lo < 0) return false;
                v.Data.Data += static_cast<char>(hi * 16 + lo);
            }
        } else {
            return false;
        }
        key.Values.push_back(std::move(v));
        return true;
    }

    const std::string& FText;
    size_t FPos = 0;
};

// ---- Process state: the cached registry of the current machine, its lock file, the handles

struct Handle {
    Location At;
    bool Write = false;
};

struct State {
    std::mutex Mutex;
    std::string Folder;  // the machine folder whose registry is cached
    int LockFd = -1;
    pid_t LockPid = 0;   // the process that opened LockFd (a forked child opens its own)
    bool Loaded = false;
    uint64_t Generation = 0;
    long LoadError = regOk;
    Image Data;
    std::unordered_map<HKEY, Handle> Handles;
    HKEY NextHandle = 1;
    RegistryFaultHook Hook;
};

State& TheState() {
    static State* state = new State;  // never destroyed: handles may be closed during exit
    return *state;
}

long Failed(long error) {
    if (error != regOk) SetLastError(ErrorBase + static_cast<int>(error));
    return error;
}

// Takes the lock byte shared (F_RDLCK) or exclusively (F_WRLCK), waiting at most LockWaitLimit.
long LockRange(int fd, short type) {
    struct flock lock {};
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    lock.l_start = LockByte;
    lock.l_len = 1;
    auto deadline = std::chrono::steady_clock::now() + LockWaitLimit;
    auto pause = std::chrono::milliseconds(1);
    for (;;) {
        if (fcntl(fd, F_OFD_SETLK, &lock) == 0) return regOk;
        if (errno != EAGAIN && errno != EACCES && errno != EINTR) return regIoFailed;
        if (std::chrono::steady_clock::now() >= deadline) return regLockTimeout;
        std::this_thread::sleep_for(pause);
        pause = std::min(pause * 2, std::chrono::milliseconds(20));
    }
}

void UnlockRange(int fd) {
    struct flock lock {};
    lock.l_type = F_UNLCK;
    lock.l_whence = SEEK_SET;
    lock.l_start = LockByte;
    lock.l_len = 1;
    fcntl(fd, F_OFD_SETLK, &lock);
}

uint64_t ReadCounter(int fd) {
    unsigned char bytes[8] = {};
    if (pread(fd, bytes, 8, 0) != 8) return 0;
    uint64_t n = 0;
    for (int i = 7; i >= 0; --i) n = (n << 8) | bytes[i];
    return n;
}

bool WriteCounter(int fd, uint64_t n) {
    unsigned char bytes[8];
    for (int i = 0; i < 8; ++i) bytes[i] = static_cast<unsigned char>(n >> (8 * i));
    return pwrite(fd, bytes, 8, 0) == 8;
}

// Makes the lock file of the current machine ready; false when it cannot be opened.
bool PrepareLockFile(State& s) {
    std::string folder = MachineRoot();
    if (s.LockFd >= 0 && s.Folder == folder && s.LockPid == getpid()) return true;
    // A descriptor inherited over fork shares its locks with the parent: leave it alone.
    if (s.LockFd >= 0 && s.LockPid == getpid()) close(s.LockFd);
    s.LockFd = -1;
    s.Loaded = false;
    s.Folder = folder;
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    s.LockFd = open((folder + "/registry.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    s.LockPid = getpid();
    return s.LockFd >= 0;
}

long Load(State& s, uint64_t counter) {
    s.Data = Image();
    s.LoadError = regOk;
    std::ifstream in(s.Folder + "/registry", std::ios::binary);
    if (in) {
        std::stringstream buffer;
        buffer << in.rdbuf();
        if (in.bad()) {
            s.LoadError = regIoFailed;
        } else {
            std::string text = buffer.str();
            if (!Parser(text).Parse(s.Data)) {
                s.Data = Image();
                s.LoadError = regCorrupt;
            }
        }
    } else if (errno != ENOENT) {
        s.LoadError = regIoFailed;
    }
    s.Loaded = s.LoadError != regIoFailed;
    s.Generation = counter;
    return s.LoadError;
}

long Save(State& s) {
    std::string text = Serialize(s.Data);
    std::string fresh = s.Folder + "/registry.new";
    File file;
    if (!file.Open(fresh, FileAccess::Write, FileShare::Exclusive, FileCreate::CreateAlways)) return regIoFailed;
    bool ok = file.Write(0, text.data(), static_cast<int64_t>(text.size())) == static_cast<int64_t>(text.size()) &&
              file.Flush();
    file.Close();
    if (!ok) return regIoFailed;
    // The counter moves first: a reader that sees the old counter must still find the old file.
    uint64_t counter = ReadCounter(s.LockFd) + 1;
    if (!WriteCounter(s.LockFd, counter)) return regIoFailed;
    if (rename(fresh.c_str(), (s.Folder + "/registry").c_str()) != 0) return regIoFailed;
    int dir = open(s.Folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        fsync(dir);
        close(dir);
    }
    s.Generation = counter;
    return regOk;
}

// Runs body on the current registry under the lock between processes: shared when it only reads,
// exclusive when it may change the tree (it sets changed then, and the change is saved).
template <class Body>
long Transaction(bool write, Body body) {
    State& s = TheState();
    std::lock_guard<std::mutex> guard(s.Mutex);
    if (!PrepareLockFile(s)) return regIoFailed;
    if (long locked = LockRange(s.LockFd, write ? F_WRLCK : F_RDLCK)) return locked;
    uint64_t counter = ReadCounter(s.LockFd);
    long result = !s.Loaded || counter != s.Generation ? Load(s, counter) : s.LoadError;
    if (result == regOk) {
        bool changed = false;
        result = body(s.Data, changed);
        if (changed) {
            long saved = Save(s);
            if (saved != regOk) {
                s.Loaded = false;  // drop the change: the next call reads the file again
                result = saved;
            }
        }
    }
    UnlockRange(s.LockFd);
    return result;
}

// Splits a path into its key names; false when a name is too long.
bool SplitPath(const std::string& path, std::vector<std::string>& names) {
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find('\\', start);
        if (end == std::string::npos) end = path.size();
        if (end > start) {
            if (end - start > MaxNameLength) return false;
            names.push_back(path.substr(start, end - start));
        }
        start = end + 1;
    }
    return true;
}

// The location of handle key; false when it is no open handle.
bool Locate(HKEY key, Location& at, bool* write = nullptr) {
    int root = RegistryRootIndex(key);
    if (root >= 0) {
        at = Location{root, {}};
        if (write) *write = true;
        return true;
    }
    State& s = TheState();
    std::lock_guard<std::mutex> guard(s.Mutex);
    auto it = s.Handles.find(key);
    if (it == s.Handles.end()) return false;
    at = it->second.At;
    if (write) *write = it->second.Write;
    return true;
}

HKEY AddHandle(Location at, bool write) {
    State& s = TheState();
    std::lock_guard<std::mutex> guard(s.Mutex);
    HKEY key = s.NextHandle++;
    s.Handles[key] = Handle{std::move(at), write};
    return key;
}

long AskHook(RegistryOp op, const Location& at, const std::string& valueName) {
    RegistryFaultHook hook;
    {
        State& s = TheState();
        std::lock_guard<std::mutex> guard(s.Mutex);
        hook = s.Hook;
    }
    return hook ? hook(op, at.Root, JoinPath(at.Path), valueName) : regOk;
}

// The location of path below parent, with the hook asked about op.
long Target(HKEY parent, const std::string& path, RegistryOp op, Location& base, Location& target) {
    if (!Locate(parent, base)) return regInvalidHandle;
    target = base;
    if (!SplitPath(path, target.Path)) return regInvalidParameter;
    return AskHook(op, target, "");
}

}  // namespace

RegistryValue RegistryValue::Integer(uint32_t value) {
    std::string bytes(4, '\0');
    for (int i = 0; i < 4; ++i) bytes[i] = static_cast<char>(value >> (8 * i));
    return {regInteger, bytes};
}

uint32_t RegistryValue::AsInteger() const {
    if (Data.size() < 4) return 0;
    uint32_t n = 0;
    for (int i = 3; i >= 0; --i) n = (n << 8) | static_cast<unsigned char>(Data[i]);
    return n;
}

HKEY RegistryRootKey(int index) { return index >= 0 && index < RegistryRootCount ? RootHandles[index] : 0; }

int RegistryRootIndex(HKEY key) {
    for (int i = 0; i < RegistryRootCount; ++i)
        if (RootHandles[i] == key) return i;
    return -1;
}

std::string RegistryRootName(int index) { return index >= 0 && index < RegistryRootCount ? RootNames[index] : ""; }

long RegistryOpenKey(HKEY parent, const std::string& path, RegistryAccess access, HKEY& key) {
    key = 0;
    Location base, target;
    if (long r = Target(parent, path, RegistryOp::OpenKey, base, target)) return Failed(r);
    long r = Transaction(false, [&](Image& image, bool&) -> long {
        if (!Find(image, base)) return regKeyDeleted;
        return Find(image, target) ? regOk : regNotFound;
    });
    if (r != regOk) return Failed(r);
    key = AddHandle(std::move(target), access == RegistryAccess::ReadWrite);
    return regOk;
}

long RegistryCreateKey(HKEY parent, const std::string& path, HKEY& key, bool* created) {
    key = 0;
    if (created) *created = false;
    Location base, target;
    if (long r = Target(parent, path, RegistryOp::CreateKey, base, target)) return Failed(r);
    bool isNew = false;
    long r = Transaction(true, [&](Image& image, bool& changed) -> long {
        Key* k = Find(image, base);
        if (!k) return regKeyDeleted;
        for (size_t i = base.Path.size(); i < target.Path.size(); ++i) {
            const std::string& name = target.Path[i];
            std::unique_ptr<Key>& slot = k->Subkeys[AnsiFoldName(name)];
            if (!slot) {
                slot = std::make_unique<Key>();
                slot->Name = name;
                changed = isNew = true;
            } else {
                isNew = false;
            }
            k = slot.get();
        }
        return regOk;
    });
    if (r != regOk) return Failed(r);
    if (created) *created = isNew;
    key = AddHandle(std::move(target), true);
    return regOk;
}

long RegistryCloseKey(HKEY key) {
    if (RegistryRootIndex(key) >= 0) return regOk;
    State& s = TheState();
    std::lock_guard<std::mutex> guard(s.Mutex);
    return s.Handles.erase(key) ? regOk : Failed(regInvalidHandle);
}

long RegistryDeleteKey(HKEY parent, const std::string& path) {
    Location base, target;
    if (long r = Target(parent, path, RegistryOp::DeleteKey, base, target)) return Failed(r);
    if (target.Path.empty()) return Failed(regAccessDenied);
    return Failed(Transaction(true, [&](Image& image, bool& changed) -> long {
        if (!Find(image, base)) return regKeyDeleted;
        Location above = target;
        std::string name = above.Path.back();
        above.Path.pop_back();
        Key* owner = Find(image, above);
        Key* victim = owner ? owner->Subkey(name) : nullptr;
        if (!victim) return regNotFound;
        if (!victim->Subkeys.empty()) return regAccessDenied;
        owner->Subkeys.erase(AnsiFoldName(name));
        changed = true;
        return regOk;
    }));
}

long RegistrySetValue(HKEY key, const std::string& name, const RegistryValue& value) {
    Location at;
    bool write = false;
    if (!Locate(key, at, &write)) return Failed(regInvalidHandle);
    if (!write) return Failed(regAccessDenied);
    if (name.size() > MaxNameLength) return Failed(regInvalidParameter);
    if (value.Type != regString && value.Type != regBinary && value.Type != regInteger) return Failed(regInvalidParameter);
    if (value.Type == regInteger && value.Data.size() != 4) return Failed(regInvalidParameter);
    if (long r = AskHook(RegistryOp::SetValue, at, name)) return Failed(r);
    return Failed(Transaction(true, [&](Image& image, bool& changed) -> long {
        Key* k = Find(image, at);
        if (!k) return regKeyDeleted;
        if (Value* v = k->FindValue(name))
            v->Data = value;
        else
            k->Values.push_back(Value{name, value});
        changed = true;
        return regOk;
    }));
}

long RegistryQueryValue(HKEY key, const std::string& name, RegistryValue& value) {
    Location at;
    if (!Locate(key, at)) return Failed(regInvalidHandle);
    if (long r = AskHook(RegistryOp::QueryValue, at, name)) return Failed(r);
    return Failed(Transaction(false, [&](Image& image, bool&) -> long {
        Key* k = Find(image, at);
        if (!k) return regKeyDeleted;
        Value* v = k->FindValue(name);
        if (!v) return regNotFound;
        value = v->Data;
        return regOk;
    }));
}

long RegistryDeleteValue(HKEY key, const std::string& name) {
    Location at;
    bool write = false;
    if (!Locate(key, at, &write)) return Failed(regInvalidHandle);
    if (!write) return Failed(regAccessDenied);
    if (long r = AskHook(RegistryOp::DeleteValue, at, name)) return Failed(r);
    return Failed(Transaction(true, [&](Image& image, bool& changed) -> long {
        Key* k = Find(image, at);
        if (!k) return regKeyDeleted;
        for (auto it = k->Values.begin(); it != k->Values.end(); ++it) {
            if (AnsiSameName(it->Name, name)) {
                k->Values.erase(it);
                changed = true;
                return regOk;
            }
        }
        return regNotFound;
    }));
}

namespace {

// The names of the key's subkeys or of its values, in enumeration order.
long ListNames(HKEY key, bool subkeys, std::vector<std::string>& names) {
    names.clear();
    Location at;
    if (!Locate(key, at)) return Failed(regInvalidHandle);
    if (long r = AskHook(RegistryOp::Enumerate, at, "")) return Failed(r);
    return Failed(Transaction(false, [&](Image& image, bool&) -> long {
        Key* k = Find(image, at);
        if (!k) return regKeyDeleted;
        if (subkeys)
            for (const auto& [folded, sub] : k->Subkeys) names.push_back(sub->Name);
        else
            for (const Value& v : k->Values) names.push_back(v.Name);
        return regOk;
    }));
}

}  // namespace

long RegistryKeyNames(HKEY key, std::vector<std::string>& names) { return ListNames(key, true, names); }

long RegistryValueNames(HKEY key, std::vector<std::string>& names) { return ListNames(key, false, names); }

long RegistryDump(std::string& text, int rootIndex, const std::string& path) {
    text.clear();
    Location at{rootIndex, {}};
    if (rootIndex >= RegistryRootCount || !SplitPath(path, at.Path)) return Failed(regInvalidParameter);
    return Failed(Transaction(false, [&](Image& image, bool&) -> long {
        if (rootIndex < 0) {
            text = Serialize(image);
            return regOk;
        }
        Key* k = Find(image, at);
        if (!k) return regNotFound;
        std::string line = RootNames[rootIndex];
        Key* walk = &image.Roots[rootIndex];
        for (const std::string& name : at.Path) {
            walk = walk->Subkey(name);
            line += "\\" + EscapeKeyName(walk->Name);
        }
        WriteKey(text, *k, line);
        return regOk;
    }));
}

RegistryFaultHook SetRegistryFaultHook(RegistryFaultHook hook) {
    State& s = TheState();
    std::lock_guard<std::mutex> guard(s.Mutex);
    std::swap(s.Hook, hook);
    return hook;
}

}  // namespace ostra::platform
