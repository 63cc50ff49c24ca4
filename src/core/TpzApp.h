#pragma once

#include <QString>
#include <cstdint>

// The application context: the executable's path, the first command-line argument and the
// millisecond clock. Both texts are fixed at creation.
class TpzApp {
public:
    // Tests pass an executable path inside a temporary folder, so that the default project, the
    // history file and the usage store land there.
    TpzApp(QString exeName, QString firstParam);

    const QString& ExeName() const { return FExeName; }
    const QString& FirstParam() const { return FFirstParam; }

    // 32-bit milliseconds since an arbitrary start; a duration is t1 - t0 in uint32_t arithmetic,
    // which stays right across the wrap. Any thread.
    static uint32_t TickCount();

private:
    QString FExeName;
    QString FFirstParam;
};

#include <memory>

class TpzInfo;
class TpzProject;
class TpzMain;
class TpzMatchBase;

// The process-wide objects, created in this order and freed in the reverse order by TpzProcess.
extern TpzApp* pzApp;
extern TpzInfo* pzInfo;
extern TpzProject* pzProject;
extern TpzMain* pzMain;

// One program run's process objects. The constructor creates TpzApp, TpzInfo, TpzProject and
// TpzMain and sets the global pointers; StartUp adds the file-name matcher (pzMatch). The
// destructor frees them in the reverse order (the matcher first; the project writes its history
// file, the product information its store) and clears the pointers. Only one may exist at a
// time.
class TpzProcess {
public:
    TpzProcess(const QString& exeName, const QString& firstParam);
    ~TpzProcess();
    TpzProcess(const TpzProcess&) = delete;
    TpzProcess& operator=(const TpzProcess&) = delete;

    // The product's start-up step: fills the product constants of the project, sets the
    // application name to the title, switches on the leaving-out of "~$" owner files, reads the
    // command line and loads the start-up project, then creates the file-name matcher. False
    // when the command line asked for a notice (-I, -U) and the process is to end now (no
    // matcher is created then).
    bool StartUp();

    // The run-mode decision: console when the project's PureConsole is true and its Source holds
    // no "http"; window otherwise.
    static bool IsConsoleRun();

private:
    void FreeAll();

    std::unique_ptr<TpzMatchBase> FMatch;
};
