// The publishing and the mirroring side of remote progress.
#include "runtime/VProgressIndicator.h"
#include "runtime/VRemoteProgressSessionInfo.h"

namespace qelt {

bool VProgressIndicator::GetProgressInfo(VRemoteProgressSessionInfo& out, VRemoteProgressSessionInfo* previous) const
{
    if (!fLock.TryToLock())
        return false;
    out.fFlags = 0;
    if (previous == nullptr) {
        out.fUserAbort = fUserAbort != 0;
        out.fCanInterrupt = fCanInterrupt;
        out.fFlags |= kRemoteUserAbort | kRemoteCanInterrupt;
        out.FromProgressInfo(&fCurrent, &fStack, fSessionCount, static_cast<unsigned int>(fChangesCounter),
                             static_cast<unsigned int>(fSessionVersion),
                             static_cast<unsigned int>(fMirroredSessionVersion));
        fLock.Unlock();
        return true;
    }
    if (previous->fChangesVersion == fChangesCounter) {
        fLock.Unlock();
        return false;
    }
    if ((fUserAbort != 0) != previous->fUserAbort) {
        out.fUserAbort = fUserAbort != 0;
        out.fFlags |= kRemoteUserAbort;
    }
    if (fCanInterrupt != previous->fCanInterrupt) {
        out.fCanInterrupt = fCanInterrupt;
        out.fFlags |= kRemoteCanInterrupt;
    }
    // Another session in the innermost place shows as another start time.
    bool wholeChain = fSessionCount != previous->fSessionCount;
    if (!wholeChain && fSessionCount > 0)
        wholeChain = previous->fSessionStack.empty() ||
                     previous->fSessionStack.back().fStartTime != fCurrent.fStartTime;
    out.FromProgressInfo(&fCurrent, wholeChain ? &fStack : nullptr, fSessionCount,
                         static_cast<unsigned int>(fChangesCounter), static_cast<unsigned int>(fSessionVersion),
                         static_cast<unsigned int>(fMirroredSessionVersion));
    fLock.Unlock();
    return true;
}

void VProgressIndicator::_OpenMirroredChain(const VRemoteProgressSessionInfo& remote)
{
    for (const VProgressIndicatorInfo& record : remote.fSessionStack) {
        if (fSessionCount > 0)
            fStack.push_back(fCurrent);
        fCurrent = record;
        ++fSessionCount;
        DoBeginSession(fSessionCount);
    }
}

bool VProgressIndicator::UpdateFromRemoteInfo(const VRemoteProgressSessionInfo& remote)
{
    StLocker locker(&fLock);
    const bool currentOnly = (remote.fFlags & kRemoteCurrentOnly) != 0;
    const bool wholeChain = !currentOnly && (remote.fFlags & kRemoteWholeChain) != 0;
    // The info comes from another process: a count that cannot be true of
    // the chain it carries is ignored, so that the mirrored records always
    // match the session count.
    if (remote.fSessionCount < 0)
        return true;
    if (wholeChain && remote.fSessionCount > 0 &&
        static_cast<size_t>(remote.fSessionCount) != remote.fSessionStack.size())
        return true;

    if ((remote.fFlags & kRemoteUserAbort) && fUserAbort == 0)
        fUserAbort = remote.fUserAbort ? 1 : 0;
    if (remote.fFlags & kRemoteCanInterrupt)
        fCanInterrupt = remote.fCanInterrupt;

    if (fMirroring == 0) {
        if (remote.fSessionCount != 0 && wholeChain) {
            fMirroring = 1;
            fBaseLevel = fSessionCount;
            if (fSessionCount == 0)
                fSessionVersion = remote.fSessionVersion;
            fMirroredSessionVersion = remote.fSessionVersion;
            fChangesCounter = remote.fChangesVersion;
            _OpenMirroredChain(remote);
        }
        return true;
    }
    if (remote.fSessionCount == 0) {
        _CloseDownToBaseLevel();
        fMirroring = 0;
        return true;
    }
    if (fBaseLevel == 0 || remote.fMasterSessionVersion == fSessionVersion) {
        if (currentOnly) {
            if (!remote.fSessionStack.empty() && fChangesCounter != remote.fChangesVersion) {
                fCurrent.UpdateFromRemoteInfo(remote.fSessionStack.back(), remote.fCurrentUpdateFlags);
                fChangesCounter = remote.fChangesVersion;
            }
        } else if (wholeChain) {
            const size_t mirrored = static_cast<size_t>(fSessionCount - fBaseLevel);
            if (remote.fSessionVersion != fMirroredSessionVersion || mirrored != remote.fSessionStack.size()) {
                // A new remote run, or a chain of another depth: rebuild.
                // The mirrored version follows the remote run, and so does
                // the own version when there are no own sessions below.
                _CloseDownToBaseLevel();
                fMirroredSessionVersion = remote.fSessionVersion;
                if (fBaseLevel == 0)
                    fSessionVersion = remote.fSessionVersion;
                fChangesCounter = remote.fChangesVersion;
                _OpenMirroredChain(remote);
            } else if (fChangesCounter != remote.fChangesVersion) {
                fCurrent = remote.fSessionStack.back();
                for (size_t i = 0; i + 1 < remote.fSessionStack.size(); ++i)
                    fStack[static_cast<size_t>(fBaseLevel) + i] = remote.fSessionStack[i];
                fChangesCounter = remote.fChangesVersion;
            }
        }
        return true;
    }
    _CloseDownToBaseLevel();
    fMirroring = 0;
    return true;
}

void VProgressIndicator::_CloseRemoteSession()
{
    StLocker locker(&fLock);
    if (fMirroring != 0)
        _CloseDownToBaseLevel();
    fMirroring = 0;
}

void VProgressIndicator::_CleanRemoteSession()
{
    StLocker locker(&fLock);
    if (fMirroring != 0)
        _CloseDownToBaseLevel();
}

}  // namespace qelt
