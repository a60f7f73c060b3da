#include "ftp/LineEnds.h"

void CCrLfToLf::Convert(const char* bytes, std::size_t count, std::string& out) {
    out.clear();
    out.reserve(count + 1);
    std::size_t at = 0;
    if (pendingCr_ && count > 0) {
        pendingCr_ = false;
        if (bytes[0] != '\n') out.push_back('\r');
    }
    for (; at < count; ++at) {
        const char byte = bytes[at];
        if (byte != '\r') {
            out.push_back(byte);
            continue;
        }
        if (at + 1 == count) {
            pendingCr_ = true;  // its LF may start the next piece
        } else if (bytes[at + 1] != '\n') {
            out.push_back('\r');
        }
    }
}

bool CCrLfToLf::Finish(char& last) {
    if (!pendingCr_) return false;
    pendingCr_ = false;
    last = '\r';
    return true;
}
