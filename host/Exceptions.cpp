// Out-of-line raising routines of the host exceptions.
#include "host/Exceptions.h"

namespace ostra {

void DatabaseError(const std::string& message) { throw EDatabaseError(message); }

void AssertionFailed(const std::string& Text) { throw EAssertionFailed(Text); }

}  // namespace ostra
