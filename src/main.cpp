// Tabulix Converter: start-up, run-mode decision and the last-resort error handling.

#include "convert/pzMorvel.h"
#include "core/TpzApp.h"
#include "core/TpzMain.h"
#include "core/TpzProject.h"
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
    // A project that asks for no window but names a web address goes to window mode, which
    // would only run it unseen and close; the console runner fetches web sources itself, so
    // until the window exists it runs such a project too rather than doing nothing.
    if (TpzProcess::IsConsoleRun() || pzProject->PureConsole()) {
        application = std::make_unique<QCoreApplication>(argc, argv);
        return pzMain->Run();
    }
    // Window mode: the window comes with later work; until then the start ends here, with the
    // project loaded.
    std::fputs("tabulix: this build has no window yet; to convert, run a project with "
               "PureConsole=1 (for example -P:Source=DIR/*.xls?,Target=OUT,PureConsole=1)\n",
               stderr);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    // Text files without a byte-order mark use the locale's character set.
    std::setlocale(LC_ALL, "");
    // Numbers are read and written the same way whatever the user's locale says.
    std::setlocale(LC_NUMERIC, "C");
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
