// Unique component names.
#include "installer/library/routines_Components.h"

#include "host/Component.h"

namespace ostra {

namespace {

std::string IdentifierChars(const std::string& text) {
    std::string out;
    for (char c : text)
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_') out += c;
    return out;
}

}  // namespace

void SetUniqueComponentName(TComponent* component, const std::string& baseName) {
    std::string stem = baseName;
    if (dynamic_cast<TUniqueNameAsFile*>(component)) {
        size_t dot = baseName.find_last_of('.');
        std::string name = baseName.substr(0, dot);
        std::string ext = dot == std::string::npos ? "" : baseName.substr(dot + 1);
        stem = "IF" + IdentifierChars(name) + "_" + IdentifierChars(ext);
    }
    for (int n = 0;; ++n) {
        std::string candidate = n == 0 ? stem : stem + std::to_string(n);
        if (!candidate.empty() && !IsValidIdent(candidate)) {
            component->SetName(candidate);  // raises the naming error
            return;
        }
        try {
            component->SetName(candidate);
            return;
        } catch (const EComponentError&) {
        }
    }
}

}  // namespace ostra
