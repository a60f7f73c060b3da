#include "sites/PasswordEncoding.h"

#include "platform/HexDigit.h"

namespace {

unsigned char Scramble(unsigned char byte)
{
    const unsigned char complemented = static_cast<unsigned char>(~byte);
    return static_cast<unsigned char>((complemented << 4) | (complemented >> 4));
}

} // namespace

std::string EncodePassword(std::string_view password)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(password.size() * 2);
    for (char c : password) {
        const unsigned char v = Scramble(static_cast<unsigned char>(c));
        out += digits[v >> 4];
        out += digits[v & 0x0F];
    }
    return out;
}

std::string DecodePassword(std::string_view encoded)
{
    std::string out;
    const size_t pairs = encoded.size() / 2;
    out.reserve(pairs);
    for (size_t i = 0; i < pairs; ++i) {
        const int high = HexDigitValue(encoded[2 * i]);
        const int low = HexDigitValue(encoded[2 * i + 1]);
        // A pair whose first digit is not hex scans as 0; a bad second digit ends the
        // number after the first.
        unsigned value = 0;
        if (high >= 0)
            value = low >= 0 ? static_cast<unsigned>(high * 16 + low) : static_cast<unsigned>(high);
        // Scrambling is its own inverse: swap back, complement back.
        out += static_cast<char>(Scramble(static_cast<unsigned char>(value & 0xFF)));
    }
    return out;
}
