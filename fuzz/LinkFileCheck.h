// The server link file's round trip, shared by the client-file targets: the
// bag read back from the link file's XML holds the same three texts as the
// bag that was written, and its two flags as the updater sets them.
#pragma once

#include "fuzz/FuzzSupport.h"
#include "updater/UpdaterClientKeys.h"
#include "values/VValueBag.h"

namespace qelt::fuzz {

inline void CheckLinkBagReadsBack(const VValueBag& inWritten, const VValueBag& inRead)
{
    using namespace StartupParametersBagKeys;
    for (const StBagKeyNoDefault<VString, VString>* key : {&server_database_name, &server_path, &cache_folder_name})
        Check(key->Get(inWritten).EqualToStringRaw(key->Get(inRead)), "a text attribute reads back the same");
    VString remote, shared;
    inRead.GetAttribute(is_remote, remote);
    inRead.GetAttribute(remote_shared_resources, shared);
    Check(remote.EqualToStringRaw(VString("true")) && shared.EqualToStringRaw(VString("false")),
          "the two flags read back");
}

}  // namespace qelt::fuzz
