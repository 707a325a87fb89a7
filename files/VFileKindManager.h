// The process-wide registry of file kinds: it caches kinds by identifier
// (public kinds are built from the platform's declarations on first demand,
// private ones are registered by the application) and finds a kind by
// extension or by platform type code. Its map is guarded by a lock, so any
// task may ask.
#pragma once

#include <map>
#include <vector>

#include "files/VFileKind.h"
#include "runtime/VCriticalSection.h"

namespace qelt {

class VFileKindManager : public VObject, public IRefCountable {
public:
    // Start-up and shut-down hooks of the process object.
    static bool Init();
    static void DeInit();
    // The manager between Init and DeInit; else null.
    static VFileKindManager* Get() { return sManager; }

    // The kind of that identifier (retained for the caller), built from the
    // platform's declarations and stored on first demand; null when none.
    VFileKind* RetainFileKind(const VString& inID);

    // Stores a private kind under inID, replacing any kind stored there.
    void RegisterPrivateFileKind(const VString& inID, const std::vector<VString>& inOsKinds,
                                 const VString& inDescription, const std::vector<VString>& inExtensions,
                                 const std::vector<VString>& inParentIDs);
    void RegisterPrivateFileKind(const VString& inID, const VString& inDescription,
                                 const std::vector<VString>& inExtensions, const std::vector<VString>& inParentIDs);

    // The first stored kind (in identifier order) with that extension, else
    // the platform's kind for it (stored unless its identifier is taken).
    VFileKind* RetainFirstFileKindMatchingWithExtension(const VString& inExtension);
    // The first stored kind with that type code, else the platform's (never stored).
    VFileKind* RetainFirstFileKindMatchingWithOsKind(const VString& inOsKind);

    // Texts of index 0 ("All") and 1 ("All readable documents"); other
    // indexes and empty texts change nothing, and reading them leaves out alone.
    void RegisterLocalizedString(long inIndex, const VString& inText);
    void GetLocalizedString(long inIndex, VString& outText) const;

    static VFileKindManager* sManager;

private:
    struct Less {
        bool operator()(const VString& a, const VString& b) const
        {
            return a.CompareToString(b, false) == CR_SMALLER;
        }
    };

    VFileKindManager();
    ~VFileKindManager() override;

    void _Store(const VString& inID, VFileKind* inKind);

    std::map<VString, VRefPtr<VFileKind>, Less> fKinds;
    VString fLocalized[2];
    mutable VCriticalSection fLock;
};

}  // namespace qelt
