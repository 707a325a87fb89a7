// The names of the members of a client-customisation file, and the keys of
// the server link file's bag.
#pragma once

#include "kernel/VBoolean.h"
#include "kernel/VString.h"
#include "values/StBagKey.h"

extern const qelt::VString BABuildInfoName;
extern const qelt::VString BABuildInfoIPAdress;
extern const qelt::VString BAServerCacheFolderName;
extern const qelt::VString BABuildCacheFolderNameClient;
extern const qelt::VString BARemoteSharedResources;
extern const qelt::VString BABuildInfoIPPort;
extern const qelt::VString BABuildInfoComment;
extern const qelt::VString BABuildInfoCopyright;
extern const qelt::VString BABuildInfoLegalTRADEMARKS;
extern const qelt::VString BABuildInfoPrivateBuild;
extern const qelt::VString BABuildInfoVersion;
extern const qelt::VString BABuildInfoCompanyName;
extern const qelt::VString BABuildInfoFileDescription;
extern const qelt::VString BABuildInfoInternalName;
extern const qelt::VString BABuildHardLink;
extern const qelt::VString BABuildRangeVersMin;
extern const qelt::VString BABuildRangeVersMax;
extern const qelt::VString BABuildRangeVers;
extern const qelt::VString BABuildUserIconPath;
extern const qelt::VString BABuildCreator;
extern const qelt::VString BABuildInfoSpecialBuild;
extern const qelt::VString BABuildInfoPublishName;
extern const qelt::VString BABuildIconName;
extern const qelt::VString BABuildIconFolder;
extern const qelt::VString BABuildOtherIconName;
extern const qelt::VString BABuildOtherIconFolder;
extern const qelt::VString BABuildServerPlatform;
extern const qelt::VString BADatabaseOutsidePackage;
extern const qelt::VString BABuildDataFileConversionMode;
extern const qelt::VString BABuildMacOsCodeSigningEnabled;
extern const qelt::VString BABuildMacOsCodeSigningIdentity;
extern const qelt::VString WIN_CUSTOM_ICON_PATH_PROPERTY_NAME;

namespace StartupParametersBagKeys {
extern const qelt::StBagKeyNoDefault<qelt::VString, qelt::VString> database_shortcut;
extern const qelt::StBagKeyNoDefault<bool, qelt::VBoolean> is_remote;
extern const qelt::StBagKeyNoDefault<qelt::VString, qelt::VString> server_database_name;
extern const qelt::StBagKeyNoDefault<qelt::VString, qelt::VString> cache_folder_name;
extern const qelt::StBagKeyNoDefault<bool, qelt::VBoolean> remote_shared_resources;
extern const qelt::StBagKeyNoDefault<qelt::VString, qelt::VString> server_path;
}  // namespace StartupParametersBagKeys
