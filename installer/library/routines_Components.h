// Unique component names for the components that the installer library creates.
#pragma once
#include <string>

namespace ostra {

class TComponent;

// Marks the install file classes: their names follow the file rule of SetUniqueComponentName.
class TUniqueNameAsFile {
public:
    virtual ~TUniqueNameAsFile() = default;
};

// Gives the component the first name it accepts of a series of candidates: for an install file
// (a TUniqueNameAsFile), "IF", the letters, digits and underscores of the base name without its
// extension, "_", the same characters of the extension, and a number; for any other component,
// the base name and a number. The number is empty on the first try, then 1, 2 ... A candidate that
// is no valid name at all raises the component's naming error (numbers would not help).
void SetUniqueComponentName(TComponent* component, const std::string& baseName);

}  // namespace ostra
