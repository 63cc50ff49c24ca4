#pragma once

// The spreadsheet engine as an automation server, registered under the class name of the
// spreadsheet application, "Excel.Application". It answers exactly the members the conversion
// uses:
//
//   application  Version (read), DisplayAlerts (put), Path (read), Workbooks (read), Quit
//   workbooks    Open(file, update links, read-only, format, password)
//   workbook     Close(save changes), HasVBProject (read), SaveAs(path, -4158),
//                Sheets(n) (indexed read, 1-based), ActiveSheet (read)
//   sheet        SaveAs(path, -4158)
//
// Any other member fails as unknown; any file format other than -4158 (text for the current
// platform) fails with a message naming it. A web address given to Open is downloaded on the
// calling thread first; the downloaded file is removed when the workbook closes. Failures of
// the engine (a missing file, a damaged workbook, a sheet out of range) come back as
// automation errors whose message is the engine's own.
//
// Objects of one application are used on the thread that created it, like any automation
// object; separate applications share nothing.

#include "platform/automation/Automation.h"

#include <QString>
#include <chrono>
#include <memory>

namespace server {

inline constexpr const char* ExcelApplicationProgID = "Excel.Application";

// The engine's own version, which the application's Version reports and the usage counter "W"
// records. Its major number follows the product's year (2019). It is written "N.0", as the
// spreadsheet application writes its own, with N between 8 and 77: read as a number it gives N,
// and read without its dot it gives N0, which ParseVersion divides back to N, so every locale
// records the same number. From 12 on, a converter also asks the workbook about its macros.
inline constexpr const char* EngineVersion = "19.0";

// The file format number of text for the current platform (xlCurrentPlatformText).
inline constexpr int32_t CurrentPlatformText = -4158;

// Registers the engine under "Excel.Application" (again, replacing what was there).
void RegisterEngineServer();

// A new application of the engine, as the registry's factory makes it.
std::shared_ptr<automation::AutomationObject> CreateEngineApplication();

// How long a download may go without receiving data before it is given up (30 s unless set).
void SetDownloadTimeout(std::chrono::milliseconds timeout);
std::chrono::milliseconds DownloadTimeout();

} // namespace server
