#include "convert/pzMorvel.h"

#include "core/TpzApp.h"
#include "core/TpzProject.h"
#include "platform/Exception.h"
#include "platform/automation/Automation.h"
#include "server/EngineServer.h"

using automation::Variant;

bool TpzMorvel::IsAllSheets() const
{
    return pzProject == nullptr || pzProject->GetBoolOption(QStringLiteral("AllSheets"), true);
}

int32_t TpzMorvel::SheetIndex() const
{
    return pzProject != nullptr ? pzProject->GetIntOption(QStringLiteral("Sheet"), 0) : 0;
}

void TpzMorvel::Convert(TpzBatch* batch, TpzNode* node)
{
    const QString target = TargetPath(batch, node);
    if (target.isEmpty()) {
        return; // skipped, or refused by TargetPath (which recorded why)
    }
    try {
        OpenWorkbook(node->FileName);
        // Only now that the workbook has opened may an older target go: a workbook that
        // cannot be opened leaves the older text as it was.
        DeleteTarget(target);
        const Variant format(TextFormat);
        if (IsAllSheets()) {
            Workbook().Call(QStringLiteral("SaveAs"), {Variant(target), format});
        } else {
            const int32_t n = SheetIndex();
            const Variant sheet = n < 1 ? Workbook().Get(QStringLiteral("ActiveSheet"))
                                        : Workbook().Get(QStringLiteral("Sheets"), {Variant(n)});
            sheet.Call(QStringLiteral("SaveAs"), {Variant(target), format});
        }
        // The source is handled by AfterConvert only once the application has let go of it.
        CloseWorkbook();
        AfterConvert(batch, node, target);
        node->ResultText = target;
        node->Status = StatusSuccess;
        batch->AddSuccess();
    } catch (const Exception& error) {
        node->ResultText = error.Message();
        node->Status = StatusFailure;
        batch->AddFailure(error.Message());
    }
    CloseWorkbook();
}

void RegisterMorvel()
{
    RegisterConvertorClass<TpzMorvel>(QStringLiteral("TpzMorvel"));
    if (!automation::IsAutomationClassRegistered(ExcelProgID)) {
        server::RegisterEngineServer();
    }
}
