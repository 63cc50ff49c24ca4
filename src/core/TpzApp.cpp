#include "core/TpzApp.h"

#include "batch/TpzMatch.h"
#include "batch/pzBatch.h"
#include "core/TpzInfo.h"
#include "core/TpzMain.h"
#include "core/TpzProject.h"
#include "platform/Exception.h"
#include "platform/ProcessInfo.h"

#include <QCoreApplication>
#include <utility>

TpzApp* pzApp = nullptr;
TpzInfo* pzInfo = nullptr;
TpzProject* pzProject = nullptr;
TpzMain* pzMain = nullptr;

TpzApp::TpzApp(QString exeName, QString firstParam)
    : FExeName(std::move(exeName)), FFirstParam(std::move(firstParam))
{}

uint32_t TpzApp::TickCount()
{
    return platform::TickCount();
}

TpzProcess::TpzProcess(const QString& exeName, const QString& firstParam)
{
    if (pzApp != nullptr) {
        throw Exception(QStringLiteral("The process objects exist already"));
    }
    // Each object may rely on the ones before it, so a failure part-way frees what was made.
    try {
        pzApp = new TpzApp(exeName, firstParam);
        pzInfo = new TpzInfo(pzApp->ExeName());
        pzProject = new TpzProject(pzApp->ExeName());
        pzMain = new TpzMain();
    } catch (...) {
        FreeAll();
        throw;
    }
}

TpzProcess::~TpzProcess()
{
    FreeAll();
}

void TpzProcess::FreeAll()
{
    // Only the matcher this process made is withdrawn; a test may have put in one of its own.
    TpzMatchBase* mine = FMatch.get();
    pzMatch.compare_exchange_strong(mine, nullptr);
    FMatch.reset();
    SkipOwnerFiles.store(false);
    delete std::exchange(pzMain, nullptr);
    delete std::exchange(pzProject, nullptr);
    delete std::exchange(pzInfo, nullptr);
    delete std::exchange(pzApp, nullptr);
}

bool TpzProcess::StartUp()
{
    TpzProject& project = *pzProject;
    project.SetConverterClass(QStringLiteral("TpzMorvel"));
    project.SetSourceMask(QStringLiteral("*.xls?"));
    project.SetSourceFilter(QStringLiteral("Excel Workbook (*.xls;*.xlsx)|*.xls;*.xlsx"));
    project.SetTargetExt(QStringLiteral(".txt"));
    project.SetShortName(QStringLiteral("morvel"));
    project.SetProjectExt(QStringLiteral(".batch-") + project.ShortName());
    project.SetProjectFilter(QStringLiteral("Tabulix Project|*") + project.ProjectExt());
    project.SetTitle(QStringLiteral("Tabulix Converter"));
    QCoreApplication::setApplicationName(project.Title());
    SkipOwnerFiles.store(true);
    project.SetVersion(QStringLiteral("2019.11.215.1520"));
    if (!project.ParseCommandLine(pzApp->FirstParam())) {
        return false;
    }
    FMatch = std::make_unique<TpzMatch>();
    pzMatch.store(FMatch.get());
    return true;
}

bool TpzProcess::IsConsoleRun()
{
    return pzProject->PureConsole() && !pzProject->Source().contains(QStringLiteral("http"));
}
