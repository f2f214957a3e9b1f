// Resource ids of PravikContext.dll, shared by the resource script and the code.
#pragma once

#define IDR_PRAVIKEXT 101        // registry script, type "REGISTRY"
#define IDB_MENUBITMAP 201       // the 13 x 13 menu picture
#define IDS_PROJNAME 100         // "PravikContext"
// The type library is TYPELIB resource 1, where LoadTypeLib looks for a module's first library.
