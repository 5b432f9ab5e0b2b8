#include "core/windows/interface_rows.h"

#include "core/windows/wide_text.h"

namespace koravex::win {

std::uint32_t operStatus(NET_IF_ADMIN_STATUS admin, IF_OPER_STATUS oper,
                         NET_IF_MEDIA_CONNECT_STATE media) {
    constexpr std::uint32_t kNonOperational = 0, kDisconnected = 2, kConnecting = 3,
                            kOperational = 5;
    if (admin == NET_IF_ADMIN_STATUS_DOWN || oper == IfOperStatusNotPresent)
        return kNonOperational;
    switch (oper) {
        case IfOperStatusUp:
            return kOperational;
        case IfOperStatusDormant:
            return kConnecting;
        case IfOperStatusDown:
        case IfOperStatusLowerLayerDown:
        case IfOperStatusTesting:
            return kDisconnected;
        default:
            return media == MediaConnectStateConnected ? kOperational : kDisconnected;
    }
}

InterfaceRow interfaceRow(const MIB_IF_ROW2& row) {
    InterfaceRow out;
    out.index = row.InterfaceIndex;
    out.description = toUtf8(untilNul(row.Description, sizeof row.Description / sizeof(WCHAR)));
    out.type = row.Type;
    // The older table's speed is the sending one; all bits set means unknown.
    out.speed = row.TransmitLinkSpeed == ~ULONG64{0} ? 0 : row.TransmitLinkSpeed;
    out.operStatus = operStatus(row.AdminStatus, row.OperStatus, row.MediaConnectState);
    out.inOctets = row.InOctets;
    out.outOctets = row.OutOctets;
    return out;
}

}  // namespace koravex::win
