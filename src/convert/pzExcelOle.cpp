#include "convert/pzExcelOle.h"

#include "core/TpzApp.h"
#include "core/TpzInfo.h"
#include "core/TpzProject.h"
#include "platform/Paths.h"
#include "platform/automation/Automation.h"

#include <QLocale>
#include <cmath>
#include <limits>

using automation::Variant;
using automation::VarType;

const QString ExcelProgID = QStringLiteral("Excel.Application");

TpzExcelOle::TpzExcelOle(TpzBatch* batch, int32_t count, TpzNodeEvent onNodeDone)
    : TpzConvertor(batch, count, std::move(onNodeDone))
{}

// The application is quit in EndWork, on the thread that created it; by the time the last
// holder lets go of the worker there is nothing left to release.
TpzExcelOle::~TpzExcelOle() = default;

namespace {

// The whole-number step of ParseVersion: what integer division by 1 makes of the value.
bool WholeNumber(const Variant& value, int64_t& out)
{
    double number = 0;
    switch (value.Type()) {
    case VarType::Empty:
        out = 0;
        return true;
    case VarType::Boolean:
    case VarType::Int16:
    case VarType::Int32:
        out = value.ToInt32();
        return true;
    case VarType::Double:
        number = value.ToDouble();
        break;
    case VarType::Text: {
        bool ok = false;
        const QString text = value.ToString().trimmed();
        const qlonglong whole = text.toLongLong(&ok, 10);
        if (ok) {
            out = whole;
            return true;
        }
        number = QLocale::system().toDouble(text, &ok);
        if (!ok) {
            return false;
        }
        break;
    }
    default:
        return false;
    }
    number = std::nearbyint(number);
    if (!(std::fabs(number) <= static_cast<double>(std::numeric_limits<int32_t>::max()))) {
        return false;
    }
    out = static_cast<int64_t>(number);
    return true;
}

} // namespace

int32_t TpzExcelOle::ParseVersion(const Variant& value)
{
    int64_t number = 0;
    if (!WholeNumber(value, number)) {
        QString text;
        try {
            text = value.ToString();
        } catch (const Exception&) {
        }
        const qsizetype dot = text.indexOf(u'.');
        if (dot >= 0) {
            text.remove(dot, 1);
        }
        bool ok = false;
        number = text.toInt(&ok, 10);
        if (!ok) {
            number = 0;
        }
    }
    if (number > 77) {
        number /= 10;
    }
    return static_cast<int32_t>(number);
}

void TpzExcelOle::StartApp()
{
    FApp = Variant(automation::CreateAutomationObject(ExcelProgID));
    try {
        const Variant version = FApp.Get(QStringLiteral("Version"));
        FAppVersion = ParseVersion(version);
        // "W" keeps the version last seen; a version that could not be made out is no version
        // (adding to the counter would turn it into a number nobody ran).
        if (pzInfo != nullptr && FAppVersion > 0) {
            pzInfo->AddCount(QStringLiteral("W"), FAppVersion, 1);
        }
    } catch (const std::exception&) {
    }
    try {
        FApp.Put(QStringLiteral("DisplayAlerts"), Variant(false));
    } catch (const std::exception&) {
    }
}

void TpzExcelOle::OpenWorkbook(const QString& fileName)
{
    if (FApp.IsNull()) {
        StartApp();
    }
    if (!FWorkbook.IsNull()) {
        return;
    }
    const Variant books = FApp.Get(QStringLiteral("Workbooks"));
    Variant opened;
    if (IsSkipPassword()) {
        opened = books.Call(QStringLiteral("Open"),
                            {Variant(fileName), Variant::Missing(), Variant(true),
                             Variant::Missing(), Variant(DummyPassword)});
    } else {
        opened = books.Call(QStringLiteral("Open"),
                            {Variant(fileName), Variant::Missing(), Variant(IsReadOnly())});
    }
    if (!opened.IsObject()) {
        // Only an object may stand in Workbook: anything else would pass for an open workbook.
        throw automation::AutomationError(
            automation::E_NOINTERFACE,
            QStringLiteral("The spreadsheet application opened \"%1\" but gave no workbook")
                .arg(fileName));
    }
    FWorkbook = opened;
}

void TpzExcelOle::CloseWorkbook()
{
    if (!FWorkbook.IsNull()) {
        try {
            FWorkbook.Call(QStringLiteral("Close"), {Variant(false)});
        } catch (const std::exception&) {
        }
    }
    FWorkbook = Variant::Null();
}

bool TpzExcelOle::IsReadOnly() const
{
    return pzProject != nullptr && pzProject->GetBoolOption(QStringLiteral("ReadOnly"), false);
}

bool TpzExcelOle::IsSkipPassword() const
{
    return pzProject != nullptr && pzProject->GetBoolOption(QStringLiteral("SkipPassword"), false);
}

QString TpzExcelOle::AppExePath()
{
    return platform::IncludeTrailingPathDelimiter(FApp.Get(QStringLiteral("Path")).ToString()) +
           QStringLiteral("EXCEL.EXE");
}

bool TpzExcelOle::HasMacros()
{
    if (FAppVersion < 12) {
        return true;
    }
    try {
        return FWorkbook.Get(QStringLiteral("HasVBProject")).ToBool();
    } catch (const std::exception&) {
        return true;
    }
}

void TpzExcelOle::EndWork()
{
    if (!FApp.IsNull()) {
        try {
            FApp.Call(QStringLiteral("Quit"));
        } catch (const std::exception&) {
        }
    }
    FApp = Variant::Null();
    FWorkbook = Variant::Null();
    TpzConvertor::EndWork();
}
