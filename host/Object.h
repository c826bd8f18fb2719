// TObject and TPersistent: the roots of the host object model. TObject gives every object a
// class name taken from its dynamic type; TPersistent adds assignment between objects and the
// hook through which an object streams values that are not published properties.
#pragma once
#include <string>
#include <typeinfo>

namespace ostra {

class TFiler;

// The base of every class of the object model: a virtual destructor and the class name.
class TObject {
public:
    virtual ~TObject() = default;
    // The unqualified name of the object's dynamic class ("TStringList").
    std::string ClassName() const;
};

// An object that can copy its state from another object and stream extra data.
class TPersistent : public TObject {
public:
    // Copies `source` into this object: the source's AssignTo decides; raises EConvertError
    // "Cannot assign a <source class> to a <this class>" when neither side knows how
    // ("nil" names a null source).
    virtual void Assign(const TPersistent* source);
    // The name a designer shows for this object; the class name by default.
    virtual std::string GetNamePath() const { return ClassName(); }
    // Declares values that component streaming reads and writes beside the published properties.
    virtual void DefineProperties(TFiler* filer) {}

protected:
    // Copies this object into `dest`; the default raises the same EConvertError as Assign.
    virtual void AssignTo(TPersistent* dest) const;
};

// The unqualified class name of a dynamic type, demangled and without namespaces.
std::string ClassNameOf(const std::type_info& type);

}  // namespace ostra
