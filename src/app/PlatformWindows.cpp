#include <objbase.h>
#include <werapi.h>
#include <windows.h>

#include <QProcess>

#include "app/Platform.h"

namespace marvesa::platform {

void initializeComponentRuntime() {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
}

void disableCrashDumps() {
    // No "the program stopped working" box with its report, and no report
    // (with a dump of the memory) sent or kept by Windows Error Reporting.
    SetErrorMode(GetErrorMode() | SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
    WerSetFlags(WER_FAULT_REPORTING_NO_UI);
    wchar_t path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    if (length > 0 && length < MAX_PATH) {
        const wchar_t* name = path;
        for (const wchar_t* p = path; *p; ++p) {
            if (*p == L'\\' || *p == L'/')
                name = p + 1;
        }
        WerAddExcludedApplication(name, FALSE);
    }
}

QString runInPlace(const QString& program, const QString& workingFolder) {
    if (QProcess::startDetached(program, {}, workingFolder))
        return QString();
    return QStringLiteral("il programma non si avvia");
}

}  // namespace marvesa::platform
