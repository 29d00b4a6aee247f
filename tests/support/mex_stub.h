#pragma once
#include <string>
namespace mexstub {
// Everything printed with mexPrintf since the last clear.
std::string &printed();
} // namespace mexstub
