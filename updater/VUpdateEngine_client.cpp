// Client customisation: the client-customisation file names the database
// server the updated client connects to; the updater writes it into the
// up-to-date bundle as the server link file, and makes sure the bundle's
// executable can be run.
#include <string>

#include "files/VFile.h"
#include "files/VFolder.h"
#include "json/VJSONObject.h"
#include "json/VJSONValue.h"
#include "kernel/StStringConverter.h"
#include "kernel/VBoolean.h"
#include "platform/PlatBundle.h"
#include "runtime/VErrorBase.h"
#include "runtime/VErrorContext.h"
#include "runtime/VTask.h"
#include "updater/UpdaterClientKeys.h"
#include "updater/UpdaterLog.h"
#include "updater/VUpdateEngine.h"
#include "values/VValueBag.h"
#include "xml/VXMLBagHandler.h"

using namespace qelt;

const VString BABuildInfoName("BuildName");
const VString BABuildInfoIPAdress("BuildIPAdress");
const VString BAServerCacheFolderName("ServerCacheFolderName");
const VString BABuildCacheFolderNameClient("BuildCacheFolderNameClient");
const VString BARemoteSharedResources("RemoteSharedResources");
const VString BABuildInfoIPPort("BuildIPPort");
const VString BABuildInfoComment("BuildComment");
const VString BABuildInfoCopyright("BuildCopyright");
const VString BABuildInfoLegalTRADEMARKS("BuildLegalTRADEMARKS");
const VString BABuildInfoPrivateBuild("BuildPrivateBuild");
const VString BABuildInfoVersion("BuildInfoVersion");
const VString BABuildInfoCompanyName("BuildCompanyName");
const VString BABuildInfoFileDescription("BuildFileDescription");
const VString BABuildInfoInternalName("BuildInternalName");
const VString BABuildHardLink("BuildHardLink");
const VString BABuildRangeVersMin("BuildRangeVersMin");
const VString BABuildRangeVersMax("BuildRangeVersMax");
const VString BABuildRangeVers("BuildCurrentVers");
const VString BABuildUserIconPath("BuildUserIconPath");
const VString BABuildCreator("BuildCreator");
const VString BABuildInfoSpecialBuild("BuildSpecialBuild");
const VString BABuildInfoPublishName("PublishName");
const VString BABuildIconName("Icon");
const VString BABuildIconFolder("IconFolder");
const VString BABuildOtherIconName("OtherIcon");
const VString BABuildOtherIconFolder("OtherIconFolder");
const VString BABuildServerPlatform("ServerPlatform");
const VString BADatabaseOutsidePackage("DatabaseOutsidePackage");
const VString BABuildDataFileConversionMode("DataFileConversionMode");
const VString BABuildMacOsCodeSigningEnabled("MacSignature");
const VString BABuildMacOsCodeSigningIdentity("MacCertificate");
const VString WIN_CUSTOM_ICON_PATH_PROPERTY_NAME("winIcon");

namespace StartupParametersBagKeys {
const StBagKeyNoDefault<VString, VString> database_shortcut("database_shortcut");
const StBagKeyNoDefault<bool, VBoolean> is_remote("is_remote");
const StBagKeyNoDefault<VString, VString> server_database_name("server_database_name");
const StBagKeyNoDefault<VString, VString> cache_folder_name("cache_folder_name");
const StBagKeyNoDefault<bool, VBoolean> remote_shared_resources("remote_shared_resources");
const StBagKeyNoDefault<VString, VString> server_path("server_path");
}  // namespace StartupParametersBagKeys

namespace {

// The member's text; false (text cleared) when it is missing or not a text.
bool GetTextMember(const VJSONObject& inObject, const VString& inName, VString& outText)
{
    outText.Clear();
    VJSONValue value = inObject.GetProperty(inName);
    if (!value.IsString())
        return false;
    value.GetString(outText);
    return true;
}

}  // namespace

bool VUpdateEngine::_FinishClientCustomization()
{
    StErrorContextInstaller errors(true, true);
    VJSONValue settings;
    VError loaded = VE_OK;
    {
        VRefPtr<VFile> file = AdoptRef(new VFile(fClientInfoFile));
        loaded = settings.LoadFromFile(file.Get(), false);
    }
    // A file that could not be read whole is not applied at all, even when
    // what was read before the fault makes an object: nothing is touched.
    VString platform;
    if (loaded != VE_OK || !errors.GetContext()->IsEmpty() || !settings.IsObject() ||
        !GetTextMember(*settings.GetObject(), BABuildServerPlatform, platform)) {
        VTask::PushRetainedError(new VErrorBase(VE_UPD_BAD_CLIENT_INFO));
        return false;
    }
    _SetIPAdressOnClientPref(*settings.GetObject(), fUpToDateApplication);
    _FinishMacClientCustomization(*settings.GetObject());
    return errors.GetContext()->IsEmpty();
}

bool VUpdateEngine::BuildServerLinkBag(const VJSONObject& inSettings, VValueBag& outBag)
{
    VString address, port, publishName, cacheFolderName;
    if (!GetTextMember(inSettings, BABuildInfoIPAdress, address))
        return false;
    VString serverPath(address);
    if (GetTextMember(inSettings, BABuildInfoIPPort, port))
        serverPath.AppendPrintf(":%S", &port);
    GetTextMember(inSettings, BABuildInfoPublishName, publishName);
    GetTextMember(inSettings, BABuildCacheFolderNameClient, cacheFolderName);

    StartupParametersBagKeys::is_remote.Set(outBag, true);
    StartupParametersBagKeys::server_database_name.Set(outBag, publishName);
    StartupParametersBagKeys::server_path.Set(outBag, serverPath);
    StartupParametersBagKeys::cache_folder_name.Set(outBag, cacheFolderName);
    StartupParametersBagKeys::remote_shared_resources.Set(outBag, false);
    return true;
}

void VUpdateEngine::_SetIPAdressOnClientPref(const VJSONObject& inSettings, const VFilePath& inBundlePath)
{
    VRefPtr<VValueBag> bag = AdoptRef(new VValueBag);
    if (!BuildServerLinkBag(inSettings, *bag))
        return;
    VFilePath folderPath(inBundlePath);
    folderPath.ToSubFolder(VString("Contents")).ToSubFolder(VString("Database"));
    VRefPtr<VFolder> folder = AdoptRef(new VFolder(folderPath));
    if (!folder->Exists())
        folder->CreateRecursive();
    VFilePath filePath(folderPath);
    filePath.ToSubFile(VString("ZovavorAvozuz.Vqlink"));
    VRefPtr<VFile> file = AdoptRef(new VFile(filePath));
    WriteBagToFileInXML(*bag, VString("database_shortcut"), file.Get(), false);
}

bool VUpdateEngine::_FinishMacClientCustomization(const VJSONObject&)
{
    StErrorContextInstaller errors(true, true);
    VString bundlePosix;
    fUpToDateApplication.GetPosixPath(bundlePosix);
    StStringConverter<char> bundleBytes(bundlePosix, VTC_UTF_8);
    std::string bundle(bundleBytes.GetCPointer(), bundleBytes.GetSize());
    std::string executable;
    // A bundle that names no executable has nothing to make runnable.
    if (!plat::GetBundleInfoValue(bundle, "CFBundleExecutable", executable) || executable.empty() ||
        executable.find('/') != std::string::npos)
        return true;
    VFilePath executablePath(fUpToDateApplication);
    VString name;
    name.FromBlock(executable.data(), executable.size(), VTC_UTF_8);
    executablePath.ToSubFolder(VString("Contents")).ToSubFolder(VString("MacOS")).ToSubFile(name);
    VRefPtr<VFile> file = AdoptRef(new VFile(executablePath));
    if (!file->Exists())
        return errors.GetContext()->IsEmpty();
    unsigned short mode = 0;
    if (file->MAC_GetPermissions(&mode) == 0 && (mode & 0111) != 0111)
        file->MAC_SetPermissions(static_cast<unsigned short>(mode | 0111));
    return errors.GetContext()->IsEmpty();
}
