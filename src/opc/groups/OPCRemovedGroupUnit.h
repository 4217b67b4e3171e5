// What a destroyed group leaves in its server object, so that a RemoveGroup arriving after the
// client released the group still succeeds once.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace tw::opc {

class TOPCGroup;
using TGroupList = std::vector<TOPCGroup*>;

struct TOPCGroupRemoved {
    std::string Name;
    const TGroupList* OwnerList = nullptr;
    DWORD RemovalCount = 0;
    DWORD ServerHandle = 0;
};

}  // namespace tw::opc
