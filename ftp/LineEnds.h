#pragma once
// ASCII-mode downloads: the network's CR LF line ends become this system's LF. A CR at
// the end of one piece waits for the next piece, since its LF may arrive there; a CR
// that no LF follows is kept as it is.

#include <cstddef>
#include <string>

class CCrLfToLf {
public:
    // Replaces `out` with the piece's bytes, CR LF turned into LF.
    void Convert(const char* bytes, std::size_t count, std::string& out);
    // The end of the data: true, with the CR still waiting, when one is.
    bool Finish(char& last);
    void Reset() { pendingCr_ = false; }

private:
    bool pendingCr_ = false;
};
