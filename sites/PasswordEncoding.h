#pragma once
// The reversible password encoding of the site file and of "LastPassword": each byte
// complemented, its two halves swapped, written as two upper-case hex digits. It only
// keeps passwords from being read at a glance; it is no protection.

#include <string>
#include <string_view>

std::string EncodePassword(std::string_view password);
// A trailing odd character is ignored; pairs that are not hex decode to unspecified bytes.
std::string DecodePassword(std::string_view encoded);
