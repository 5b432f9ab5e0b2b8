#pragma once
// One row of the interface table from the IP helper's MIB_IF_ROW2.
#include "core/probes.h"
#include "core/windows/win_calls.h"

namespace koravex::win {

InterfaceRow interfaceRow(const MIB_IF_ROW2& row);

// The 0..5 status of the older interface table (NON_OPERATIONAL .. OPERATIONAL) from the
// administrative state, the RFC 2863 operational state and the media state, the same way
// the Linux backend reads its links: switched off or absent is non-operational, up is
// operational, dormant (waiting for authentication or a dial-up peer) is connecting, down
// and testing are disconnected (no cable, no carrier); an unknown state is operational
// while the medium is connected.
std::uint32_t operStatus(NET_IF_ADMIN_STATUS admin, IF_OPER_STATUS oper,
                         NET_IF_MEDIA_CONNECT_STATE media);

}  // namespace koravex::win
