#include "opc/groups/ItemsUnit.h"

#include <oleauto.h>

#include <cmath>
#include <optional>

#include "opc/OpcError.h"
#include "opc/ValueConvert.h"
#include "opc/groups/ItemAttributesOPC.h"
#include "values/DataPoints.h"
#include "tags/DeviceAccess.h"

namespace tw::opc {
namespace {

DWORD itemHandleCounter = 1;
constexpr LCID kUserDefaultLocale = 0x400;

// The tag's data point, or null when the index is outside the data points (they are freed at close).
TRealDataPoint* PointOf(int32_t index) {
    if (index < 0 || static_cast<std::size_t>(index) >= DataPoints.size()) return nullptr;
    return &DataPoints[static_cast<std::size_t>(index)];
}

}  // namespace

OPCHANDLE NextItemHandle() { return ++itemHandleCounter; }

void TOPCItem::SetActive(BOOL flag) { Active = flag; }

void TOPCItem::SetRequestedType(VARTYPE vt) { RequestedType = vt == VT_EMPTY ? CanonicalType : vt; }

// The update pass calls these for every active item every 10 ms: an item that has not changed is
// only read, never written, so an idle pass does not dirty the items' memory.
void TOPCItem::Take(const TPointSample& now) {
    if (now.Value != Value) Value = now.Value;
    if (now.Quality != Quality) Quality = now.Quality;
}

uint32_t TOPCItem::TakePoint() {
    uint32_t version = 0;
    if (const TRealDataPoint* point = PointOf(DataPointIndex)) Take(point->Sample(version));
    return version;
}

bool TOPCItem::Refresh() {
    TakePoint();
    return NoteChange();
}

bool TOPCItem::Refresh(uint32_t& version, float percentDeadband) {
    version = TakePoint();
    return NoteChange(percentDeadband);
}

bool TOPCItem::WithinDeadband(float percentDeadband) const {
    if (!Scaling.Enabled || percentDeadband <= 0.0f || Quality != LastSeenQuality) return false;
    const double band = percentDeadband / 100.0 * (Scaling.HighEu() - Scaling.LowEu());
    const TDataType type = ReportedType();
    // NaN compares false: a value that turns NaN, or leaves it, is always a change.
    return std::fabs(AsDouble(ScaledBits(Scaling, Value, DataType), type) -
                     AsDouble(ScaledBits(Scaling, LastSeenValue, DataType), type)) <= band;
}

bool TOPCItem::NoteChange(float percentDeadband) {
    // The last seen value stays what was last reported while the value moves within the deadband, so
    // that small steps add up to a change.
    const bool changed = (Value != LastSeenValue && !WithinDeadband(percentDeadband)) || Quality != LastSeenQuality;
    if (changed) {
        LastSeenValue = Value;
        LastSeenQuality = Quality;
        PendingChange = TRUE;
    }
    return changed;
}

bool TOPCItem::TakeChanged() {
    if (!PendingChange) return false;
    PendingChange = FALSE;
    return true;
}

void ReportedValue(uint64_t cached, TDataType type, VARTYPE requested, VARTYPE canonical, WORD& quality,
                   VARIANT& value, HRESULT& error) {
    error = S_OK;
    VARIANT native;
    if (type == TDataType::UInt16) {
        VariantInit(&native);
        native.vt = VT_I4;
        native.lVal = static_cast<LONG>(cached & 0xFFFF);
    } else {
        native = CanonicalVariant(cached, type);
    }
    VariantClear(&value);
    if (requested == canonical) {
        value = native;
        return;
    }
    ConvertVariant(native, requested, quality, value, error);
    if (FAILED(error)) VariantClear(&value);
}

void TOPCItem::GetValue(DWORD source, WORD& quality, VARIANT& value, HRESULT& error) {
    quality = source == OPC_DS_CACHE && !Active ? kQualityOutOfService : Quality;
    ReportedValue(ReportedBits(), ReportedType(), RequestedType, CanonicalType, quality, value, error);
}

void TOPCItem::ReadState(DWORD source, double lastUpdateTime, const TPointSample& sample, OPCITEMSTATE& state,
                         HRESULT& error) {
    Take(sample);
    NoteChange();
    GetValue(source, state.wQuality, state.vDataValue, error);
    state.hClient = ClientHandle;
    state.ftTimeStamp = LocalDateTimeToFileTime(lastUpdateTime);
}

void TOPCItem::ReadForCallback(OPCHANDLE& clientHandle, VARIANT& value, bool updateLastSeen, HRESULT& error,
                               WORD& quality) {
    error = S_OK;
    clientHandle = ClientHandle;
    GetValue(0, quality, value, error);
    if (updateLastSeen) {
        LastSeenQuality = Quality;
        LastSeenValue = Value;
    }
}

HRESULT TOPCItem::StoreValue(const VARIANT& value) const {
    // Objects and records are no numbers, and are not converted: converting an object calls into
    // the client from inside the write (which may then remove this very item), an object whose
    // value is itself again never converts at all, and under Wine converting a record leaks a copy.
    if (value.vt == VT_DISPATCH || value.vt == VT_UNKNOWN || value.vt == VT_RECORD) return OPC_E_BADTYPE;
    uint64_t bits = 0;
    if (Scaling.Enabled) {
        TValueBits eu = 0;
        const HRESULT checked = WrittenValue(value, TDataType::Float64, eu);
        if (FAILED(checked)) return checked;
        const double engineering = AsDouble(eu, TDataType::Float64);
        if (std::isnan(engineering) && !IsFloat(DataType)) return OPC_E_BADTYPE;
        const std::optional<TValueBits> raw = Scaling.ToRaw(engineering, DataType);
        if (!raw) return OPC_E_RANGE;
        bits = *raw;
    } else if (DataType == TDataType::UInt16) {
        // A 16-bit register keeps the checks clients have always had.
        // Compared as a number, so a text holding a decimal number counts as that number.
        VARIANT number;
        VariantInit(&number);
        if (FAILED(VariantChangeTypeEx(&number, const_cast<VARIANT*>(&value), kUserDefaultLocale, 0, VT_R8)) ||
            std::isnan(number.dblVal))
            return OPC_E_BADTYPE;
        if (number.dblVal < 0.0 || number.dblVal > 65535.0) return DISP_E_OVERFLOW;
        VARIANT integer;
        VariantInit(&integer);
        if (FAILED(VariantChangeTypeEx(&integer, &number, kUserDefaultLocale, 0, VT_I4))) return OPC_E_BADTYPE;
        bits = static_cast<uint64_t>(integer.lVal & 0xFFFF);
    } else {
        const HRESULT checked = WrittenValue(value, DataType, bits);
        if (FAILED(checked)) return checked;
    }
    const TWriteResult written = WriteTagToDevice(DataPointIndex, bits);
    return written == TWriteResult::Written || written == TWriteResult::Simulated ? S_OK : E_FAIL;
}

void TOPCItem::FillAttributes(TOPCItemAttributes& record) const {
    record.AccessPath.clear();
    record.ItemID = ItemID;
    record.Active = Active;
    record.ClientHandle = ClientHandle;
    record.ServerHandle = ServerHandle;
    record.AccessRights = AccessRightsOf(Writable);
    record.RequestedType = RequestedType;
    record.CanonicalType = CanonicalType;
    record.EUType = Scaling.Enabled ? OPC_ANALOG : OPC_NOENUM;
    record.EUInfo = 0;
    record.LowEU = Scaling.LowEu();
    record.HighEU = Scaling.HighEu();
}

TOPCItem TOPCItem::CopyForClone() const {
    TOPCItem copy(*this);
    copy.LastSeenQuality = kQualityNeverSeen;
    copy.PendingChange = FALSE;
    return copy;
}

}  // namespace tw::opc
