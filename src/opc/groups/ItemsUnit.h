// The item: a client's handle on one tag inside one group. It caches the tag's value, remembers what
// it last reported (for change detection) and builds the values that reads and callbacks return.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <cstdint>
#include <string>

#include "OPCDA.h"

namespace tw::opc {

struct TOPCItemAttributes;

constexpr WORD kQualityGood = 0xC0;
constexpr WORD kQualityBad = 0x00;
constexpr WORD kQualityOutOfService = 0x1C;
// Last-seen qualities no item ever carries: a new item, and an item after its group's activation.
constexpr WORD kQualityNeverSeen = 0xFFFF;
constexpr WORD kQualityForceReport = 0x40;

// Item server handles: the first one issued in the process is 2; shared by every group.
OPCHANDLE NextItemHandle();

class TOPCItem {
public:
    TOPCItem() = default;
    TOPCItem(const TOPCItem&) = default;
    TOPCItem& operator=(const TOPCItem&) = delete;
    virtual ~TOPCItem() = default;

    // The item does not point at its server object: a client may release the server before its
    // groups, so the group passes the server's last update time where a timestamp is needed.
    // What the update pass reads of every item on every pass comes first, within one cache line.
    WORD Quality = kQualityOutOfService;
    WORD LastSeenQuality = kQualityNeverSeen;
    BOOL Active = FALSE;
    BOOL PendingChange = FALSE;
    uint16_t Value = 0;
    uint16_t LastSeenValue = 0;
    int32_t DataPointIndex = 0;
    OPCHANDLE ServerHandle = 0;
    // Position in the group's item list, kept current by the list.
    uint32_t Position = 0;
    OPCHANDLE ClientHandle = 0;
    BOOL Writable = TRUE;
    VARTYPE RequestedType = VT_UI2;
    VARTYPE CanonicalType = VT_UI2;
    std::string ItemID;

    void SetActive(BOOL flag);
    void SetRequestedType(VARTYPE vt);
    // Takes the data point's value; true (and a pending change) when value or quality differ from
    // what was last seen.
    bool Refresh();
    bool TakeChanged();
    // value must be initialised; what it held is released.
    void GetValue(DWORD source, WORD& quality, VARIANT& value, HRESULT& error);
    // Refresh, then the value for a synchronous read, stamped with the server's last update time.
    void ReadState(DWORD source, double lastUpdateTime, OPCITEMSTATE& state, HRESULT& error);
    virtual void ReadForCallback(OPCHANDLE& clientHandle, VARIANT& value, bool updateLastSeen, HRESULT& error,
                                 WORD& quality);
    // Range-checks value and stores it in the data point: S_OK (stored holds the 16-bit value),
    // DISP_E_OVERFLOW (below 0 or above 65535), or OPC_E_BADTYPE (no number); nothing is stored on failure.
    HRESULT StoreValue(const VARIANT& value, uint16_t& stored) const;
    void FillAttributes(TOPCItemAttributes& record) const;
    // Copy for a cloned group: same settings, handles and cached values, but nothing pending and
    // never seen, so the copy reports at the clone's first due pass.
    TOPCItem CopyForClone() const;
};

}  // namespace tw::opc
