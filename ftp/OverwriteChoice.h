#pragma once
// What to do when the target of a transfer already exists: the comparison class a file
// pair falls into (remembered decisions are kept per class) and the automatic choice.

#include <cstdint>
#include <string>

enum OverwriteAction : int {
    OVERWRITE_UNDECIDED = -1,
    OVERWRITE_SKIP = 0,
    OVERWRITE_RESUME = 1,
    OVERWRITE_OVERWRITE = 2,
    OVERWRITE_AUTO = 3,
};

enum TransferDirection : int {
    DIRECTION_DOWNLOAD = 0,
    DIRECTION_UPLOAD = 1,
};

inline constexpr int OVERWRITE_CLASS_COUNT = 18;

// Size and modification time of the two sides of a transfer. Times in seconds since
// 1970; sizes in bytes, whole 64-bit values so that files past 4 GiB compare correctly.
struct CFilePairFacts {
    std::uint64_t localSize = 0;
    std::int64_t localTime = 0;
    std::uint64_t remoteSize = 0;
    std::int64_t remoteTime = 0;
};

// The comparison class: direction * 9 + (size relation + 1) * 3 + (time relation + 1),
// each relation the sign of source minus target (remote minus local for a download).
int OverwriteClass(int direction, const CFilePairFacts& facts);

// The Auto table: a newer source overwrites, an older one is skipped; at equal times a
// bigger source resumes, an equal one is skipped and a smaller one overwrites.
int AutoOverwriteAction(int direction, const CFilePairFacts& facts);

// The action the "DefaultOverwriteAction" setting gives: the setting itself unless it is
// Auto, then the Auto table.
int ChooseOverwriteAction(int defaultSetting, int direction, const CFilePairFacts& facts);

// Why a pair that is skipped may be left alone, as said to the user: "target is newer"
// (the source is older), "same size and time", or empty when the comparison gives no
// reason to skip (a skip then came from the user's or the setting's choice).
std::string SkipReason(int direction, const CFilePairFacts& facts);

// What the overwrite confirmation shows.
struct COverwriteRequest {
    std::string sourceFile;
    std::string targetFile;
    int autoAction = OVERWRITE_OVERWRITE;
    int suggestedAction = OVERWRITE_OVERWRITE;
    bool canResume = false;
};
