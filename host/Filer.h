// Component streaming: TWriter turns an object tree into a token stream and TReader reads a
// token stream back into objects. The token stream is the in-memory form between objects and the
// component text (ComponentText.h turns it into text and back); it has the shape of the
// framework's binary component stream:
//
//   Object     := Header(class, name) Property* End Object* End
//   Property   := PropertyName Value
//   Value      := Integer | Extended | String | Ident | False | True | Nil | Set(names)
//               | List Value* End
//               | Collection (List Property* End)* End          -- one List per item
//   End        := a value of type vaNull
//
// What is written for an object: its published properties (PropertyRegistry.h) in order, under
// their rules for defaults and stored; then the values its DefineProperties declares; for a
// component, then every child that GetChildren hands over, as a nested object. Sub-object
// properties write their own properties with the prefix "Prop.".
//
// Reading into an existing root: the stream's class name for the root is not checked; a
// component root takes the stored name (numbered "Name_1", ... when its owner already has another
// component of that name). The root's properties are set from the stream; a property that
// the stream does not name keeps its value (read into a new or cleared object to get exactly
// the stored state); a collection named in the stream is emptied first, also for "<>". A nested
// object is read into the component of that name that its parent already owns, else a new one
// is made through the class registry (ClassRegistry.h) with the parent as owner. References to
// components are resolved after the whole stream is read; then every component read gets
// Loaded(), the root first. If reading fails, the components it created are freed again (what
// was already set on existing objects stays set). References are written as the name path from
// the root ("Child1.Grand"); a reference to a component outside the root's tree, or to one
// without a name, cannot be read back and is refused when writing.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "host/Collection.h"
#include "host/Component.h"
#include "host/DateTime.h"
#include "host/Object.h"
#include "host/PropertyRegistry.h"

namespace ostra {

// The type of a value in a component stream; vaNull ends a list, an object or a collection.
enum TValueType {
    vaNull,
    vaList,
    vaInteger,
    vaExtended,
    vaString,
    vaIdent,
    vaFalse,
    vaTrue,
    vaNil,
    vaSet,
    vaCollection
};

// One element of a token stream.
struct TStreamToken {
    enum TKind { tkHeader, tkPropertyName, tkValue };
    TKind Kind = tkValue;
    TValueType Type = vaNull;           // tkValue
    int64_t Integer = 0;                // vaInteger
    double Float = 0.0;                 // vaExtended
    std::string Text;                   // vaString, vaIdent, the property name, the header's class name
    std::string ObjectName;             // tkHeader
    std::vector<std::string> SetNames;  // vaSet
    int Line = 0;                       // the text line the token came from; 0 when made by a writer
};
using TTokenStream = std::vector<TStreamToken>;

class TReader;
class TWriter;

// Reads a defined property's value (exactly one value) / writes it.
using TReaderProc = std::function<void(TReader&)>;
using TWriterProc = std::function<void(TWriter&)>;

// What TReader and TWriter share: the root object and the hook for defined properties.
class TFiler : public TObject {
public:
    // The object at the top of the stream (a component or any persistent object).
    TPersistent* Root() const { return FRoot; }
    // Declares a value that the object streams besides its published properties. A writer calls
    // `WriteData` when `HasData` is true; a reader calls `ReadData` when the stream holds a
    // property of that name.
    virtual void DefineProperty(const std::string& Name, const TReaderProc& ReadData,
                                const TWriterProc& WriteData, bool HasData) = 0;

protected:
    TPersistent* FRoot = nullptr;
};

// Writes objects into a token stream.
class TWriter : public TFiler {
public:
    explicit TWriter(TTokenStream& Stream) : FStream(Stream) {}

    // Writes `Root` as the stream's object: a component with its children, or any persistent
    // object under `ObjectName` (a component's own Name is used for a component). Raises
    // EWriteError for a value that cannot be written.
    void WriteRoot(const TPersistent* Root, const std::string& ObjectName = {});

    void DefineProperty(const std::string& Name, const TReaderProc& ReadData, const TWriterProc& WriteData,
                        bool HasData) override;

    void WriteInteger(int64_t Value);
    void WriteFloat(double Value);
    void WriteDate(TDateTime Value) { WriteFloat(Value); }
    void WriteString(const std::string& Value);
    // An identifier (an enumeration value, a component name).
    void WriteIdent(const std::string& Value);
    void WriteBoolean(bool Value);
    void WriteListBegin();
    void WriteListEnd();
    // A collection value: its items with their properties.
    void WriteCollection(const TCollection* Value);

private:
    void Token(TStreamToken t) { FStream.push_back(std::move(t)); }
    void WriteComponent(const TComponent* Component);
    void WriteProperties(const TPersistent* Instance);
    void WriteProperty(const TPersistent* Instance, const TPropInfo& Info);
    void WritePropName(const std::string& Name);
    std::string ReferenceName(const TComponent* Component) const;
    [[noreturn]] void Error(const TPersistent* Instance, const std::string& Prop,
                            const std::string& Text) const;

    TTokenStream& FStream;
    // The object whose properties are being written, and the prefix of sub-object properties.
    const TPersistent* FObject = nullptr;
    std::string FPropPath;
};

// Reads a token stream into objects.
class TReader : public TFiler {
public:
    explicit TReader(const TTokenStream& Stream) : FStream(Stream) {}

    // Reads the stream's object into `Root` (see the file comment). Errors: EReadError for a
    // value that does not fit its property or a malformed stream, EPropertyError for a property
    // that does not exist, EClassNotFound for an unregistered class; each names the object and
    // the property ("Error reading Table1.Foo: Property Foo does not exist") and the text line
    // when the stream came from text.
    void ReadRoot(TPersistent* Root);

    void DefineProperty(const std::string& Name, const TReaderProc& ReadData, const TWriterProc& WriteData,
                        bool HasData) override;

    // The type of the next value, without moving.
    TValueType NextValue() const;
    // Moves past the next value's type: for a list or a collection only the opening mark, so that
    // ReadCollection or the list's values follow; any other value is passed whole.
    TValueType ReadValue();
    int32_t ReadInteger();
    int64_t ReadInt64();
    // A float (an integer is accepted too).
    double ReadFloat();
    TDateTime ReadDate() { return ReadFloat(); }
    std::string ReadString();
    std::string ReadIdent();
    bool ReadBoolean();
    void ReadListBegin();
    void ReadListEnd();
    // True when the next element ends a list, a collection or an object.
    bool EndOfList() const;
    // Reads collection items (after ReadValue has passed the collection mark) into `Collection`,
    // which is emptied first, up to and including the collection's end.
    void ReadCollection(TCollection* Collection);
    // Passes over the next value, whatever it is.
    void SkipValue();

private:
    struct Fixup {
        TPersistent* Instance;
        const TPropInfo* Info;
        std::string Name;
        std::string Context;
        int Line;
    };

    const TStreamToken& Peek() const;
    const TStreamToken& Next();
    void ExpectEnd();
    void ReadComponentBody(TComponent* Component);
    void ReadChild(TComponent* Parent);
    void ReadProperties(TPersistent* Instance);
    void ReadProperty(TPersistent* Instance);
    void ReadPropValue(TPersistent* Instance, const TPropInfo& Info);
    void ResolveFixups();
    TComponent* FindReference(const std::string& Name) const;
    std::string Context() const;
    [[noreturn]] void Fail(const std::string& Text) const;
    [[noreturn]] void PropertyError(const std::string& Text) const;

    const TTokenStream& FStream;
    size_t FPos = 0;
    int FLine = 0;
    // The object and property being read, for error texts and for DefineProperty.
    const TPersistent* FObject = nullptr;
    std::string FPropPath;
    std::string FPropName;
    bool FPropFound = false;
    std::vector<TComponent*> FLoaded;
    std::vector<TComponent*> FCreated;
    std::vector<Fixup> FFixups;
};

// The position after the value that starts at `Pos`; raises EReadError "Invalid stream format"
// when the stream ends inside it.
size_t SkipStreamValue(const TTokenStream& Stream, size_t Pos);

}  // namespace ostra
