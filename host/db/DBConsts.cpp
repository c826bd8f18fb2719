// The framework's database error with the name of the component that raised it.
#include "host/db/DBConsts.h"

#include "host/Component.h"
#include "host/Exceptions.h"

namespace ostra {

void DatabaseError(const std::string& Message, const TComponent* Component) {
    if (Component && !Component->Name().empty()) throw EDatabaseError(Component->Name() + ": " + Message);
    throw EDatabaseError(Message);
}

void DatabaseErrorFmt(const std::string& Fmt, std::initializer_list<FormatArg> Args, const TComponent* Component) {
    DatabaseError(Format(Fmt, Args), Component);
}

}  // namespace ostra
