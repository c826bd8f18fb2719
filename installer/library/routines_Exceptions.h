// The installer library's exception classes, shared by the library, the setup program and the
// uninstaller. Two families hang below the framework's Exception: the user-abort classes (EAI,
// with EAIUserAbort the one exception the install run treats as a user's cancel) and the
// library's errors (ECustomFernmoorAbnormal), which split into the errors of the routines and the
// archive (EFernmoorAbnormal ...) and the component errors (IException and its per-unit
// descendants, whose texts are translated before use).
#pragma once
#include <functional>
#include <initializer_list>
#include <string>

#include "host/Exceptions.h"
#include "host/SysUtils.h"

namespace ostra {

// Base of the user-abort classes.
class EAI : public Exception {
public:
    using Exception::Exception;
};

// The user cancelled the wizard or the copy.
class EAIUserAbort : public EAI {
public:
    EAIUserAbort() : EAI("Installation aborted by the user") {}
};

// A build step aborted on request.
class EUserAbortInstall : public Exception {
public:
    EUserAbortInstall() : Exception("Creating Install Aborted!") {}
};

// Base of the library's error classes.
class ECustomFernmoorAbnormal : public Exception {
public:
    using Exception::Exception;
};

class EFernmoorAbnormal : public ECustomFernmoorAbnormal {
public:
    using ECustomFernmoorAbnormal::ECustomFernmoorAbnormal;
};

// Archive errors.
class EFrnmCompress : public EFernmoorAbnormal {
public:
    using EFernmoorAbnormal::EFernmoorAbnormal;
};
class EfcDiskFull : public EFrnmCompress {
public:
    using EFrnmCompress::EFrnmCompress;
};
class EfcAborted : public EFrnmCompress {
public:
    using EFrnmCompress::EFrnmCompress;
};

// A question to the system (version, folders, temporary files) failed.
class EAPIRoutines : public EFernmoorAbnormal {
public:
    using EFernmoorAbnormal::EFernmoorAbnormal;
};

// Program start failures.
class EProgramLauncher : public EFernmoorAbnormal {
public:
    using EFernmoorAbnormal::EFernmoorAbnormal;
};

// A program could not be started; ErrorCode is the launch error (a Windows error number).
class EProgramLauncherFailed : public EProgramLauncher {
public:
    EProgramLauncherFailed(std::string message, int errorCode) : EProgramLauncher(std::move(message)), ErrorCode(errorCode) {}
    int ErrorCode;
};

// A registry value could not be written by the one-call registry routines.
class EIRCannotWriteValue : public Exception {
public:
    using Exception::Exception;
};

// The translation that IException applies to its message texts. The translator installs its own;
// until then texts stay as they are.
using TIExceptionTranslation = std::function<std::string(const std::string&)>;
void SetIExceptionTranslation(TIExceptionTranslation translation);
std::string TranslateIExceptionText(const std::string& text);

// Base of the component errors (IEInstall, IERegistryEntry ...): the message text, or the format,
// is translated before use.
class IException : public ECustomFernmoorAbnormal {
public:
    explicit IException(const std::string& message) : ECustomFernmoorAbnormal(TranslateIExceptionText(message)) {}
    IException(const std::string& format, std::initializer_list<FormatArg> args)
        : ECustomFernmoorAbnormal(Format(TranslateIExceptionText(format), args)) {}
};

}  // namespace ostra
