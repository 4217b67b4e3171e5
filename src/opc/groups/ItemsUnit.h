// The item: a client's handle on one tag inside one group. It caches the tag's value, remembers what
// it last reported (for change detection) and builds the values that reads and callbacks return.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <cstdint>
#include <string>

#include "OPCDA.h"
#include "values/DataPoints.h"
#include "values/Scaling.h"
#include "values/TypedValue.h"

namespace tw::opc {

struct TOPCItemAttributes;

// Last-seen qualities no item ever carries: a new item, and an item after its group's activation.
constexpr WORD kQualityNeverSeen = 0xFFFF;
constexpr WORD kQualityForceReport = 0x40;

// Item server handles: the first one issued in the process is 2; shared by every group.
OPCHANDLE NextItemHandle();

// What reads and callbacks report of a cached value of a data type: the canonical value when the
// client asked for the canonical type (a UInt16's as VT_I4, as clients have always had it), else the
// value converted to the requested type (quality 0 after an overflow, no value after a failure).
// value must be initialised; what it held is released. Any thread.
void ReportedValue(uint64_t cached, TDataType type, VARTYPE requested, VARTYPE canonical, WORD& quality,
                   VARIANT& value, HRESULT& error);

class TOPCItem {
public:
    TOPCItem() = default;
    TOPCItem(const TOPCItem&) = default;
    TOPCItem& operator=(const TOPCItem&) = delete;
    virtual ~TOPCItem() = default;

    // The item does not point at its server object: a client may release the server before its
    // groups, so the group passes the server's last update time where a timestamp is needed.
    // What the update pass reads of every item on every pass comes first, within one cache line.
    WORD Quality = kQualityNotConnected;  // the data point's, as the last refresh took it
    WORD LastSeenQuality = kQualityNeverSeen;
    BOOL Active = FALSE;
    BOOL PendingChange = FALSE;
    uint64_t Value = 0;  // in the bits of DataType
    uint64_t LastSeenValue = 0;
    int32_t DataPointIndex = 0;
    OPCHANDLE ServerHandle = 0;
    // Position in the group's item list, kept current by the list.
    uint32_t Position = 0;
    OPCHANDLE ClientHandle = 0;
    BOOL Writable = TRUE;
    VARTYPE RequestedType = VT_UI2;
    VARTYPE CanonicalType = VT_UI2;
    TDataType DataType = TDataType::UInt16;  // of the raw value its data point holds
    std::string ItemID;
    // An analog item: clients see engineering values, in ReportedType.
    TScaling Scaling;

    void SetActive(BOOL flag);
    void SetRequestedType(VARTYPE vt);
    // Takes the data point's value and quality, as one; the point's version they belong to (0 when
    // the index names no point).
    uint32_t TakePoint();
    // TakePoint and NoteChange.
    bool Refresh();
    // Refresh, answering the version of the point taken. An analog item's change of value alone counts
    // only beyond percentDeadband of its range, from the value last seen.
    bool Refresh(uint32_t& version, float percentDeadband = 0.0f);
    // What clients see of Value: the engineering value of an analog item, else the value itself.
    TDataType ReportedType() const { return Scaling.Enabled ? ScaledType(DataType) : DataType; }
    uint64_t ReportedBits() const { return Scaling.Enabled ? ScaledBits(Scaling, Value, DataType) : Value; }
    bool TakeChanged();
    // value must be initialised; what it held is released.
    void GetValue(DWORD source, WORD& quality, VARIANT& value, HRESULT& error);
    // Refresh with what a read from the device obtained, then the value for a synchronous read,
    // stamped with the server's last update time.
    void ReadState(DWORD source, double lastUpdateTime, const TPointSample& sample, OPCITEMSTATE& state,
                   HRESULT& error);
    virtual void ReadForCallback(OPCHANDLE& clientHandle, VARIANT& value, bool updateLastSeen, HRESULT& error,
                                 WORD& quality);
    // Range-checks value and writes it to the tag's device, whose data point takes it when the device
    // (or simulation) did: S_OK; for a UInt16 DISP_E_OVERFLOW (below 0 or above 65535), for the other
    // data types OPC_E_RANGE (outside the type's range; an analog item's engineering value becomes the
    // nearest raw value first, clamped when its scaling clamps); OPC_E_BADTYPE (no number, objects and
    // records among them; nothing is written); or E_FAIL (the device did not take it: no answer, or an
    // exception answer).
    HRESULT StoreValue(const VARIANT& value) const;
    void FillAttributes(TOPCItemAttributes& record) const;
    // Copy for a cloned group: same settings, handles and cached values, but nothing pending and
    // never seen, so the copy reports at the clone's first due pass.
    TOPCItem CopyForClone() const;

private:
    void Take(const TPointSample& now);
    // True (and a pending change) when value or quality differ from what was last seen.
    bool NoteChange(float percentDeadband = 0.0f);
    // Whether an analog item's value stays within the deadband of the value last seen.
    bool WithinDeadband(float percentDeadband) const;
};

}  // namespace tw::opc
