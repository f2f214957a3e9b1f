// The extension's fixed identifiers. Chosen once for the product: the shell
// finds the handler by the class id, and installed systems keep both in their
// registry, so they never change.
#pragma once

#include <windows.h>

namespace pravik {

// {DCD3A840-72BD-433F-8968-B7B171FC72A0}
inline constexpr CLSID CLSID_PravikExt = {
    0xDCD3A840, 0x72BD, 0x433F, {0x89, 0x68, 0xB7, 0xB1, 0x71, 0xFC, 0x72, 0xA0}};
// {74F2B423-EDEF-459D-A0C9-A6EA285CFB2A}
inline constexpr GUID LIBID_PRAVIKCONTEXTLib = {
    0x74F2B423, 0xEDEF, 0x459D, {0xA0, 0xC9, 0xA6, 0xEA, 0x28, 0x5C, 0xFB, 0x2A}};

inline constexpr char kPravikExtClsidText[] = "{DCD3A840-72BD-433F-8968-B7B171FC72A0}";
inline constexpr char kPravikContextLibidText[] = "{74F2B423-EDEF-459D-A0C9-A6EA285CFB2A}";

}  // namespace pravik
