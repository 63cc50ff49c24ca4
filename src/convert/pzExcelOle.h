#pragma once

// The converter worker that drives its own instance of the spreadsheet application through
// late-bound automation calls: started on the worker's first item, reused for every later one
// and quit when the worker ends. One workbook is open at a time.

#include "convert/pzConvertor.h"
#include "platform/automation/Variant.h"

#include <QString>
#include <cstdint>

// The class name the application is created by.
extern const QString ExcelProgID;

class TpzExcelOle : public TpzConvertor {
public:
    // The password given to Open when SkipPassword is on: a fixed number no real workbook is
    // expected to be protected with, so that a protected workbook fails at once instead of
    // waiting for someone to type a password.
    static constexpr int32_t DummyPassword = 73;

    TpzExcelOle(TpzBatch* batch, int32_t count, TpzNodeEvent onNodeDone);
    ~TpzExcelOle() override;

    // The application's folder joined with the name of its program.
    QString AppExePath() override;
    // Whether the open workbook carries a macro project: asked of the workbook when the
    // application is version 12 or later (true when the question fails), true otherwise.
    bool HasMacros() override;

    // The application's major version, 0 until it has been read.
    int32_t AppVersion() const { return FAppVersion; }

    // The major version in a version value: the value made a whole number (text read as a
    // number of the user's locale); failing that, its text without its first "." read as a
    // decimal integer, or 0. Above 77 it is divided by 10, so "16.0" gives 16 both ways.
    static int32_t ParseVersion(const automation::Variant& value);

protected:
    // Creates the application (a failure propagates and leaves App Null), then reads its
    // version and records it as the usage counter "W", then turns its alerts off; failures of
    // these last steps are ignored.
    void StartApp();
    // Starts the application when it is not running, then opens fileName into Workbook unless
    // a workbook is open already. SkipPassword opens read-only with the dummy password;
    // otherwise ReadOnly says how. A failed open propagates and leaves Workbook Null.
    void OpenWorkbook(const QString& fileName);
    // Closes the open workbook without saving, ignoring a failure; Workbook is Null afterwards.
    void CloseWorkbook();
    bool IsReadOnly() const;
    bool IsSkipPassword() const;

    // Quits the application on the worker's own thread, ignoring a failure, then does the
    // inherited end of work.
    void EndWork() override;

    const automation::Variant& App() const { return FApp; }
    const automation::Variant& Workbook() const { return FWorkbook; }

private:
    automation::Variant FApp = automation::Variant::Null();
    automation::Variant FWorkbook = automation::Variant::Null();
    int32_t FAppVersion = 0;
};
