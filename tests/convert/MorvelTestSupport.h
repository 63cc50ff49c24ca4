#pragma once

// Shared pieces of the tests of TpzExcelOle and TpzMorvel: the process with the product's
// converter class, a run of the worker chain as the console runner does it, and file helpers.

#include "BatchTestSupport.h"
#include "convert/pzMorvel.h"
#include "core/TpzProject.h"

#include <QDir>
#include <QFile>

namespace morveltest {

using testsupport::Item;
using testsupport::ReadFile;
using testsupport::RunChain;
using testsupport::WriteFile;

const QString Fixtures = QStringLiteral(TABULIX_CONVERT_FIXTURES "/");

// The process objects with TpzMorvel as the converter class, files below Root().
class MorvelProcess : public testsupport::TestProcess {
public:
    MorvelProcess()
    {
        RegisterMorvel();
        pzProject->SetConverterClass(QStringLiteral("TpzMorvel"));
    }
    QString In(const QString& name) const { return Root() + QStringLiteral("in/") + name; }
    QString Out(const QString& name = QString()) const
    {
        return Root() + QStringLiteral("out/") + name;
    }
    // Copies a fixture into the source folder under name.
    QString Source(const QString& fixture, const QString& name) const
    {
        QDir().mkpath(In(QString()));
        QFile::remove(In(name));
        QFile::copy(Fixtures + fixture, In(name));
        return In(name);
    }
};

// Lists the files (a path or a folder and mask) and runs the chain on them.
inline void Convert(TpzBatch& batch, const QStringList& files, const QString& target)
{
    for (const QString& file : files) {
        batch.AddFile(file);
    }
    RunChain(batch, target);
}

// Every name in a folder, hidden ones included.
inline QStringList Names(const QString& folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
}

} // namespace morveltest
