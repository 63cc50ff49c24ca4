#pragma once

// The product's converter: one workbook in, one text file out, saved by the worker's
// spreadsheet application in its text format.

#include "convert/pzExcelOle.h"

class TpzMorvel : public TpzExcelOle {
public:
    using TpzExcelOle::TpzExcelOle;

    // The file format number of text for the current platform (xlCurrentPlatformText).
    static constexpr int16_t TextFormat = -4158;

protected:
    // Target path, then open, delete the old target, save as text (the whole workbook, the
    // active sheet or the sheet numbered by Sheet), close, AfterConvert and the record of the
    // item. Every failure of the program's error class is recorded on the item and counted;
    // the workbook is closed in every case.
    void Convert(TpzBatch* batch, TpzNode* node) override;

    // AllSheets (default true): the whole workbook is saved.
    bool IsAllSheets() const;
    // Sheet (default 0): the 1-based number of the sheet to save; below 1, the active sheet.
    int32_t SheetIndex() const;
};

// Makes the product's converter class known as "TpzMorvel" and, unless a class is registered
// under "Excel.Application" already, installs the spreadsheet engine's automation server under
// that name. The program calls it once at start; calling it again does no harm.
void RegisterMorvel();
