#pragma once

// Fetching a workbook named by a web address into a local file, on the calling thread.

#include <QString>
#include <chrono>

namespace server {

// Downloads address into a new file of the temporary folder and returns that file's path; the
// caller removes it. Runs a local event loop on the calling thread, which needs the program's
// QCoreApplication. The transfer is given up when no data arrives for idleTimeout. Throws
// Exception with the server's answer ("the server answered 404 Not Found") or the network's
// message ("Connection refused"), naming the address; no file is left behind then.
QString DownloadToTemporaryFile(const QString& address, std::chrono::milliseconds idleTimeout);

} // namespace server
