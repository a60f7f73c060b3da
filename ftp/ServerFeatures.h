#pragma once
// What the server says it can do, from its FEAT reply: the machine-readable listing
// (MLSD/MLST and the facts it offers), UTF-8 names, the extended data-connection commands.
// The reply is server text: only lines of a sane length are read and only a bounded number
// of them; anything unknown is ignored.

#include <string>
#include <string_view>

struct ServerFeatures {
    bool known = false;       // the server answered FEAT with a feature list
    bool mlst = false;        // MLSD and MLST
    std::string mlstFacts;    // the facts after "MLST" as listed ("type*;size*;modify*;")
    bool utf8 = false;
    bool epsv = false;
    bool eprt = false;
    bool mdtm = false;
    bool size = false;
};

// The features of a complete FEAT reply ("211-..." lines, " FEATURE" lines, "211 End").
ServerFeatures ParseFeatReply(std::string_view replyText);

// The OPTS MLST argument asking for the facts a listing needs among those offered
// ("type;size;modify;unix.mode;"); empty when none of them is offered.
std::string WantedMlstFacts(std::string_view offeredFacts);
