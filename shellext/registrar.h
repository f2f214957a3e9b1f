// A small registrar for registry scripts in the usual COM server syntax:
//
//   HKCR
//   {
//     NoRemove CLSID
//     {
//       ForceRemove {guid} = s 'Name'
//       {
//         InprocServer32 = s '%MODULE%'
//         {
//           val ThreadingModel = s 'Apartment'
//         }
//       }
//     }
//   }
//
// Keys are bare words or quoted with '...' ('' stands for a quote); a key may
// carry a default value "= s 'text'" or "= d number" and a block of subkeys;
// "val name = ..." sets a named value. On registering, every key is created
// and its values set; ForceRemove first deletes an existing key with all it
// holds, Delete only deletes. On unregistering, keys are deleted with all
// they hold, except NoRemove keys, which are only descended into.
// %NAME% is replaced from the given table before parsing (%% gives %).
#pragma once

#include <windows.h>

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace pravik {

using TRegistrarReplacements = std::vector<std::pair<std::string, std::string>>;

// Registers (true) or unregisters (false) what the script describes. Returns
// S_OK, the first registry failure as an HRESULT, or DISP_E_EXCEPTION for a
// script that does not parse (nothing is written then).
HRESULT RunRegistryScript(std::string_view script, const TRegistrarReplacements& replacements, bool doRegister);

}  // namespace pravik
