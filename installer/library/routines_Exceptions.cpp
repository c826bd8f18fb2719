// The translation hook of IException.
#include "installer/library/routines_Exceptions.h"

#include <mutex>

namespace ostra {
namespace {

std::mutex gTranslationMutex;
TIExceptionTranslation gTranslation;

}  // namespace

void SetIExceptionTranslation(TIExceptionTranslation translation) {
    std::lock_guard<std::mutex> guard(gTranslationMutex);
    gTranslation = std::move(translation);
}

std::string TranslateIExceptionText(const std::string& text) {
    TIExceptionTranslation translation;
    {
        std::lock_guard<std::mutex> guard(gTranslationMutex);
        translation = gTranslation;
    }
    return translation ? translation(text) : text;
}

}  // namespace ostra
