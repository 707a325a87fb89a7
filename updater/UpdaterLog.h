// The updater's logging front end and its errors with path parameters.
//
// Log records go to the process logger as value bags with "message", "level"
// (left out for info) and "component_signature" 'VqUP'; the file logger of
// the run writes them into the log file.
#pragma once

#include <cstdarg>

#include "files/VFilePath.h"
#include "kernel/VKernelTypes.h"
#include "runtime/ILogger.h"

namespace qelt {
class VErrorBase;
class VErrorContext;
class VString;
}  // namespace qelt

// The component signature of the updater's errors.
constexpr qelt::OsType kUpdaterSignature = qelt::FourCC("UPVq");
// The signature its log records carry.
constexpr qelt::OsType kUpdaterLogSignature = qelt::FourCC("VqUP");

constexpr qelt::VError UpdaterError(int inNumber) { return qelt::MakeVError(kUpdaterSignature, inNumber); }

constexpr qelt::VError VE_UPD_WAIT_FAILED = UpdaterError(1);
constexpr qelt::VError VE_UPD_UPTODATE_MISSING = UpdaterError(2);
constexpr qelt::VError VE_UPD_OUTDATED_MISSING = UpdaterError(3);
constexpr qelt::VError VE_UPD_COPY_FILE_FAILED = UpdaterError(8);
constexpr qelt::VError VE_UPD_RENAME_FAILED = UpdaterError(11);
constexpr qelt::VError VE_UPD_CANNOT_CREATE_PARENT = UpdaterError(12);
constexpr qelt::VError VE_UPD_INSTALL_COPY_FAILED = UpdaterError(13);
constexpr qelt::VError VE_UPD_SAME_OR_INSIDE = UpdaterError(14);
constexpr qelt::VError VE_UPD_BAD_CLIENT_INFO = UpdaterError(41);
constexpr qelt::VError VE_UPD_INSTALL_FAILED = UpdaterError(100);
constexpr qelt::VError VE_UPD_LOG_FAILED = UpdaterError(101);
constexpr qelt::VError VE_UPD_RELAUNCH_FAILED = UpdaterError(120);

void Log(qelt::EMessageLevel inLevel, const char* inFormat, va_list inArguments);
void LogError(const char* inFormat, ...);
void LogWarning(const char* inFormat, ...);
void LogInfo(const char* inFormat, ...);
void LogDebug(const char* inFormat, ...);

// Rewrites the error's path parameters ("path", "srcPath", "dstPath",
// "from", "to", "destination"), held in the toolbox's own form, as the POSIX
// paths a person wrote, for an error that is only reported from now on.
void ShowPathsAsPosix(qelt::VErrorBase* ioError);

// The error's text for a person: its localised description filled with its
// parameters; its generic text when it has none.
qelt::VString ReadableErrorText(const qelt::VErrorBase* inError);

// Logs each error of the context as an error (or, for the warning form, as a
// warning), newest first when asked, after showing its paths as POSIX paths.
void DumpErrorStack(const qelt::VErrorContext* inContext, bool inNewestFirst);
void DumpErrorStackAsWarnings(const qelt::VErrorContext* inContext);
void _LogError(const qelt::VErrorBase* inError);

// Raise the code (0 does nothing) with path parameters, in the toolbox's own
// path form, and return it.
qelt::VError ThrowErrorWithPath(qelt::VError inCode, const qelt::VFilePath& inPath);
qelt::VError ThrowErrorWithPaths(qelt::VError inCode, const qelt::VFilePath& inSource,
                                 const qelt::VFilePath& inDestination);
qelt::VError ThrowErrorWithPathsNamed(qelt::VError inCode, const char* inSourceName, const qelt::VFilePath& inSource,
                                      const char* inDestinationName, const qelt::VFilePath& inDestination);
qelt::VError ThrowServiceError(qelt::VError inCode, const qelt::VString& inServiceName);

// A modal notification titled "Debug" with the text; waits for the answer.
void DisplayMessage(const char* inText);
