// Class names from run-time type information, and the default assignment rules.
#include "host/Object.h"

#include <cxxabi.h>

#include <cstdlib>
#include <memory>
#include <typeinfo>

#include "host/Exceptions.h"

namespace ostra {

std::string ClassNameOf(const std::type_info& type) {
    int status = 0;
    std::unique_ptr<char, void (*)(void*)> demangled(abi::__cxa_demangle(type.name(), nullptr, nullptr, &status),
                                                     std::free);
    std::string name = (status == 0 && demangled) ? demangled.get() : type.name();
    // Drop namespaces, but keep template arguments intact.
    auto angle = name.find('<');
    auto colon = name.rfind("::", angle == std::string::npos ? std::string::npos : angle);
    if (colon != std::string::npos) name = name.substr(colon + 2);
    return name;
}

std::string TObject::ClassName() const { return ClassNameOf(typeid(*this)); }

void TPersistent::Assign(const TPersistent* source) {
    if (source) {
        source->AssignTo(this);
        return;
    }
    throw EConvertError("Cannot assign a nil to a " + ClassName());
}

void TPersistent::AssignTo(TPersistent* dest) const {
    throw EConvertError("Cannot assign a " + ClassName() + " to a " + dest->ClassName());
}

}  // namespace ostra
