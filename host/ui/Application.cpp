// The application object of the programs with windows.
#include "host/ui/Application.h"

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QTimer>
#include <cstdio>
#include <cstdlib>

#include "host/AnsiCodec.h"
#include "host/Forms.h"
#include "host/UIServices.h"
#include "host/ui/QtUIServices.h"
#include "host/ui/UIScript.h"
#include "platform/Process.h"

namespace ostra {

namespace {

TApplication* gApplication = nullptr;

}  // namespace

TApplication::TApplication(int& argc, char** argv) : FQt(std::make_unique<QApplication>(argc, argv)) {
    for (int i = 1; i < argc; ++i) FParameters.push_back(Utf8ToAnsi(argv[i]));
    // Code below the window system reads the parameters and asks for the end of the program
    // through the host's application state.
    SetApplicationParameters(FParameters);
    SetApplicationTerminateProc([] { TerminateApplication(); });
    if (const char* script = std::getenv("OSTRA_UI_SCRIPT"); script && *script) {
        auto scripted = std::make_unique<TScriptedUIServices>();
        std::string error;
        if (!scripted->LoadScript(script, error)) {
            std::fprintf(stderr, "%s\n", error.c_str());
            std::exit(2);
        }
        if (const char* log = std::getenv("OSTRA_UI_LOG")) scripted->SetLogPath(log);
        FScript = scripted.get();
        FServices = std::move(scripted);
    } else {
        FServices = std::make_unique<TQtUIServices>();
    }
    SetUIServices(FServices.get());
    gApplication = this;
    QObject::connect(QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::aboutToBlock, FQt.get(),
                     [] { platform::ReportInputIdle(); }, Qt::SingleShotConnection);
}

TApplication::~TApplication() {
    gApplication = nullptr;
    SetApplicationTerminateProc(nullptr);
    SetUIServices(nullptr);
}

int TApplication::Run() {
    if (FScript && !FScript->Clicks().empty()) QTimer::singleShot(0, FQt.get(), [this] { ClickNext(0); });
    return QApplication::exec();
}

void TApplication::Terminate() {
    FTerminated = true;
    QApplication::quit();
}

void TApplication::ClickNext(size_t Index) {
    if (FTerminated) return;
    FScript->Click(FScript->Clicks()[Index]);
    if (Index + 1 < FScript->Clicks().size()) QTimer::singleShot(0, FQt.get(), [this, Index] { ClickNext(Index + 1); });
}

void TerminateApplication() {
    if (gApplication)
        gApplication->Terminate();
    else
        QApplication::quit();
}

void CallHandled(const std::function<void()>& Handler) {
    try {
        Handler();
    } catch (...) {
        ApplicationHandleException(nullptr);
    }
}

}  // namespace ostra
