// Tabulix Converter: start-up, run-mode decision and the last-resort error handling.

#include "convert/pzMorvel.h"
#include "core/TpzApp.h"
#include "core/TpzMain.h"
#include "platform/Exception.h"
#include "platform/ProcessInfo.h"

#include <QCoreApplication>
#include <clocale>
#include <cstdio>
#include <memory>

namespace {

int Fail(const QString& message)
{
    std::fprintf(stderr, "tabulix: %s\n", message.toLocal8Bit().constData());
    return 1;
}

int Run(int& argc, char** argv)
{
    // Declared first so it is destroyed last: the process objects are freed while the
    // application object still exists.
    std::unique_ptr<QCoreApplication> application;
    RegisterMorvel(); // the product's converter class and the spreadsheet engine's server
    TpzProcess process(platform::ExecutablePath(), platform::FirstArgument(argc, argv));
    if (!process.StartUp()) {
        return 0; // -I or -U: the notice is open, nothing else to do
    }
    if (TpzProcess::IsConsoleRun()) {
        application = std::make_unique<QCoreApplication>(argc, argv);
        return pzMain->Run();
    }
    // Window mode: the window comes with later work; until then the start ends here, with the
    // project loaded.
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    // Text files without a byte-order mark use the locale's character set.
    std::setlocale(LC_ALL, "");
    try {
        return Run(argc, argv);
    } catch (const Exception& error) {
        return Fail(error.Message());
    } catch (const std::exception& error) {
        return Fail(QString::fromLocal8Bit(error.what()));
    } catch (...) {
        return Fail(QStringLiteral("unknown error"));
    }
}
