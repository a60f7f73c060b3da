#include "ftp/OverwriteChoice.h"

namespace {

template <typename T>
int Sign(T a, T b)
{
    return a < b ? -1 : (a > b ? 1 : 0);
}

// Relations as seen from the source of the transfer: positive means the source is
// bigger or newer.
int SizeRelation(int direction, const CFilePairFacts& f)
{
    return direction == DIRECTION_UPLOAD ? Sign(f.localSize, f.remoteSize)
                                         : Sign(f.remoteSize, f.localSize);
}

int TimeRelation(int direction, const CFilePairFacts& f)
{
    return direction == DIRECTION_UPLOAD ? Sign(f.localTime, f.remoteTime)
                                         : Sign(f.remoteTime, f.localTime);
}

}  // namespace

int OverwriteClass(int direction, const CFilePairFacts& facts)
{
    return direction * 9 + (SizeRelation(direction, facts) + 1) * 3 +
           (TimeRelation(direction, facts) + 1);
}

int AutoOverwriteAction(int direction, const CFilePairFacts& facts)
{
    int time = TimeRelation(direction, facts);
    if (time < 0)
        return OVERWRITE_SKIP;
    if (time > 0)
        return OVERWRITE_OVERWRITE;
    int size = SizeRelation(direction, facts);
    if (size < 0)
        return OVERWRITE_OVERWRITE;
    return size == 0 ? OVERWRITE_SKIP : OVERWRITE_RESUME;
}

int ChooseOverwriteAction(int defaultSetting, int direction, const CFilePairFacts& facts)
{
    if (defaultSetting != OVERWRITE_AUTO)
        return defaultSetting;
    return AutoOverwriteAction(direction, facts);
}

std::string SkipReason(int direction, const CFilePairFacts& facts)
{
    const int time = TimeRelation(direction, facts);
    if (time < 0)
        return "target is newer";
    if (time == 0 && SizeRelation(direction, facts) == 0)
        return "same size and time";
    return {};
}
