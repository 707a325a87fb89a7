// The updater application: called by an outdated application with the path
// of its bundle, the path of an up-to-date bundle, its process id and a few
// options, it waits for the caller to quit, puts the up-to-date bundle in the
// outdated one's place (keeping the old one whole until the new one is in),
// relaunches the application, trashes the old bundle, and reports the outcome
// in its log file, by a notification and by its exit status:
//   0  the update ran without error (or the version or help was printed)
//   1  start-up failed: memory, toolbox, command line, signal before the run
//   2  the update ran and left an error
// Everything happens synchronously on the main task, inside the run hook.
#pragma once

#include <thread>

#include "files/VFilePath.h"
#include "kernel/VString.h"
#include "process/VProcessIPC.h"

namespace qelt {
class VCommandLineParser;
class VFolder;
class VJSONObject;
class VLocalizationManager;
class VLog4jMsgFileLogger;
}  // namespace qelt

class VUpdateEngine : public qelt::VProcessIPC {
public:
    VUpdateEngine();
    ~VUpdateEngine() override;

    // The process start-up, the command line and the signals, then the
    // localisation manager of the bundle's language: the XML library starts
    // on a helper thread now, and the manager loads the bundle's files once
    // the run's first log line is written (nothing is localised before).
    bool Init(unsigned int inFlags) override;

    // Whether the run hook started (a quit asked before it leaves it unrun).
    bool HasRunHookStarted() const { return fRunHookStarted; }

    // Fills outPath with the first free name beside inSource made of its
    // name without extension, "_<tag><4 digits>" (or the digits alone for an
    // empty tag) and its extension, counting from 1 to 9999. True when the
    // name found does not exist.
    static bool _ComputeTempFolderPath(const qelt::VFilePath& inSource, qelt::VFilePath& outPath,
                                       const qelt::VString& inTag);

    // The text that relaunches the application through the open tool.
    static qelt::VString BuildRelaunchCommand(const qelt::VFilePath& inInstallFolder,
                                              const qelt::VFilePath& inRestartParameters, bool inHeadless);

    // The five attributes of the server link file, from the settings object.
    // False when the settings have no "BuildIPAdress" text (nothing is written).
    static bool BuildServerLinkBag(const qelt::VJSONObject& inSettings, qelt::VValueBag& outBag);

protected:
    int DoParseCommandLine(qelt::VCommandLineParser& ioParser) override;
    void DoRun() override;
    void DoQuit() override;

private:
    bool _InitLocalizationManager();
    void _LoadLocalizationAfterFirstLine();
    bool _HelpersRunAlongside();
    void _StartXMLAhead();
    void _WaitForXMLAhead();
    void _PrepareTextFormatsAhead();
    void _WaitForTextFormats();
    bool _InitLog();
    void _DeInitLog();

    void _ApplyUpdate();
    bool _WaitForPidToQuit();
    qelt::VFolder* _SwapApplications(const qelt::VFolder& inOutdated, const qelt::VFolder& inUpToDate,
                                     const qelt::VFolder& inInstall);
    void _LaunchApplication(const qelt::VFilePath& inInstallPath);
    void _TrashOldApplication(qelt::VFolder& inOldApplication);

    bool _FinishClientCustomization();
    void _SetIPAdressOnClientPref(const qelt::VJSONObject& inSettings, const qelt::VFilePath& inBundlePath);
    bool _FinishMacClientCustomization(const qelt::VJSONObject& inSettings);

    void _LogProgressToCaller(const char* inToken, int inValue);

    qelt::VFilePath fLogFolder;
    qelt::VFilePath fClientInfoFile;
    qelt::VFilePath fOutdatedApplication;
    qelt::VFilePath fUpToDateApplication;
    qelt::VFilePath fInstallFolder;
    qelt::VLog4jMsgFileLogger* fFileLogger = nullptr;
    qelt::VLocalizationManager* fLocalizationManager = nullptr;
    int32_t fPid = -1;
    bool fProgressToCaller = false;
    bool fSilent = false;
    qelt::VFilePath fRestartParameters;
    bool fRestartHeadless = false;
    bool fRunHookStarted = false;
    // Makes the date formats of the log's first line while the start-up
    // ends; joined before that line.
    std::thread fTextFormatsAhead;
    // Starts the XML library (most of it is building its tables) while the
    // run writes its first log line; joined before the localisation files
    // load. The library stays started until the destructor when the thread
    // started it, so that the loading finds it ready.
    std::thread fXMLAhead;
    bool fXMLStartedAhead = false;
    bool fLocalizationPending = false;
    int fHelpersAlongside = -1;  // _HelpersRunAlongside's answer, once known
    bool fStartingUp = false;  // inside Init: the command-line hook may start the helpers
};

// The process's whole life: memory manager, start-up, run, exit status.
int _main();
