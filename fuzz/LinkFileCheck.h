// The server link file's round trip, shared by the client-file targets: the
// bag read back from the link file's XML holds the same three texts as the
// bag that was written (less what XML cannot hold), and its two flags as the
// updater sets them.
#pragma once

#include "fuzz/FuzzSupport.h"
#include "updater/UpdaterClientKeys.h"
#include "values/VValueBag.h"

namespace qelt::fuzz {

// The text as XML can hold it: characters XML 1.0 has no place for (control
// characters other than tab, line feed and carriage return, lone surrogates,
// U+FFFE and U+FFFF) are left out by the writer.
inline VString XMLHoldable(const VString& inText)
{
    VString kept;
    const int n = inText.GetLength();
    for (int i = 1; i <= n; ++i) {
        const UniChar c = inText.GetUniChar(i);
        const bool high = c >= 0xD800 && c <= 0xDBFF;
        const UniChar next = i < n ? inText.GetUniChar(i + 1) : 0;
        if (high && next >= 0xDC00 && next <= 0xDFFF) {
            kept.AppendUniChar(c);
            kept.AppendUniChar(next);
            ++i;
        } else if (c == 9 || c == 10 || c == 13 || (c >= 0x20 && c <= 0xD7FF) || (c >= 0xE000 && c <= 0xFFFD)) {
            kept.AppendUniChar(c);
        }
    }
    return kept;
}

inline void CheckLinkBagReadsBack(const VValueBag& inWritten, const VValueBag& inRead)
{
    using namespace StartupParametersBagKeys;
    for (const StBagKeyNoDefault<VString, VString>* key : {&server_database_name, &server_path, &cache_folder_name})
        Check(XMLHoldable(key->Get(inWritten)).EqualToStringRaw(key->Get(inRead)),
              "a text attribute reads back the same");
    VString remote, shared;
    inRead.GetAttribute(is_remote, remote);
    inRead.GetAttribute(remote_shared_resources, shared);
    Check(remote.EqualToStringRaw(VString("true")) && shared.EqualToStringRaw(VString("false")),
          "the two flags read back");
}

}  // namespace qelt::fuzz
