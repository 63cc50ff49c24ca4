#include "core/TpzMain.h"

#include "core/TpzApp.h"
#include "core/TpzProject.h"

#include <cstdio>

// Stand-in until the console runner exists: it shows what the run would be made of, so a start
// can be checked by eye.
void TpzMain::Run()
{
    const QString summary =
        QStringLiteral("tabulix: console run of Source=%1 Target=%2 Subdir=%3 ThreadsCount=%4 "
                       "(conversion not built yet)\n")
            .arg(pzProject->Source(), pzProject->Target(),
                 pzProject->Subdir() ? QStringLiteral("True") : QStringLiteral("False"))
            .arg(pzProject->ThreadsCount());
    std::fputs(summary.toLocal8Bit().constData(), stderr);
}
