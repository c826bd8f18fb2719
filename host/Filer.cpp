// TWriter and TReader: objects to token stream and back (see Filer.h for the stream's shape and
// the reading rules).
#include "host/Filer.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "host/ClassRegistry.h"
#include "host/Exceptions.h"
#include "host/SysUtils.h"

namespace ostra {

namespace {

std::string PathOf(const TPersistent* instance) {
    if (!instance) return {};
    std::string path = instance->GetNamePath();
    return path.empty() ? instance->ClassName() : path;
}

std::vector<std::string> SplitDots(const std::string& path) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        size_t dot = path.find('.', start);
        parts.push_back(path.substr(start, dot - start));
        if (dot == std::string::npos) return parts;
        start = dot + 1;
    }
}

bool IsEnd(const TStreamToken& t) {
    return t.Kind == TStreamToken::tkValue && t.Type == vaNull;
}

TStreamToken ValueToken(TValueType type) {
    TStreamToken t;
    t.Type = type;
    return t;
}

// Sets and clears component state flags for the life of a scope.
class StateGuard {
public:
    StateGuard(TComponentState& state, TComponentState flags) : FState(state), FAdded(flags - state) {
        FState += FAdded;
    }
    ~StateGuard() { FState -= FAdded; }

private:
    TComponentState& FState;
    TComponentState FAdded;
};

}  // namespace

size_t SkipStreamValue(const TTokenStream& Stream, size_t Pos) {
    auto at = [&](size_t p) -> const TStreamToken& {
        if (p >= Stream.size()) throw EReadError("Invalid stream format");
        return Stream[p];
    };
    const TStreamToken& t = at(Pos);
    if (t.Kind != TStreamToken::tkValue || t.Type == vaNull) throw EReadError("Invalid stream format");
    ++Pos;
    if (t.Type == vaList) {
        while (!IsEnd(at(Pos))) Pos = SkipStreamValue(Stream, Pos);
        return Pos + 1;
    }
    if (t.Type == vaCollection) {
        while (!IsEnd(at(Pos))) {
            const TStreamToken& item = at(Pos);
            if (item.Kind != TStreamToken::tkValue || item.Type != vaList)
                throw EReadError("Invalid stream format");
            ++Pos;
            while (!IsEnd(at(Pos))) {
                if (at(Pos).Kind != TStreamToken::tkPropertyName) throw EReadError("Invalid stream format");
                Pos = SkipStreamValue(Stream, Pos + 1);
            }
            ++Pos;
        }
        return Pos + 1;
    }
    return Pos;
}

// --- TWriter ---------------------------------------------------------------------------------

void TWriter::WriteRoot(const TPersistent* Root, const std::string& ObjectName) {
    FRoot = const_cast<TPersistent*>(Root);
    if (auto* component = dynamic_cast<const TComponent*>(Root)) {
        WriteComponent(component);
        return;
    }
    TStreamToken header;
    header.Kind = TStreamToken::tkHeader;
    header.Text = Root->ClassName();
    header.ObjectName = ObjectName;
    Token(std::move(header));
    WriteProperties(Root);
    Token(ValueToken(vaNull));
    Token(ValueToken(vaNull));
}

void TWriter::WriteComponent(const TComponent* Component) {
    // Components are never created const; csWriting is state of the component, not of its value.
    auto* component = const_cast<TComponent*>(Component);
    StateGuard writing(component->FComponentState, {csWriting});
    TStreamToken header;
    header.Kind = TStreamToken::tkHeader;
    header.Text = Component->ClassName();
    header.ObjectName = Component->Name();
    Token(std::move(header));
    WriteProperties(Component);
    Token(ValueToken(vaNull));
    Component->GetChildren([this](TComponent* child) { WriteComponent(child); });
    Token(ValueToken(vaNull));
}

void TWriter::WriteProperties(const TPersistent* Instance) {
    const TPersistent* saved = FObject;
    FObject = Instance;
    for (const TPropInfo* info : GetPropList(Instance))
        if (info->IsStored(*Instance)) WriteProperty(Instance, *info);
    // The writer does not change the object; DefineProperties only declares what to write.
    const_cast<TPersistent*>(Instance)->DefineProperties(this);
    FObject = saved;
}

void TWriter::WriteProperty(const TPersistent* Instance, const TPropInfo& Info) {
    if (Info.Kind == pkCollection) {
        TPersistent* value = Info.GetObject(*Instance);
        if (!value) return;
        auto* collection = dynamic_cast<const TCollection*>(value);
        if (!collection) Error(Instance, Info.Name, "Property value is not a collection");
        WritePropName(Info.Name);
        WriteCollection(collection);
        return;
    }
    if (Info.Kind == pkObject) {
        TPersistent* value = Info.GetObject(*Instance);
        if (!value) return;
        std::string saved = FPropPath;
        FPropPath += Info.Name + ".";
        WriteProperties(value);
        FPropPath = saved;
        return;
    }
    if (!Info.Writable() || Info.IsDefault(*Instance)) return;
    switch (Info.Kind) {
        case pkComponent: {
            auto* component = dynamic_cast<const TComponent*>(Info.GetObject(*Instance));
            if (!component) Error(Instance, Info.Name, "Property value is not a component");
            std::string name = ReferenceName(component);
            if (name.empty())
                Error(Instance, Info.Name,
                      "The referenced component has no name or lies outside the component being written");
            WritePropName(Info.Name);
            WriteIdent(name);
            return;
        }
        case pkString:
            WritePropName(Info.Name);
            WriteString(Info.GetString(*Instance));
            return;
        case pkFloat:
        case pkDateTime:
            WritePropName(Info.Name);
            WriteFloat(Info.GetFloat(*Instance));
            return;
        case pkBoolean:
            WritePropName(Info.Name);
            WriteBoolean(Info.GetOrd(*Instance) != 0);
            return;
        case pkEnum: {
            int64_t ordinal = Info.GetOrd(*Instance);
            if (ordinal < 0 || ordinal >= static_cast<int64_t>(Info.EnumNames->size()))
                Error(Instance, Info.Name, Format("Enumeration value %d has no name", {ordinal}));
            WritePropName(Info.Name);
            WriteIdent((*Info.EnumNames)[static_cast<size_t>(ordinal)]);
            return;
        }
        case pkSet: {
            auto bits = static_cast<uint64_t>(Info.GetOrd(*Instance));
            TStreamToken t = ValueToken(vaSet);
            for (unsigned i = 0; i < 64; ++i) {
                if (!(bits & (uint64_t{1} << i))) continue;
                if (i >= Info.EnumNames->size())
                    Error(Instance, Info.Name, Format("Set element %d has no name", {i}));
                t.SetNames.push_back((*Info.EnumNames)[i]);
            }
            WritePropName(Info.Name);
            Token(std::move(t));
            return;
        }
        default:
            WritePropName(Info.Name);
            WriteInteger(Info.GetOrd(*Instance));
            return;
    }
}

void TWriter::WritePropName(const std::string& Name) {
    TStreamToken t;
    t.Kind = TStreamToken::tkPropertyName;
    t.Text = FPropPath + Name;
    Token(std::move(t));
}

std::string TWriter::ReferenceName(const TComponent* Component) const {
    auto* root = dynamic_cast<const TComponent*>(FRoot);
    if (!root) return {};
    if (Component == root) return root->Name();
    std::string path;
    for (const TComponent* c = Component; c != root; c = c->Owner()) {
        if (!c || c->Name().empty()) return {};
        path = path.empty() ? c->Name() : c->Name() + "." + path;
    }
    return path;
}

void TWriter::Error(const TPersistent* Instance, const std::string& Prop, const std::string& Text) const {
    throw EWriteError("Error writing " + PathOf(Instance) + "." + FPropPath + Prop + ": " + Text);
}

void TWriter::DefineProperty(const std::string& Name, const TReaderProc&, const TWriterProc& WriteData,
                             bool HasData) {
    if (!HasData || !WriteData) return;
    WritePropName(Name);
    size_t start = FStream.size();
    WriteData(*this);
    bool oneValue = false;
    try {
        oneValue = start < FStream.size() && SkipStreamValue(FStream, start) == FStream.size();
    } catch (const EReadError&) {
    }
    if (!oneValue) Error(FObject, Name, "A defined property must write exactly one value");
}

void TWriter::WriteInteger(int64_t Value) {
    TStreamToken t = ValueToken(vaInteger);
    t.Integer = Value;
    Token(std::move(t));
}

void TWriter::WriteFloat(double Value) {
    TStreamToken t = ValueToken(vaExtended);
    t.Float = Value;
    Token(std::move(t));
}

void TWriter::WriteString(const std::string& Value) {
    TStreamToken t = ValueToken(vaString);
    t.Text = Value;
    Token(std::move(t));
}

void TWriter::WriteIdent(const std::string& Value) {
    TStreamToken t = ValueToken(vaIdent);
    t.Text = Value;
    Token(std::move(t));
}

void TWriter::WriteBoolean(bool Value) {
    Token(ValueToken(Value ? vaTrue : vaFalse));
}
void TWriter::WriteListBegin() {
    Token(ValueToken(vaList));
}
void TWriter::WriteListEnd() {
    Token(ValueToken(vaNull));
}

void TWriter::WriteCollection(const TCollection* Value) {
    Token(ValueToken(vaCollection));
    std::string saved = FPropPath;
    FPropPath.clear();
    for (int i = 0; i < Value->Count(); ++i) {
        Token(ValueToken(vaList));
        WriteProperties(Value->Items(i));
        Token(ValueToken(vaNull));
    }
    FPropPath = saved;
    Token(ValueToken(vaNull));
}

// --- TReader ---------------------------------------------------------------------------------

void TReader::ReadRoot(TPersistent* Root) {
    FRoot = Root;
    FObject = Root;
    auto* component = dynamic_cast<TComponent*>(Root);
    try {
        if (FStream.empty() || Peek().Kind != TStreamToken::tkHeader) Fail("Invalid stream format");
        const TStreamToken& header = Next();
        if (component) {
            component->FComponentState += {csLoading, csReading};
            FLoaded.push_back(component);
            // The root takes the stored name; another component of its owner keeps its own, and
            // the root gets a numbered variant instead.
            std::string name = header.ObjectName;
            if (TComponent* owner = component->Owner(); owner && !name.empty()) {
                std::string base = name;
                for (int i = 1; owner->FindComponent(name) && owner->FindComponent(name) != component; ++i)
                    name = base + "_" + std::to_string(i);
            }
            component->SetName(name);
            ReadComponentBody(component);
        } else {
            ReadProperties(Root);
            if (!EndOfList()) Fail("Only components hold nested objects");
            ExpectEnd();
        }
        if (FPos != FStream.size()) Fail("Invalid stream format");
        ResolveFixups();
    } catch (...) {
        for (TComponent* c : FLoaded) c->FComponentState -= {csLoading, csReading};
        // Children were made after their parents: freeing in reverse frees each before its owner.
        for (auto it = FCreated.rbegin(); it != FCreated.rend(); ++it) delete *it;
        throw;
    }
    for (TComponent* c : FLoaded) c->FComponentState.Exclude(csReading);
    for (TComponent* c : FLoaded) {
        c->Loaded();
        c->FComponentState.Exclude(csLoading);
    }
}

void TReader::ReadComponentBody(TComponent* Component) {
    const TPersistent* saved = FObject;
    ReadProperties(Component);
    FObject = Component;
    FPropPath.clear();
    while (!EndOfList()) ReadChild(Component);
    ExpectEnd();
    FObject = saved;
}

void TReader::ReadChild(TComponent* Parent) {
    if (Peek().Kind != TStreamToken::tkHeader) Fail("Invalid stream format");
    const TStreamToken& header = Next();
    TComponent* child = Parent->FindComponent(header.ObjectName);
    if (child) {
        if (!SameText(child->ClassName(), header.Text))
            Fail("Component " + header.ObjectName + " is a " + child->ClassName() + ", not a " + header.Text);
    } else {
        const TPersistentClass& cls = FindClass(header.Text);
        if (!cls.IsComponent()) Fail("Class " + header.Text + " is not a component class");
        child = cls.CreateComponent(Parent);
        FCreated.push_back(child);
        child->SetName(header.ObjectName);
    }
    child->FComponentState += {csLoading, csReading};
    if (std::find(FLoaded.begin(), FLoaded.end(), child) == FLoaded.end()) FLoaded.push_back(child);
    ReadComponentBody(child);
}

void TReader::ReadProperties(TPersistent* Instance) {
    const TPersistent* savedObject = FObject;
    std::string savedPath = FPropPath;
    FObject = Instance;
    while (!EndOfList()) ReadProperty(Instance);
    FPropPath.clear();
    ExpectEnd();
    FObject = savedObject;
    FPropPath = savedPath;
}

void TReader::ReadProperty(TPersistent* Instance) {
    FPropPath.clear();
    if (Peek().Kind != TStreamToken::tkPropertyName) Fail("Invalid stream format");
    FPropPath = Next().Text;
    std::vector<std::string> parts = SplitDots(FPropPath);
    TPersistent* target = Instance;
    for (size_t i = 0; i + 1 < parts.size(); ++i) {
        const TPropInfo* info = GetPropInfo(target, parts[i]);
        TPersistent* sub = info && info->Kind == pkObject ? info->GetObject(*target) : nullptr;
        if (!sub) PropertyError("Property " + FPropPath + " does not exist");
        target = sub;
    }
    if (const TPropInfo* info = GetPropInfo(target, parts.back())) {
        ReadPropValue(target, *info);
        return;
    }
    FPropName = parts.back();
    FPropFound = false;
    target->DefineProperties(this);
    FPropName.clear();
    if (!FPropFound) PropertyError("Property " + FPropPath + " does not exist");
}

void TReader::ReadPropValue(TPersistent* Instance, const TPropInfo& Info) {
    if (!Info.Writable()) PropertyError("Property " + FPropPath + " is read-only");
    switch (Info.Kind) {
        case pkInteger:
            Info.SetOrd(*Instance, ReadInteger());
            return;
        case pkCardinal: {
            int64_t v = ReadInt64();
            if (v < 0 || v > std::numeric_limits<uint32_t>::max()) Fail("Invalid property value");
            Info.SetOrd(*Instance, v);
            return;
        }
        case pkInt64:
            Info.SetOrd(*Instance, ReadInt64());
            return;
        case pkBoolean:
            Info.SetOrd(*Instance, ReadBoolean() ? 1 : 0);
            return;
        case pkEnum: {
            std::string ident = ReadIdent();
            const TEnumNames& names = *Info.EnumNames;
            for (size_t i = 0; i < names.size(); ++i)
                if (SameText(names[i], ident)) return Info.SetOrd(*Instance, static_cast<int64_t>(i));
            Fail("Invalid property value");
        }
        case pkSet: {
            if (NextValue() != vaSet) Fail("Invalid property value");
            uint64_t bits = 0;
            const TEnumNames& names = *Info.EnumNames;
            for (const std::string& element : Next().SetNames) {
                size_t i = 0;
                while (i < names.size() && !SameText(names[i], element)) ++i;
                if (i == names.size() || i >= 64) Fail("Invalid property value");
                bits |= uint64_t{1} << i;
            }
            Info.SetOrd(*Instance, static_cast<int64_t>(bits));
            return;
        }
        case pkString:
            Info.SetString(*Instance, ReadString());
            return;
        case pkFloat:
        case pkDateTime:
            Info.SetFloat(*Instance, ReadFloat());
            return;
        case pkCollection: {
            auto* collection = dynamic_cast<TCollection*>(Info.GetObject(*Instance));
            if (!collection || NextValue() != vaCollection) Fail("Invalid property value");
            ReadValue();
            ReadCollection(collection);
            return;
        }
        case pkObject:
            Fail("Invalid property value");
        case pkComponent: {
            TValueType type = NextValue();
            if (type == vaNil) {
                Next();
                Info.SetComponent(*Instance, nullptr);
            } else if (type == vaIdent) {
                std::string name = Next().Text;
                FFixups.push_back({Instance, &Info, name, Context(), FLine});
            } else {
                Fail("Invalid property value");
            }
            return;
        }
    }
}

void TReader::ResolveFixups() {
    for (const Fixup& f : FFixups) {
        std::string where = " (line " + std::to_string(f.Line) + ")";
        if (f.Line <= 0) where.clear();
        TComponent* component = FindReference(f.Name);
        if (!component)
            throw EReadError("Error reading " + f.Context + ": Component " + f.Name + " not found" + where);
        try {
            f.Info->SetComponent(*f.Instance, component);
        } catch (const EPropertyError& e) {
            throw EReadError("Error reading " + f.Context + ": " + e.Message() + where);
        }
    }
}

TComponent* TReader::FindReference(const std::string& Name) const {
    auto* root = dynamic_cast<TComponent*>(FRoot);
    if (!root) return nullptr;
    std::vector<std::string> parts = SplitDots(Name);
    TComponent* c = root->FindComponent(parts[0]);
    if (!c && SameText(root->Name(), parts[0])) c = root;
    for (size_t i = 1; c && i < parts.size(); ++i) c = c->FindComponent(parts[i]);
    return c;
}

void TReader::DefineProperty(const std::string& Name, const TReaderProc& ReadData, const TWriterProc&, bool) {
    if (FPropFound || !ReadData || !SameText(Name, FPropName)) return;
    FPropFound = true;
    size_t end = SkipStreamValue(FStream, FPos);
    ReadData(*this);
    if (FPos != end) Fail("Invalid property value");
}

const TStreamToken& TReader::Peek() const {
    if (FPos >= FStream.size()) Fail("Invalid stream format");
    return FStream[FPos];
}

const TStreamToken& TReader::Next() {
    const TStreamToken& t = Peek();
    if (t.Line > 0) FLine = t.Line;
    ++FPos;
    return t;
}

void TReader::ExpectEnd() {
    if (!IsEnd(Peek())) Fail("Invalid stream format");
    Next();
}

TValueType TReader::NextValue() const {
    const TStreamToken& t = Peek();
    return t.Kind == TStreamToken::tkValue ? t.Type : vaNull;
}

TValueType TReader::ReadValue() {
    if (Peek().Kind != TStreamToken::tkValue) Fail("Invalid stream format");
    return Next().Type;
}

bool TReader::EndOfList() const {
    return IsEnd(Peek());
}

int32_t TReader::ReadInteger() {
    int64_t v = ReadInt64();
    if (v < std::numeric_limits<int32_t>::min() || v > std::numeric_limits<int32_t>::max())
        Fail("Invalid property value");
    return static_cast<int32_t>(v);
}

int64_t TReader::ReadInt64() {
    if (NextValue() != vaInteger) Fail("Invalid property value");
    return Next().Integer;
}

double TReader::ReadFloat() {
    switch (NextValue()) {
        case vaExtended:
            return Next().Float;
        case vaInteger:
            return static_cast<double>(Next().Integer);
        case vaIdent: {
            const std::string& ident = Peek().Text;
            double v;
            if (SameText(ident, "INF"))
                v = std::numeric_limits<double>::infinity();
            else if (SameText(ident, "-INF"))
                v = -std::numeric_limits<double>::infinity();
            else if (SameText(ident, "NAN"))
                v = std::numeric_limits<double>::quiet_NaN();
            else
                break;
            Next();
            return v;
        }
        default:
            break;
    }
    Fail("Invalid property value");
}

std::string TReader::ReadString() {
    if (NextValue() != vaString) Fail("Invalid property value");
    return Next().Text;
}

std::string TReader::ReadIdent() {
    switch (NextValue()) {
        case vaIdent:
            return Next().Text;
        case vaFalse:
            Next();
            return "False";
        case vaTrue:
            Next();
            return "True";
        case vaNil:
            Next();
            return "nil";
        default:
            Fail("Invalid property value");
    }
}

bool TReader::ReadBoolean() {
    TValueType type = NextValue();
    if (type != vaTrue && type != vaFalse) Fail("Invalid property value");
    Next();
    return type == vaTrue;
}

void TReader::ReadListBegin() {
    if (NextValue() != vaList || EndOfList()) Fail("Invalid property value");
    Next();
}

void TReader::ReadListEnd() {
    ExpectEnd();
}

void TReader::ReadCollection(TCollection* Collection) {
    Collection->BeginUpdate();
    try {
        Collection->Clear();
        while (!EndOfList()) {
            if (Peek().Kind != TStreamToken::tkValue || Peek().Type != vaList) Fail("Invalid stream format");
            Next();
            ReadProperties(Collection->Add());
        }
        ExpectEnd();
    } catch (...) {
        Collection->EndUpdate();
        throw;
    }
    Collection->EndUpdate();
}

void TReader::SkipValue() {
    FPos = SkipStreamValue(FStream, FPos);
}

std::string TReader::Context() const {
    std::string context = PathOf(FObject);
    if (!FPropPath.empty()) context += "." + FPropPath;
    return context;
}

void TReader::Fail(const std::string& Text) const {
    std::string where = FLine > 0 ? " (line " + std::to_string(FLine) + ")" : "";
    throw EReadError("Error reading " + Context() + ": " + Text + where);
}

void TReader::PropertyError(const std::string& Text) const {
    std::string where = FLine > 0 ? " (line " + std::to_string(FLine) + ")" : "";
    throw EPropertyError("Error reading " + Context() + ": " + Text + where);
}

}  // namespace ostra
